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

for preset in default asan-ubsan; do
  stage "${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  stage "${preset}: tests"
  ctest --preset "$preset"
done

# The camera device's worker, the proxy shared by threads, the host's services (the web
# console's among them) and the guest-driver emulation.
threaded=(device_tests connected_calls_tests guest_driver_tests camera_service_tests
          host_hgcm_test host_service_test host_faults_test host_ctl_test host_web_test)
stage "tsan: configure and build the threaded suites"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target "${threaded[@]}" vemo-hostd camera_module
stage "tsan: tests"
pattern=$(IFS='|'; echo "${threaded[*]}")
ctest --preset tsan -R "^(${pattern})\."

stage "fuzz targets: a bounded run each"
fuzzers=(message packet host_message hgcm_channel)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${fuzzers[@]/#/fuzz_}"
for target in "${fuzzers[@]}"; do
  build/fuzz/bin/fuzz_${target} -runs=200000 -max_total_time=20 -max_len=4096 \
    -print_final_stats=1 2>&1 | grep -E "^Done|number_of_executed_units|peak_rss"
done
stage "all tests passed"
