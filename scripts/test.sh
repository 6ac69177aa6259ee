#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs every test suite: the default
# build, then the same suites under AddressSanitizer + UndefinedBehaviorSanitizer, then a short
# run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/deps.sh
vemo_install_deps

for preset in default asan-ubsan; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== ${preset}: tests"
  ctest --preset "$preset"
done

echo "=== fuzz targets: a bounded run each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_message fuzz_packet fuzz_host_message fuzz_hgcm_channel
for target in message packet host_message hgcm_channel; do
  build/fuzz/bin/fuzz_${target} -runs=200000 -max_total_time=20 -max_len=4096 \
    -print_final_stats=1 2>&1 | tail -n 3
done
echo "=== all tests passed"
