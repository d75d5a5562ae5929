#!/usr/bin/env bash
# Sets up a machine, builds, and starts Velk_VCP with the simulated gauges in build/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
cd "${VELK_BUILD_DIR:-$root/build}/bin"
# A first run gets settings that switch on the example gauges; later runs keep their own.
[ -e Velk_VCP.CFG ] || cp "$root/data/examples/Velk_VCP.CFG" .
exec ./Velk_VCP "$@"
