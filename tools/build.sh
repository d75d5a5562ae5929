#!/usr/bin/env bash
# Configures and builds the project into build/ (or $VELK_BUILD_DIR): everything, or only the
# targets named in $VELK_TARGETS (separated by blanks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${VELK_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
