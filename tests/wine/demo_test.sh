#!/usr/bin/env bash
# demo_test.sh - the demo run by the Windows programs under wine (nserver.exe
# loading zelrep.exe, nsfdb.exe making the directory and its changes of
# every kind) publishes the same change documents as the demo run by the
# Linux programs: the output databases of both runs, read by the Linux
# nsfdb, are compared document by document and item by item, leaving out
# what differs from run to run (UNIDs, note times, $UpdatedBy) and naming
# each document's source note by the person's ShortName or the group's
# name that the migration published for it. The Windows nsfdb.exe must
# read its own output database as the Linux nsfdb does.
#
#   tests/wine/demo_test.sh SOURCE_DIR WINDOWS_BUILD_DIR LINUX_BUILD_DIR WINE_COMMAND...
set -euo pipefail
source_dir=$1 windows_build=$2 linux_build=$3
shift 3
wine_command="$*"
work=$(mktemp -d "${TMPDIR:-/tmp}/zelrep-wine-demo-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

[ -x "$linux_build/bin/nsfdb" ] || fail "the Linux programs are missing in $linux_build/bin (scripts/build.sh makes them)"

# run_demo NAME BUILD_DIR [WINE_COMMAND]: the demo with its data in $work/NAME.
run_demo() {
    DEMO_DATA=$work/$1 BUILD_DIR=$2 DEMO_WINE=${3:-} "$source_dir/demo/run.sh" --no-build >"$work/$1.out" 2>&1 ||
        fail "the demo run by the $1 programs failed: $(tail -n 20 "$work/$1.out")"
}

# The output database as the comparison reads it: one line a document,
# its items only, with the source note named and the run's own items left
# out, ordered by source (documents of one source stay in the order
# published; the order among sources follows the times of the changes,
# which differ between runs).
normalized() {
    "$linux_build/bin/nsfdb" --data "$work/$1" dump dirupd.nsf | awk '
        function text(item,    found) {
            if (!match($0, "\"" item "\":\\[?\"[^\"]*\"")) return ""
            found = substr($0, RSTART, RLENGTH)
            sub(/^"[^"]*":\[?"/, "", found)
            return substr(found, 1, length(found) - 1)
        }
        { line[NR] = $0 }
        /"Event":"ADD"/ { source[text("Source Note ID")] = text("ShortName") != "" ? text("ShortName") : text("NotesDN") }
        END {
            for (i = 1; i <= NR; i++) {
                $0 = line[i]
                unid = text("Source Note ID")
                name = unid in source ? source[unid] : "?"
                sub(/^\{"unid":"[0-9A-F]+","noteid":[0-9]+,"class":[0-9]+,"modified":"[^"]*","items":/, "")
                gsub(/,"\$(UpdatedBy|Revisions)":\[[^]]*\]/, "")
                sub("\"Source Note ID\":\"" unid "\"", "\"Source\":\"" name "\"")
                print name "\t" $0
            }
        }' | sort -s -t "$(printf '\t')" -k 1,1
}

run_demo linux "$linux_build"
run_demo windows "$windows_build" "$wine_command"

normalized linux >"$work/linux.docs"
normalized windows >"$work/windows.docs"
# The demo's pass publishes changes of every kind (a move shows as a
# rename); its migration, 2,100 ADD documents before them.
for event in MODIFY DELETE rename; do
    grep -q "\"Event\":\"$event\"" "$work/linux.docs" ||
        fail "the Linux demo's pass published no $event document"
done
[ "$(grep -c '"Event":"ADD"' "$work/linux.docs")" -gt 2100 ] || fail "the Linux demo's pass published no ADD document"
diff "$work/linux.docs" "$work/windows.docs" >"$work/diff" ||
    fail "the Windows demo published other documents than the Linux demo (< Linux, > Windows): $(head -n 20 "$work/diff")"

# The Windows nsfdb.exe reads its own output database as the Linux one does.
"${@}" "$windows_build/bin/nsfdb.exe" --data "Z:$work/windows" dump dirupd.nsf | tr -d '\r' >"$work/windows.read"
"$linux_build/bin/nsfdb" --data "$work/windows" dump dirupd.nsf >"$work/linux.read"
cmp -s "$work/windows.read" "$work/linux.read" || fail "nsfdb.exe reads the Windows output database otherwise than nsfdb"
echo "the Windows demo published the same $(wc -l <"$work/windows.docs") documents as the Linux demo"
