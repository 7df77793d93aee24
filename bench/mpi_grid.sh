#!/usr/bin/env bash
# make bench-mpi: grid search models/s with MPI ranks against OpenMP threads.
#
#   bash bench/mpi_grid.sh [BUILD_DIR] [OPTIONS_FILE]
#
# Runs `foldquest run` on the straight-ramp example's grid search (or the
# options file given, relative to examples/straight_ramp) as 1 rank x 1
# thread, 2 ranks x 1 thread (mpirun) and 1 rank x 2 threads, and prints
# each one's models/s (wall clock of the whole run, start-up included) and
# the ratios.  Needs the MPI build.  Ratios mean something only on an
# otherwise idle machine with at least two cores.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
opt="${2:-gridsearch.opt}"
exe="$build/foldquest/foldquest"
mpirun_exe="$(command -v mpirun || true)"
[ -x "$exe" ] || { echo "bench-mpi: $exe not found; build first" >&2; exit 1; }
[ -n "$mpirun_exe" ] || { echo "bench-mpi: mpirun not found (apt-get install openmpi-bin libopenmpi-dev)" >&2; exit 1; }
work="$build/bench-mpi"
rm -rf "$work" && mkdir -p "$work"
cp "$root"/examples/straight_ramp/* "$work"/
cd "$work"

# seconds of one run: run LAUNCHER... -- ARGS
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>run.err || { cat run.err >&2; exit 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }' 
}
mpi=("$mpirun_exe" --allow-run-as-root --oversubscribe)
s11=$(timed "$exe" run "$opt" -q -t 1 -r r11.txt)
s21=$(timed "${mpi[@]}" -np 2 "$exe" run "$opt" -q -t 1 -r r21.txt)
s12=$(timed "$exe" run "$opt" -q -t 2 -r r12.txt)
cmp -s r11.txt r21.txt && cmp -s r11.txt r12.txt || { echo "bench-mpi: the results files differ" >&2; exit 1; }
n=$(wc -l < r11.txt)
printf '%-22s %12s %10s\n' "grid search, $n models" "models/s" "ratio"
for row in "1 rank  x 1 thread :$s11" "2 ranks x 1 thread :$s21" "1 rank  x 2 threads:$s12"; do
  label=${row%%:*}; s=${row##*:}
  awk -v l="$label" -v n="$n" -v s="$s" -v s11="$s11" 'BEGIN { printf "%-22s %12.0f %10.2f\n", l, n / s, s11 / s }' 
done
awk -v a="$s12" -v b="$s21" 'BEGIN { printf "2 ranks x 1 thread / 1 rank x 2 threads: %.2f\n", a / b }' 
