#!/usr/bin/env bash
# Sets up a machine, builds, and starts Velk_VCP with the simulated gauges in build/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
cd "${VELK_BUILD_DIR:-$root/build}/bin"
exec ./Velk_VCP "$@"
