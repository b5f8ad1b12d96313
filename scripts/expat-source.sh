#!/usr/bin/env bash
# Prepares expat's source for a build that compiles expat itself (the
# Windows build's nsfdb): Debian's source package of the expat that the
# Linux build links, fetched with apt-get source (Debian's patches
# applied). When the mirror no longer holds that version's source (a
# security update whose source left the pool), the newest version of the
# same upstream release that apt can fetch is taken. Leaves the source tree
# in DIR/expat and a stamp naming the version; does nothing when DIR
# already holds it.
#   scripts/expat-source.sh DIR
set -euo pipefail
dir=${1:?usage: scripts/expat-source.sh DIR}
package=$(dpkg-query -W -f='${source:Package}' libexpat1-dev)
installed=$(dpkg-query -W -f='${source:Version}' libexpat1-dev)
upstream=${installed%%-*}
if [ -f "$dir/stamp" ] && [ -d "$dir/expat" ] && grep -q "^$package $upstream-" "$dir/stamp"; then
  exit 0
fi

rm -rf "$dir"
mkdir -p "$dir/fetch"
dir=$(cd "$dir" && pwd)
fetch() { (cd "$dir/fetch" && rm -rf ./* && apt-get source -q "$package=$1" >/dev/null 2>&1); }
candidates=$(printf '%s\n' "$installed"; apt-cache showsrc "$package" | sed -n 's/^Version: //p' |
             grep "^$upstream-" | sort -rV)
fetched=
for version in $candidates; do
  if fetch "$version"; then fetched=$version; break; fi
done
if [ -z "$fetched" ]; then
  echo "apt-get source $package=$installed failed (scripts/deps.sh --windows adds the source entries)" >&2
  exit 1
fi
echo "prepared expat source: $package $fetched (the Linux build links $installed)"
source_tree=$(find "$dir/fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)
mv "$source_tree/expat" "$dir/expat"
rm -rf "$dir/fetch"
echo "$package $fetched" >"$dir/stamp"
