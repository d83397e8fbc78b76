#!/usr/bin/env bash
# Builds the npm package @orvane/audioeffects from a built site (web/build.sh's output) into
# OUT_DIR/package, and packs it: OUT_DIR/orvane-audioeffects-X.Y.Z.tgz. Nothing is published.
# Usage: web/package/make-package.sh SITE_DIR OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
site=$1
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$(sed -n 's/^project(OrvaneAudioEffects VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
rm -f "$out"/orvane-audioeffects-*.tgz
node "$here/build.mjs" "$site" "$out/package" "$version"
(cd "$out/package" && npm pack --silent --pack-destination "$out" >/dev/null)
ls "$out"/orvane-audioeffects-"$version".tgz
