#!/usr/bin/env bash
# Builds everything, runs the whole test suite, builds and checks the Debian
# package, then the protocol, common, device, core and update tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j2)

echo "== Debian package =="
scripts/package.sh
scripts/check-package.sh

echo "== protocol, common, device, core and update tests under ASan and UBSan =="
# The receive path, the settings store and the core are what a peer or a
# stored file can reach; they run again with the sanitizers, failing on any report.
SAN_TESTS="protocol;common;device;core;update"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUVO_SANITIZE=ON -DQUVO_ONLY_BASE=OFF -DQUVO_BENCH=OFF \
  "-DQUVO_TEST_DIRS=$SAN_TESTS" >/dev/null
cmake --build build-asan -j2 --target protocol_tests common_tests device_tests core_tests update_tests
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One at a time: the device tests measure timer phases.
(cd build-asan && ctest --output-on-failure -j1)
