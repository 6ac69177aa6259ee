#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs every test suite: the default
# build (with the web console in headless Chromium), the same suites under AddressSanitizer +
# UndefinedBehaviorSanitizer (all but the media suites, which run GStreamer, and the browser
# suite: both run in the default build only), the suites whose code runs on several threads
# under ThreadSanitizer, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/deps.sh
# Each stage says when it starts, in seconds since the script began.
stage() { echo "=== $* (at ${SECONDS} s)"; }
vemo_install_deps
# The media suites (label "media") and the web console's browser test (label "browser") run in
# the default build only: their directories build and register them only when no sanitizer is on.
vemo_install_playwright build/node

# The camera device's worker, the proxy shared by threads, the host's services (the web
# console's among them) and the guest-driver emulation.
threaded=(device_tests connected_calls_tests guest_driver_tests camera_service_tests
          host_hgcm_test host_service_test host_faults_test host_ctl_test host_web_test)
fuzzers=(message packet host_message hgcm_channel)

# A build's tests leave the cores idle much of the time, waiting on hosts, clocks and time-outs:
# the next build runs beside them at the lowest priority, in a process group of its own, and
# takes only what the tests leave. Its output goes to build/PRESET.log, shown when it fails.
mkdir -p build
beside_pid=
beside_log=
build_beside() {
  beside_log="build/$1.log"
  setsid -w nice -n 19 bash -c 'cmake --preset "$1" >/dev/null && cmake --build --preset "$@"' \
    _ "$@" >"$beside_log" 2>&1 &
  beside_pid=$!
}
finish_beside() {
  if ! wait "$beside_pid"; then
    beside_pid=
    cat "$beside_log"
    echo "=== the build beside the tests failed: $beside_log"
    exit 1
  fi
  beside_pid=
  tail -n 1 "$beside_log"
}
# When a stage fails, a build still running beside it ends with the script.
trap '[ -z "$beside_pid" ] || kill -- "-$beside_pid" 2>/dev/null || true' EXIT

stage "default: configure and build"
cmake --preset default >/dev/null
cmake --build --preset default
stage "default: tests, the AddressSanitizer build beside them"
build_beside asan-ubsan
ctest --preset default
finish_beside

stage "asan-ubsan: tests, the ThreadSanitizer build of the threaded suites beside them"
build_beside tsan --target "${threaded[@]}" vemo-hostd camera_module
ctest --preset asan-ubsan
finish_beside

stage "tsan: tests, the fuzz targets' build beside them"
build_beside fuzz --target "${fuzzers[@]/#/fuzz_}"
pattern=$(IFS='|'; echo "${threaded[*]}")
ctest --preset tsan -R "^(${pattern})\."
finish_beside

stage "fuzz targets: a bounded run each"
for target in "${fuzzers[@]}"; do
  build/fuzz/bin/fuzz_${target} -runs=200000 -max_total_time=20 -max_len=4096 \
    -print_final_stats=1 2>&1 | grep -E "^Done|number_of_executed_units|peak_rss"
done
stage "all tests passed"
