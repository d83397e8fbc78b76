#!/usr/bin/env bash
# Compiles the host layer, the nodes, the extension and the C interface to one standalone
# WebAssembly module with Debian's emscripten, and lays out the site next to it.
# Usage: web/build.sh OUT_DIR SETTINGS_JSON
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
settings=$2
mkdir -p "$out"
sources=(
  "$root"/host/src/*.cpp
  "$root"/nodes/src/*.cpp
  "$root"/extension/src/*.cpp
  "$root"/web/src/WebEffects.cpp
)
version=$(sed -n 's/^project(OrvaneAudioEffects VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir -p "$out/generated/orvane/audioeffects"
sed -e "s/@PROJECT_VERSION@/$version/g" \
    -e "s/@PROJECT_VERSION_MAJOR@/${version%%.*}/g" \
    -e "s/@PROJECT_VERSION_MINOR@/$(echo "$version" | cut -d. -f2)/g" \
    -e "s/@PROJECT_VERSION_PATCH@/${version##*.}/g" \
    "$root/extension/include/orvane/audioeffects/Version.hpp.in" \
    > "$out/generated/orvane/audioeffects/Version.hpp"
# Two builds of the same sources, with the same flags as the native build where they matter
# to the samples (no fused multiply-add): orvane-effects.wasm with SIMD128, whose kernels run
# four frames at a time (nodes/src/Lanes.hpp), and orvane-effects-portable.wasm without, for
# browsers that have no SIMD. Both give the same floats.
build() {  # output, extra flags...
  local output=$1
  shift
  em++ -std=c++20 -O3 -ffp-contract=off -Wall -Wextra -Wpedantic "$@" \
    -I"$root/host/include" -I"$root/nodes/include" -I"$root/extension/include" -I"$root/nodes/src" \
    -I"$out/generated" \
    --no-entry -sSTANDALONE_WASM=1 -sINITIAL_MEMORY=16777216 \
    -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=1073741824 -sABORTING_MALLOC=0 \
    -sEXPORTED_FUNCTIONS=_oe_create,_oe_destroy,_oe_channel,_oe_setting_count,_oe_set,_oe_get,_oe_reach,_oe_process,_oe_process_range,_malloc,_free \
    "${sources[@]}" -o "$out/generated/$output"
  mv "$out/generated/$output" "$out/$output"
}
build orvane-effects.wasm -msimd128
build orvane-effects-portable.wasm
cp "$root"/web/site/* "$out/"
cp "$settings" "$out/effect-settings.json"
# The same description as a module, for the page's modules.
{ printf 'export default '; cat "$settings"; printf ';\n'; } > "$out/effect-settings.js"
# The page runs its chains through the npm package, laid out beside it as a user would.
node "$root/web/package/build.mjs" "$out" "$out/orvane-audioeffects" "$version"
