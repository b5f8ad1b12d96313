#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh             all tests in build/
#   scripts/test.sh --sanitize  unit tests built with ASan+UBSan in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--sanitize" ]; then
  BUILD_DIR=build-asan scripts/build.sh -DZELREP_SANITIZE=ON -DZELREP_BENCH=OFF -DZELREP_PROGRAMS=OFF
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -L unit -j"$(nproc)"
else
  scripts/build.sh
  ctest --test-dir build --output-on-failure -j"$(nproc)"
fi
