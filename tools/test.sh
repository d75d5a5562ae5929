#!/usr/bin/env bash
# Sets up a machine, checks the formatting of the C++ sources (clang-format with the repo's
# .clang-format), builds with warnings as errors, and runs every test: the whole suite (windows
# offscreen), the Debian packages (lintian, an install test; skip with VELK_SKIP_PACKAGES=1),
# the Windows DLL of the LAN control library under Wine (skip with VELK_SKIP_WINDOWS=1), then
# the headless tests again under sanitizers (skip those with VELK_SKIP_SANITIZERS=1).
#   tools/test.sh --quick   builds and runs the suite only (no set-up, formatting check,
#                           packages, Wine or sanitizers): a developer's loop
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
case ${1:-} in
  --quick) quick=1 ;;
  "") ;;
  *)
    echo "usage: tools/test.sh [--quick]" >&2
    exit 2
    ;;
esac
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
build=${VELK_BUILD_DIR:-$root/build}
if [ $quick -eq 1 ]; then
  "$root/tools/build.sh"
  exec ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
fi

"$root/tools/setup.sh"
echo "== Formatting (clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -1))"
git -C "$root" ls-files -z '*.cpp' '*.h' | (cd "$root" && xargs -0 clang-format --dry-run --Werror)
export VELK_WARNINGS_AS_ERRORS=ON
"$root/tools/build.sh" -DVELK_WARNINGS_AS_ERRORS=ON
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
if [ "${VELK_SKIP_PACKAGES:-0}" != 1 ]; then
  "$root/tools/test-packages.sh"
fi
if [ "${VELK_SKIP_WINDOWS:-0}" != 1 ]; then
  "$root/tools/test-windows.sh"
fi
if [ "${VELK_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/tools/sanitizers.sh"
fi
