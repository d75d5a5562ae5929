#!/usr/bin/env bash
# Sets up a machine, builds, and runs every test: the whole suite (windows offscreen), the
# Debian packages (lintian, an install test; skip with VELK_SKIP_PACKAGES=1), the Windows DLL
# of the LAN control library under Wine (skip with VELK_SKIP_WINDOWS=1), then the headless
# tests again under sanitizers (skip those with VELK_SKIP_SANITIZERS=1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
ctest --test-dir "${VELK_BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)" --timeout 300
if [ "${VELK_SKIP_PACKAGES:-0}" != 1 ]; then
  "$root/tools/test-packages.sh"
fi
if [ "${VELK_SKIP_WINDOWS:-0}" != 1 ]; then
  "$root/tools/test-windows.sh"
fi
if [ "${VELK_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/tools/sanitizers.sh"
fi
