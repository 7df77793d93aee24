#!/usr/bin/env bash
# make demo: a real inversion on the shipped straight-ramp example.
#
#   bash examples/demo.sh [BUILD_DIR]      (BUILD_DIR defaults to build)
#
# Copies examples/straight_ramp to BUILD_DIR/demo/straight_ramp, runs the
# grid search of gridsearch.opt there with the built foldquest (answering
# "2" to "Choose source of run options", then the options file name, then
# the final Enter), prints the best model with foldquest-best and compares
# it with the model the data were made with.  Exits non-zero when a step
# fails or the best model is more than one grid step from the true one.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
foldquest="$build/foldquest/foldquest"
best="$build/examples/tools/foldquest-best"
for exe in "$foldquest" "$best"; do
  if [[ ! -x "$exe" ]]; then
    echo "demo: $exe not found; build first (make build BUILD=$build)" >&2
    exit 1
  fi
done

work="$build/demo/straight_ramp"
rm -rf "$work"
mkdir -p "$work"
cp "$root"/examples/straight_ramp/* "$work"/
cd "$work"

echo "== Grid search over the straight-ramp example (examples/straight_ramp/gridsearch.opt)"
echo "   working folder: $work"
start=$(date +%s.%N)
if ! printf '2\ngridsearch.opt\n\n' | "$foldquest" > foldquest.log 2>&1; then
  echo "demo: foldquest failed; its console output:" >&2
  cat foldquest.log >&2
  exit 1
fi
end=$(date +%s.%N)
# The run's own lines (the questions and menus before them are in foldquest.log).
grep -E 'models will be run|Starting|ran model|Ran |Finished' foldquest.log
awk -v a="$start" -v b="$end" 'BEGIN { printf " (wall clock: %.1f s)\n", b - a }'

echo
echo "== Best model (result type 2: the highest log-probability is best)"
names="tipx,tipy,slip,ramp_angle,phi,P/S,s,growth_slip"
"$best" --result-type 2 --params params_grid.txt --names "$names" gridsearch_results.txt | tee best.txt

echo
echo "== Against the model the data were made with (see examples/straight_ramp/README.md)"
# name true-value, in parameter order.
truth="tipx 2000
tipy -400
slip 500
ramp_angle 30
phi 30
P/S 2
s 1
growth_slip 200"
awk -v truth="$truth" '
  BEGIN {
    n = split(truth, rows, "\n")
    for (i = 1; i <= n; i++) { split(rows[i], f, " "); want[f[1]] = f[2]; order[i] = f[1] }
  }
  /^best model:/ { inbest = 1; next }
  inbest && NF == 5 && ($1 in want) { got[$1] = $2; step[$1] = $5 }
  END {
    bad = 0
    printf "  %-12s %10s %10s %8s  %s\n", "parameter", "true", "best", "step", "within one step"
    for (i = 1; i <= n; i++) {
      k = order[i]
      if (!(k in got)) { printf "  %-12s missing from the listing\n", k; bad = 1; continue }
      d = got[k] - want[k]; if (d < 0) d = -d
      ok = d <= step[k] + 1e-9 * (want[k] < 0 ? -want[k] : want[k]) + 1e-12
      if (!ok) bad = 1
      printf "  %-12s %10s %10s %8s  %s\n", k, want[k], got[k], step[k], ok ? "yes" : "NO"
    }
    if (bad) { print "demo: the best model is not within one grid step of the true model" > "/dev/stderr"; exit 1 }
    print "  The grid search found the true model (within one grid step)."
  }' best.txt
