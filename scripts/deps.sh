#!/usr/bin/env bash
# Installs the Debian packages the build needs that are missing (as root),
# or names them (otherwise). Packages named as arguments are added to the
# list (the benchmarks use this for their plotting tool).
#   scripts/deps.sh [--windows] [PACKAGE...]
# --windows adds what the Windows build needs: the 32-bit mingw-w64
# compiler, wine with its 32-bit part (the i386 architecture is enabled for
# it), tcl for generating SQLite's single-file source, and source entries
# for apt so that apt-get source can fetch Debian's SQLite.
set -euo pipefail

windows=false
if [ "${1:-}" = "--windows" ]; then
  windows=true
  shift
fi

packages=(cmake g++ make clang libclang-rt-14-dev libsqlite3-dev nlohmann-json3-dev
          libreadline-dev libexpat1-dev libgtest-dev libbenchmark-dev "$@")
if $windows; then
  packages+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386
             dpkg-dev tcl googletest)
fi

as_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1 (run as root to do so)" >&2
    exit 1
  fi
}

apt_quiet() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q "$@" >/dev/null
}

# A source entry beside each binary entry of the system's deb822 lists,
# with the same mirrors and suites, signed by Debian's archive key.
source_list=/etc/apt/sources.list.d/zelrep-deb-src.sources
need_update=false
if $windows; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root "the i386 architecture is needed for wine32"
    dpkg --add-architecture i386
    need_update=true
  fi
  if [ ! -f "$source_list" ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/; then
    as_root "apt needs source entries for apt-get source"
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         { stanza = ""; binary = 0
           n = split($0, lines, "\n")
           for (i = 1; i <= n; i++) {
             line = lines[i]
             if (line ~ /^#/ || line ~ /^Signed-By:/) continue
             if (line ~ /^Types:/) {
               binary = line ~ /[ \t]deb([ \t]|$)/
               line = "Types: deb-src"
             }
             stanza = stanza line "\n"
           }
           if (binary) print stanza "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" }' \
      /etc/apt/sources.list.d/*.sources >"$source_list"
    need_update=true
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

# A mirror that is being synced answers some index files with the wrong
# size, and apt-get update then fails as a whole; it leaves apt with the
# indexes it did get. Without the security suite's i386 index, the amd64 and
# i386 candidates of a library can differ in version, which multiarch
# refuses; the release's own versions (-t CODENAME) then fit together. An
# install that still fails is tried again a few times, a minute or more
# apart.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
update_and_install() {
  local attempt
  for attempt in 1 2 3 4; do
    apt_quiet update || echo "apt-get update failed (attempt $attempt of 4)" >&2
    if [ $# -eq 0 ] || apt_quiet install "$@"; then return 0; fi
    if [ -n "$codename" ] && apt_quiet install -t "$codename" "$@"; then
      echo "installed with $codename's own versions"
      return 0
    fi
    [ "$attempt" -lt 4 ] && sleep $((30 * attempt))
  done
  echo "could not install: $*" >&2
  return 1
}

if [ ${#missing[@]} -eq 0 ]; then
  if $need_update; then update_and_install; fi
  exit 0
fi

as_root "missing packages: ${missing[*]}"
echo "installing: ${missing[*]}"
# The Windows tools come without their recommendations (fonts, desktop
# integration), which the headless build and tests do not use.
options=(-y)
if $windows; then options+=(--no-install-recommends); fi
if ! $need_update && apt_quiet install "${options[@]}" "${missing[@]}" 2>/dev/null; then
  exit 0
fi
update_and_install "${options[@]}" "${missing[@]}"
