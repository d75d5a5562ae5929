#!/usr/bin/env bash
# Builds the LAN control library, its tool and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan-lan) and with ThreadSanitizer (build-tsan-lan), and
# runs the tests labelled lancontrol in both. Only the LAN control targets are built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VELK_JOBS:-2}
targets=(Velk_Qentrix_Control velk-qentrix velk-qentrix-peer lancontrol_tests lancontrol_internal_tests)

run_with() {
  local sanitizers=$1 build=$2
  echo "== LAN control tests with -fsanitize=$sanitizers in $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELK_BUILD_GUI=OFF -DVELK_BUILD_TESTS=ON -DVELK_SANITIZE="$sanitizers" >/dev/null
  cmake --build "$build" -j "$jobs" --target "${targets[@]}"
  ctest --test-dir "$build" -L lancontrol --output-on-failure -j "$jobs" --timeout 180
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
run_with address,undefined "${VELK_ASAN_BUILD_DIR:-$root/build-asan-lan}"
run_with thread "${VELK_TSAN_BUILD_DIR:-$root/build-tsan-lan}"
