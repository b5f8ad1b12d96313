#!/usr/bin/env bash
# A driver's reader of zelrep's output database, in the order the README's
# "Writing a driver" gives: read the change documents after the place kept
# in PLACE_FILE, hand each one on (here: print it, one JSON line), keep the
# new place, then delete what was handed on. It may be stopped at any
# moment: after a crash it starts from the place kept, so a document is
# handed on again at most once, and never lost.
#
#   demo/reader.sh OUTPUT_DB PLACE_FILE [ROUNDS [SECONDS]]
#
# ROUNDS rounds (default 1) SECONDS apart (default 2). The data directory is
# NOTES_DATA_DIR (else the current directory); NSFDB names the nsfdb
# program (default: build/bin/nsfdb of this repository).
set -euo pipefail

db=${1:?usage: reader.sh OUTPUT_DB PLACE_FILE [ROUNDS [SECONDS]]}
place_file=${2:?usage: reader.sh OUTPUT_DB PLACE_FILE [ROUNDS [SECONDS]]}
rounds=${3:-1}
seconds=${4:-2}
nsfdb=${NSFDB:-$(cd "$(dirname "$0")/.." && pwd)/build/bin/nsfdb}

# "NOTEID UNID" of each JSON line of nsfdb dump.
ids() { sed -E 's/^\{"unid":"([0-9A-F]{32})","noteid":([0-9]+),.*/\2 \1/'; }

place() { cat "$place_file" 2>/dev/null || echo 0; }

# Keeps the place in one step, so that a crash leaves the old or the new.
keep_place() {
  echo "$1" > "$place_file.new"
  mv "$place_file.new" "$place_file"
}

# Documents at or before the place were handed on already; deleting them
# again is safe, and finishes a round that stopped before its deletions.
delete_handled() {
  local last=$1 unids=()
  while read -r noteid unid; do
    [ "$noteid" -le "$last" ] && unids+=("$unid")
  done < <("$nsfdb" dump "$db" | ids)
  [ ${#unids[@]} -eq 0 ] || "$nsfdb" delete "$db" "${unids[@]}" 2>/dev/null
}

round() {
  local last batch
  "$nsfdb" info "$db" >/dev/null 2>&1 || return 0   # not created yet
  last=$(place)
  delete_handled "$last"
  batch=$("$nsfdb" dump "$db" --after "$last")
  [ -n "$batch" ] || return 0
  printf '%s\n' "$batch"                       # hand the documents on
  keep_place "$(printf '%s\n' "$batch" | ids | tail -n 1 | cut -d' ' -f1)"
  delete_handled "$(place)"
}

for ((i = 1; i <= rounds; i++)); do
  round
  [ "$i" -eq "$rounds" ] || sleep "$seconds"
done
