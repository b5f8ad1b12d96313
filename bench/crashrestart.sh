#!/usr/bin/env bash
# crashrestart.sh - the crash and restart run: zelrep, loaded in nserver, is
# killed with SIGKILL at a random note of a pass over a large change set and
# loaded again, KILLS times; the changes of each round (adds, modifies,
# deletes, each note touched once) are made while it is down. After a last
# complete pass every change must be published at least once and every
# output document must open with the items of its kind. Prints the table:
# kills, changes, published once, published twice, lost, damaged.
#
# Usage: bench/crashrestart.sh [KILLS] [CHANGES_PER_ROUND] [BUILD_DIR]
# (defaults 24, 1000, build/). ZELREP_CRASH_SEED picks another sequence of
# kill points. Builds the programs it needs and runs the integration test
# CrashRestartTest with those figures; exits nonzero when a change was lost
# or a document damaged.
set -euo pipefail
kills="${1:-24}"
changes="${2:-1000}"
build="${3:-build}"
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target faults_test nserver nsfdb zelrep -j2 >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
ZELREP_CRASH_KILLS="$kills" ZELREP_CRASH_CHANGES="$changes" \
    ZELREP_TEST_TIMEOUT_SCALE="${ZELREP_TEST_TIMEOUT_SCALE:-3}" \
    "$build/tests/faults_test" --gtest_filter='CrashRestartTest.*'
