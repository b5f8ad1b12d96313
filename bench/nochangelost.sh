#!/usr/bin/env bash
# nochangelost.sh - the no-change-lost soak: one writer changes the directory
# at random (adds, modifies, renames, deletes) for SECONDS (default 60) while
# zelrep, loaded in nserver, publishes every second with check attributes and
# write timestamps on. When the writer stops and one more pass has run, every
# change must be covered by a change document or obituary published after it.
#
# Usage: bench/nochangelost.sh [SECONDS] [BUILD_DIR]
# Builds the programs it needs in BUILD_DIR (default build/), runs the
# integration test NoChangeLostTest with the duration given, and prints its
# figures. Exits nonzero when a change was lost.
set -euo pipefail
seconds="${1:-60}"
build="${2:-build}"
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target publish_test nserver nsfdb zelrep -j2 >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
ZELREP_NOCHANGELOST_SECONDS="$seconds" ZELREP_TEST_TIMEOUT_SCALE="${ZELREP_TEST_TIMEOUT_SCALE:-3}" \
    "$build/tests/publish_test" --gtest_filter='NoChangeLostTest.*'
