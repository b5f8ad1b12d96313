#!/usr/bin/env bash
# Configures and builds into build/ (or the directory given by BUILD_DIR).
# Extra arguments go to cmake's configure step.
#   scripts/build.sh [--windows] [CMAKE_ARGS...]
# --windows builds the 32-bit Windows programs and tests with mingw-w64
# into build-win/ (or BUILD_DIR), with SQLite and expat from Debian's
# source packages and GoogleTest from Debian's source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--windows" ]; then
  shift
  scripts/deps.sh --windows
  build_dir=${BUILD_DIR:-build-win}
  scripts/sqlite-source.sh "$build_dir/sqlite"
  scripts/expat-source.sh "$build_dir/expat"
  # Without debug information: the statically linked test programs then
  # take a third less compiler time to build, which keeps CI short.
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DZELREP_BENCH=OFF \
    -DZELREP_SQLITE_SOURCE="$PWD/$build_dir/sqlite" -DZELREP_EXPAT_SOURCE="$PWD/$build_dir/expat/expat" -DZELREP_GTEST_SOURCE=/usr/src/googletest \
    "$@" >/dev/null
else
  scripts/deps.sh
  build_dir=${BUILD_DIR:-build}
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$build_dir" -j"$(nproc)"
