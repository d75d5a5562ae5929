#!/usr/bin/env bash
# Builds the LAN control library for Windows with MinGW-w64 (x86_64):
# build-windows/bin/Velk_Qentrix_Control.dll (with its import library
# build-windows/lib/Velk_Qentrix_Control.dll.a) and the test program velk-qentrix-probe.exe.
# Installs the packages of tools/packages.txt first when they are missing (tools/setup.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
build=${VELK_WINDOWS_BUILD_DIR:-$root/build-windows}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64-x86_64.cmake" \
  -DCMAKE_ARCHIVE_OUTPUT_DIRECTORY="$build/lib" \
  -DVELK_WARNINGS_AS_ERRORS="${VELK_WARNINGS_AS_ERRORS:-OFF}" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${VELK_JOBS:-$(nproc)}" --target Velk_Qentrix_Control velk-qentrix-probe velk-com-client
echo "$build/bin/Velk_Qentrix_Control.dll"
