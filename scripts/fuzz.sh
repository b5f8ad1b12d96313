#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# a fixed time over its seed corpus, as many at a time as there are cores.
# Fails when a target finds a fault.
#   scripts/fuzz.sh [SECONDS]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
BUILD_DIR=build-fuzz CC=clang CXX=clang++ scripts/build.sh -DZELREP_FUZZ=ON -DZELREP_BENCH=OFF -DZELREP_PROGRAMS=OFF
# Runs one target over a copy of its seeds; its output is printed whole
# once it ends, so that targets run side by side do not mix their lines.
fuzz_one() {
  local target=$1 name work status=0
  name=$(basename "$target" _fuzz)
  work=$(mktemp -d)
  [ -d "tests/fuzz/corpus/$name" ] && cp -r "tests/fuzz/corpus/$name"/. "$work"/
  "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix=build-fuzz/ "$work" \
    >"$work.log" 2>&1 || status=$?
  echo "== fuzzed $name for ${seconds}s"
  tail -n 3 "$work.log"
  rm -rf "$work" "$work.log"
  return "$status"
}
# As many targets at a time as there are cores.
pids=()
failed=0
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  fuzz_one "$target" &
  pids+=($!)
  if [ "${#pids[@]}" -ge "$(nproc)" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit "$failed"
