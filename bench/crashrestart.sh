#!/usr/bin/env bash
# crashrestart.sh - the crash and restart runs: zelrep, loaded in nserver,
# meets a fault at a random moment of a pass over a large change set, then
# runs again; the changes of each round (adds, modifies, deletes, each note
# touched once) are made before it is loaded. Three kinds of fault:
#   kill       the task is killed with SIGKILL and loaded again
#   powercut   nserver and the task are stopped and killed at once, and every
#              write not yet synced to disk is dropped (this process's own too,
#              made by a concurrent writer during the pass), as after a power
#              cut and a reboot; three of the first nine passes are migrations
#   diskfull   the task's writes find the disk full from a random write on for
#              a random run of writes, then there is space again; three of the
#              first nine passes are migrations
# After the last round one complete pass runs; then every change must be
# published at least once (and every note changed since the set-up, as the
# directory now holds it), and every output document must open with the
# items of its kind. Prints a table per kind: events, changes, published
# once, more than once, lost, damaged.
#
# Usage: bench/crashrestart.sh [KILLS] [CHANGES_PER_ROUND] [BUILD_DIR] [CUTS] [DISKFULLS]
# (defaults 24, 1000, build/, 200, 50). ZELREP_CRASH_SEED picks another
# sequence of fault points. Builds the programs it needs and runs the
# integration test CrashRestartTest with those figures; exits nonzero when a
# change was lost or a document damaged.
set -euo pipefail
kills="${1:-24}"
changes="${2:-1000}"
build="${3:-build}"
cuts="${4:-200}"
diskfulls="${5:-50}"
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target faults_test nserver nsfdb zelrep -j2 >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
ZELREP_CRASH_KILLS="$kills" ZELREP_CRASH_CUTS="$cuts" ZELREP_CRASH_DISKFULLS="$diskfulls" \
    ZELREP_CRASH_CHANGES="$changes" ZELREP_TEST_TIMEOUT_SCALE="${ZELREP_TEST_TIMEOUT_SCALE:-3}" \
    "$build/tests/faults_test" --gtest_filter='CrashRestartTest.EveryChange*'
