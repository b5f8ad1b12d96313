#!/usr/bin/env bash
# pass_test.sh - the Windows programs at work under wine: nsfdb.exe makes a
# sample directory and an instance, changes the directory (an add, a
# modify, a delete), and zelrep.exe, started on its own, publishes each
# change in its first pass; a second zelrep.exe for the same instance is
# refused while the first holds the instance's queue, and starts once the
# first has been killed; DEBUGBREAK (told through nserver.exe) and BREAK=ON
# reach DebugBreak.
#
#   tests/wine/pass_test.sh SOURCE_DIR BIN_DIR WINE_COMMAND...
set -euo pipefail
source_dir=$1 bin=$2
shift 2
wine_command=("$@")
data=$(mktemp -d "${TMPDIR:-/tmp}/zelrep-wine-XXXXXX")
task=
finish() {
    if [ -n "$task" ]; then kill "$task" 2>/dev/null || true; wait "$task" 2>/dev/null || true; fi
    rm -rf "$data"
}
trap finish EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# Windows programs end their lines with CR LF.
nsfdb() { "${wine_command[@]}" "$bin/nsfdb.exe" --data "Z:$data" "$@" | tr -d '\r'; }
cp "$source_dir/demo/filter.xml" "$data/filter.xml"

nsfdb sample names.nsf --people 50 --groups 5 --seed 7 >/dev/null
nsfdb instance zelrpcfg.nsf WINE --input names.nsf --output dirupd.nsf \
    --filter "Z:$data/filter.xml" --schedule 1 SECONDS >/dev/null
added=$(echo '{"items": {"Type": "Person", "FullName": ["CN=Wine Tester/O=Acme", "Wine Tester"],
                          "LastName": "Tester", "FirstName": "Wine", "ShortName": "wtester"}}' |
        nsfdb put names.nsf -)
modified=$(nsfdb find names.nsf Type=Group | head -n 1)
echo "{\"unid\": \"$modified\", \"items\": {\"Members\": [\"CN=Wine Tester/O=Acme\"]}}" | nsfdb put names.nsf - >/dev/null
deleted=$(nsfdb find names.nsf Type=Person | head -n 1)
nsfdb delete names.nsf "$deleted" >/dev/null

NOTES_DATA_DIR="Z:$data" "${wine_command[@]}" "$bin/zelrep.exe" WINE >"$data/task.out" 2>&1 &
task=$!
published=0
for _ in $(seq 1 120); do
    published=$(nsfdb dump dirupd.nsf 2>/dev/null | wc -l || true)
    [ "$published" -ge 3 ] && break
    sleep 0.5
done
[ "$published" -ge 3 ] || fail "the pass published $published documents; task output: $(cat "$data/task.out")"

dump=$(nsfdb dump dirupd.nsf)
for change in "$added" "$modified" "$deleted"; do
    grep -q "$change" <<<"$dump" || fail "no change document names $change: $dump"
done

second=$(NOTES_DATA_DIR="Z:$data" "${wine_command[@]}" "$bin/zelrep.exe" WINE 2>&1 || true)
grep -q "A message queue with that name already exists" <<<"$second" || fail "a second task for WINE was not refused: $second"

# A task that was killed leaves its queue's name free.
kill -KILL "$task"
wait "$task" 2>/dev/null || true
NOTES_DATA_DIR="Z:$data" "${wine_command[@]}" "$bin/zelrep.exe" WINE >"$data/again.out" 2>&1 &
task=$!
for _ in $(seq 1 60); do
    grep -q "Initialization Complete" "$data/again.out" && break
    sleep 0.5
done
grep -q "Initialization Complete" "$data/again.out" || fail "no task started after a kill: $(cat "$data/again.out")"

# DEBUGBREAK, told with nserver.exe (which, with no console running,
# delivers it to the task's queue itself), logs its line and breaks into
# the debugger; with none attached wine reports the breakpoint (0x80000003)
# and the task ends. BREAK=ON on the command line breaks the same way.
NOTES_DATA_DIR="Z:$data" "${wine_command[@]}" "$bin/nserver.exe" tell WINE DEBUGBREAK >/dev/null 2>&1 ||
    fail "nserver.exe could not tell the task DEBUGBREAK"
wait "$task" 2>/dev/null || true
task=
grep -q "WINE:  BREAK into debugger" "$data/again.out" || fail "DEBUGBREAK was not logged: $(cat "$data/again.out")"
grep -q "Unhandled exception 0x80000003" "$data/again.out" || fail "DEBUGBREAK did not break: $(cat "$data/again.out")"
broken=$(NOTES_DATA_DIR="Z:$data" "${wine_command[@]}" "$bin/zelrep.exe" BREAK=ON 2>&1 || true)
grep -q "Unhandled exception 0x80000003" <<<"$broken" || fail "BREAK=ON did not break: $broken"
echo "published $published change documents under wine"
