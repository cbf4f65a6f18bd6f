#!/usr/bin/env bash
# Builds everything with warnings as errors (the ci preset), runs the whole
# test suite, builds and checks the Debian package, then the protocol, common,
# device, core and update tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for QUVO_FUZZ_SECONDS
# (default 60) seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh ci
export QT_QPA_PLATFORM=offscreen
ctest --preset ci

echo "== Debian package =="
scripts/package.sh
scripts/check-package.sh

echo "== protocol, common, device, core and update tests under ASan and UBSan =="
# The receive path, the settings store and the core are what a peer or a
# stored file can reach; they run again with the sanitizers, failing on any report.
SAN_TESTS="protocol;common;device;core;update"
cmake --preset asan -DQUVO_ONLY_BASE=OFF "-DQUVO_TEST_DIRS=$SAN_TESTS"
cmake --build --preset asan -j2 --target protocol_tests common_tests device_tests core_tests \
  receiver_property_tests receivers_tests update_tests
# The preset runs them one at a time (the device tests measure timer phases)
# and fails on any sanitizer report.
ctest --preset asan

echo "== fuzz targets, ${QUVO_FUZZ_SECONDS:-60} s each =="
# The stream reader and the dispatcher on whatever a server may send; any
# finding (crash, sanitizer report, broken property) fails the run and leaves
# its input in build-fuzz/.
cmake --preset fuzz
cmake --build --preset fuzz -j2 --target fuzz_stream fuzz_dispatch
for target in stream dispatch; do
  work=$(mktemp -d)
  build-fuzz/bin/fuzz_$target -max_total_time="${QUVO_FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict=fuzz/quvo.dict -artifact_prefix=build-fuzz/ "$work" fuzz/corpus/$target
  rm -rf "$work"
done
