#!/usr/bin/env bash
# Configures a build folder with a CMake preset: configure-preset.sh PRESET [CMAKE ARGUMENTS].
# CMake keeps the compilers and the toolchain's initial flags from a folder's first configure,
# so a build folder made before the presets or toolchain files last changed would go on
# building with the old ones: such a folder is configured afresh (its cache made anew). The
# folder remembers the checksums of those files as they were at its last configure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=$1
shift
folder=$root/build/$preset
for ((i = 1; i <= $#; i++)); do
  [ "${!i}" = -B ] && { j=$((i + 1)); folder=${!j}; }
done
cd "$root"
inputs=$(sha256sum CMakePresets.json cmake/mingw-*.cmake)
stamp=$folder/configured-with.sha256
fresh=()
if [ -f "$folder/CMakeCache.txt" ] && [ "$(cat "$stamp" 2>/dev/null)" != "$inputs" ]; then
  fresh=(--fresh)
fi
cmake --preset "$preset" "${fresh[@]}" "$@"
printf '%s\n' "$inputs" >"$stamp"
