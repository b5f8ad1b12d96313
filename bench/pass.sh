#!/usr/bin/env bash
# pass.sh - the publication pass benchmark with its plot: builds the
# programs, runs build/bench/pass_bench over the directory sizes given
# (default 10,000, 100,000 and 300,000 people), prints its tables and draws
# bench/pass.png, pass time against directory size beside each floor.
#
# Usage: bench/pass.sh [PEOPLE...]. Installs gnuplot (gnuplot-nox) when run
# as root and it is missing; without it the tables are still printed and
# the plot is skipped with a note.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
scripts/deps.sh gnuplot-nox || echo "pass.sh: gnuplot is missing; the plot will be skipped" >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pass_bench -j"$(nproc)" >/dev/null

data="$(mktemp)"
trap 'rm -f "$data"' EXIT
"$build/bench/pass_bench" --plot-data "$data" "$@"

command -v gnuplot >/dev/null || exit 0
gnuplot <<EOF
set terminal pngcairo size 900,420 font "sans,10"
set output "bench/pass.png"
set multiplot layout 1,2
set key top left
set grid
set xlabel "people in the directory"
set format x "%.0s%c"
set ylabel "seconds"
set title "Migration pass (MIGRATE ON)"
plot "$data" using 1:2 with linespoints lw 2 pt 7 title "zelrep", \
     "$data" using 1:3 with linespoints lw 2 pt 5 dt 2 title "SQLite floor"
set title "Incremental pass, 1,000 changes (REPLICATE)"
set yrange [0:*]
plot "$data" using 1:4 with linespoints lw 2 pt 7 title "zelrep", \
     "$data" using 1:5 with linespoints lw 2 pt 5 dt 2 title "SQLite floor"
unset multiplot
EOF
echo "plot: bench/pass.png"
