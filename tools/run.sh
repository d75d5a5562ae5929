#!/usr/bin/env bash
# Sets up a machine, builds what the program needs (the program with its icons, the device
# library, velk-ddk, velk-vcp-config, the client layer of velk-client and velk-wine, and the
# data files; no tests), and starts Velk_VCP with the simulated gauges in build/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
VELK_TARGETS="Velk_VCP velk_ddk_sim velk-ddk velk-vcp-config velk_client_layer velk_data" "$root/tools/build.sh"
cd "${VELK_BUILD_DIR:-$root/build}/bin"
# A first run gets settings that switch on the example gauges; later runs keep their own.
# Private (0600): the program writes the password into it.
[ -e Velk_VCP.CFG ] || install -m 600 "$root/data/examples/Velk_VCP.CFG" .
exec ./Velk_VCP "$@"
