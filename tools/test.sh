#!/usr/bin/env bash
# Sets up a machine, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
cd "${VELK_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
ctest --output-on-failure -j "$(nproc)" --timeout 300
