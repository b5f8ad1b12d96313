#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# a fixed time over its seed corpus. Fails on the first finding.
#   scripts/fuzz.sh [SECONDS]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
BUILD_DIR=build-fuzz CC=clang CXX=clang++ scripts/build.sh -DZELREP_FUZZ=ON -DZELREP_BENCH=OFF -DZELREP_PROGRAMS=OFF
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  seeds=tests/fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "== fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix=build-fuzz/ "$work" 2>&1 | tail -n 3
  rm -rf "$work"
done
