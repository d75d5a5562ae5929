#!/usr/bin/env bash
# Builds the Windows DLL of the LAN control library (tools/build-windows.sh), prepares Wine
# (tools/wine-env.sh) and runs its tests: lancontrol_wine_tests from the Linux build drives
# the DLL under Wine through velk-qentrix-probe.exe against peers on 127.0.0.1.
# Called by tools/test.sh; set VELK_SKIP_WINDOWS=1 there to leave it out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=${VELK_BUILD_DIR:-$root/build}
windows_build=${VELK_WINDOWS_BUILD_DIR:-$root/build-windows}

"$root/tools/build-windows.sh" >/dev/null
cmake --build "$linux_build" -j "${VELK_JOBS:-$(nproc)}" --target lancontrol_wine_tests
# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh" "${VELK_WINEPREFIX:-$windows_build/wineprefix}"

export VELK_WINDOWS_DLL=$windows_build/bin/Velk_Qentrix_Control.dll
export VELK_WINDOWS_PROBE=$windows_build/bin/velk-qentrix-probe.exe
echo "== LAN control library DLL under Wine ($(wine --version))"
status=0
"$linux_build/bin/lancontrol_wine_tests" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit $status
