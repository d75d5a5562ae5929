#!/usr/bin/env bash
# Runs the headless tests under sanitizers:
# - AddressSanitizer + UndefinedBehaviorSanitizer: every test that needs no window (engine,
#   settings, ports, device library, LAN control library, fuzz corpora), in build-asan;
# - ThreadSanitizer: the LAN control library, the simulated device library and the value
#   history (the parts with threads), in build-tsan; not the host-name tests, as ThreadSanitizer does not know
#   the C library's own look-up threads (getaddrinfo_a).
# Called by tools/test.sh; set VELK_SKIP_SANITIZERS=1 there to leave them out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VELK_JOBS:-$(nproc)}

configure() {
  local sanitizers=$1 build=$2
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELK_BUILD_GUI=OFF -DVELK_BUILD_TESTS=ON -DVELK_SANITIZE="$sanitizers" >/dev/null
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

asan=${VELK_ASAN_BUILD_DIR:-$root/build-asan}
echo "== Headless tests with -fsanitize=address,undefined in $asan"
configure address,undefined "$asan"
cmake --build "$asan" -j "$jobs"
ctest --test-dir "$asan" --output-on-failure -j "$jobs" --timeout 300

tsan=${VELK_TSAN_BUILD_DIR:-$root/build-tsan}
echo "== Threaded parts with -fsanitize=thread in $tsan"
configure thread "$tsan"
cmake --build "$tsan" -j "$jobs" --target \
  Velk_Qentrix_Control velk-qentrix velk-qentrix-peer lancontrol_tests lancontrol_internal_tests \
  lan_fault_tests velk_ddk_sim velk-ddk device_tests record_tests
ctest --test-dir "$tsan" -L 'lancontrol|device|record' --output-on-failure -j "$jobs" --timeout 300
