#!/usr/bin/env bash
# Prepares SQLite's single-file source for a build that compiles SQLite
# itself (the Windows build): Debian's source package of the SQLite that the
# Linux build links, fetched with apt-get source (Debian's patches applied),
# and its sqlite3.c and sqlite3.h generated with the host's compiler and
# tclsh. Leaves sqlite3.c, sqlite3.h and a stamp naming the version in DIR;
# does nothing when DIR already holds that version.
#   scripts/sqlite-source.sh DIR
set -euo pipefail
dir=${1:?usage: scripts/sqlite-source.sh DIR}
package=$(dpkg-query -W -f='${source:Package}' libsqlite3-dev)
version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)
stamp="$package $version"
if [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$stamp" ] && [ -f "$dir/sqlite3.c" ]; then
  exit 0
fi

echo "preparing SQLite source: $stamp"
rm -rf "$dir"
mkdir -p "$dir/fetch" "$dir/generate"
dir=$(cd "$dir" && pwd)
fetch() { (cd "$dir/fetch" && apt-get source -q "$package=$version" >/dev/null 2>&1); }
fetch || { apt-get update -q >/dev/null 2>&1 || true; fetch; } || {
  echo "apt-get source $package=$version failed (scripts/deps.sh --windows adds the source entries)" >&2
  exit 1
}
source_tree=$(find "$dir/fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)
(cd "$dir/generate" &&
   env -u CC -u CXX -u CFLAGS "$source_tree/configure" --disable-tcl >configure.log 2>&1 &&
   make -j"$(nproc)" sqlite3.c >make.log 2>&1) || {
  echo "generating sqlite3.c failed; see $dir/generate/*.log" >&2
  exit 1
}
cp "$dir/generate/sqlite3.c" "$dir/generate/sqlite3.h" "$dir/"
rm -rf "$dir/fetch" "$dir/generate"
echo "$stamp" >"$dir/stamp"
