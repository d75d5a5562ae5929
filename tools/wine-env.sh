#!/usr/bin/env bash
# Prepares Wine for running the project's Windows programs and exports its environment.
# Source it (". tools/wine-env.sh [PREFIX]") or run it with a command
# ("tools/wine-env.sh [--prefix PREFIX] -- wine program.exe ..."). The Wine prefix
# (default build-windows/wineprefix, or $VELK_WINEPREFIX) is created once with wineboot and
# reused by later runs; Wine's debug output is off, and no mono/gecko installers are asked for.
# Needs the packages of tools/packages.txt (wine, wine64).
velk_wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

velk_wine_prepare() {
  # Absolute: Wine refuses a relative prefix.
  WINEPREFIX=$(realpath -m "${1:-${VELK_WINEPREFIX:-$velk_wine_root/build-windows/wineprefix}}")
  export WINEPREFIX
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  unset DISPLAY WAYLAND_DISPLAY
  if ! command -v wine >/dev/null; then
    echo "wine-env: wine is not installed (tools/setup.sh installs it)" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/.velk-ready" ]; then
    mkdir -p "$WINEPREFIX"
    echo "wine-env: creating the Wine prefix $WINEPREFIX" >&2
    timeout 600 wineboot --init >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; return 1; }
    # wineboot returns before the prefix's services have ended and the server has written the
    # registry; a test started meanwhile finds a prefix half made (a fresh machine under load).
    timeout 600 wineserver -w >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.velk-ready"
  fi
  # Starts the server that later commands share, so they do not each start one, and waits
  # until a Windows program runs in the prefix.
  wineserver --persistent=60 >/dev/null 2>&1 || true
  local try
  for try in 1 2 3 4 5; do
    if timeout 120 wine cmd /c exit >/dev/null 2>&1; then return 0; fi
    echo "wine-env: Wine is not ready yet (try $try of 5)" >&2
    sleep 2
  done
  echo "wine-env: no Windows program runs in $WINEPREFIX" >&2
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  prefix=""
  if [ "${1:-}" = "--prefix" ]; then
    prefix=$2
    shift 2
  fi
  [ "${1:-}" = "--" ] && shift
  velk_wine_prepare "$prefix"
  if [ $# -gt 0 ]; then exec "$@"; fi
  echo "WINEPREFIX=$WINEPREFIX"
else
  velk_wine_prepare "${1:-}"
fi
