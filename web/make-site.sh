#!/usr/bin/env bash
# Lays out the web site in OUT_DIR from a native build: the WebAssembly module, the page, the
# settings' description the build exported, and the renderer's demo signal.
# Usage: web/make-site.sh NATIVE_BUILD_DIR OUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$1
out=$2
"$root/web/build.sh" "$out" "$native/effect-settings.json"
"$native/tools/orvane-fx" render -q -s demo -o "$out/demo.wav" Delay enabled=false
