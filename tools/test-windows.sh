#!/usr/bin/env bash
# Builds the Windows programs (tools/build-windows.sh), prepares Wine (tools/wine-env.sh) and
# runs their tests in one Wine prefix: lancontrol_wine_tests from the Linux build drives the
# LAN control DLL under Wine through velk-qentrix-probe.exe against peers on 127.0.0.1;
# clients_wine_tests runs the serial client velk-com-client.exe through velk-wine against a
# port of Velk_VCP --headless.
# Called by tools/test.sh; set VELK_SKIP_WINDOWS=1 there to leave it out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=${VELK_BUILD_DIR:-$root/build}
windows_build=${VELK_WINDOWS_BUILD_DIR:-$root/build-windows}

"$root/tools/build-windows.sh" >/dev/null
cmake --build "$linux_build" -j "${VELK_JOBS:-$(nproc)}" --target lancontrol_wine_tests \
  clients_wine_tests
# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh" "${VELK_WINEPREFIX:-$windows_build/wineprefix}"

export VELK_WINDOWS_DLL=$windows_build/bin/Velk_Qentrix_Control.dll
export VELK_WINDOWS_PROBE=$windows_build/bin/velk-qentrix-probe.exe
export VELK_WINDOWS_COM_CLIENT=$windows_build/bin/velk-com-client.exe
# Runs a test program; one that a signal ends is named with the signal, and its status kept.
run_tests() {
  local result=0
  "$1" || result=$?
  if [ "$result" -gt 128 ]; then
    echo "test-windows: ${1##*/} was ended by signal $((result - 128))" >&2
  fi
  [ "$result" -eq 0 ] || status=$result
}
echo "== LAN control library DLL under Wine ($(wine --version))"
status=0
run_tests "$linux_build/bin/lancontrol_wine_tests"
echo "== Windows serial client under velk-wine"
run_tests "$linux_build/bin/clients_wine_tests"
wineserver -k >/dev/null 2>&1 || true
exit $status
