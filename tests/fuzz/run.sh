#!/usr/bin/env bash
# run.sh BUILD_DIR [SECONDS]: seeds each libFuzzer target of BUILD_DIR (a
# build configured with -DFOLDQUEST_FUZZ=ON) from the examples and the
# golden inputs, then runs it for SECONDS (default 60).  A crash, a
# sanitizer report, a leak or an input that takes longer than 10 s fails the
# script; the input that did it is kept in BUILD_DIR/fuzz-artifacts/.
set -euo pipefail
build=$(cd "$1" && pwd)
secs=${2:-60}
src=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
rm -rf "$corpus"
mkdir -p "$corpus/freeformat" "$corpus/data_files" "$corpus/startup" "$artifacts"

byte() { printf "\\$(printf %03o "$1")"; }

# The reader: every answer and data file, behind a read-plan byte.
i=0
for f in "$src"/tests/golden/*/*/stdin "$src"/tests/golden/common/* "$src"/examples/*/*.opt \
         "$src"/examples/*/*.txt "$src"/tests/golden/setup/*/expect/*; do
  [ -f "$f" ] || continue
  i=$((i + 1))
  { byte $((i % 256)); cat "$f"; } > "$corpus/freeformat/seed$i"
done

# The data readers: a selector byte (0 beds, 1 dips, 2 terraces, 3 fault
# points, 4 + 5k a parameter file read for k parameters), then the file.
i=0
for f in "$src"/tests/golden/common/* "$src"/examples/*/*.txt; do
  [ -f "$f" ] || continue
  i=$((i + 1))
  case "$(basename "$f")" in
    beds*) sel=0 ;;
    dips*) sel=1 ;;
    terr*) sel=2 ;;
    fault*) sel=3 ;;
    params*) k=$(( $(grep -c . "$f") - 2 )); [ $k -lt 0 ] && k=0; [ $k -gt 23 ] && k=23; sel=$((4 + 5 * k)) ;;
    *) continue ;;
  esac
  { byte $sel; cat "$f"; } > "$corpus/data_files/seed$i"
done

# Start-up: options files.  A console transcript without its first answer
# (the source question) is the same answers as an options file.
i=0
for f in "$src"/tests/golden/foldquest/*/stdin; do
  i=$((i + 1))
  if [ "$(head -n 1 "$f")" = 1 ]; then tail -n +2 "$f" > "$corpus/startup/seed$i"; fi
done
for f in "$src"/tests/golden/setup/*/expect/* "$src"/examples/*/*.opt "$src"/tests/golden/foldquest/*/files/*.opt; do
  [ -f "$f" ] || continue
  i=$((i + 1))
  cp "$f" "$corpus/startup/seed$i"
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export OMP_NUM_THREADS=1
# The targets' scratch folders go inside the build folder.
export TMPDIR=$build/fuzz-tmp
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
status=0
for t in freeformat data_files startup; do
  echo "== fuzz_$t: ${secs} s, $(ls "$corpus/$t" | wc -l) seeds"
  if ! "$build/tests/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$artifacts/$t-" -print_final_stats=1 "$corpus/$t" > "$build/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t FAILED; the log's end:"; tail -n 60 "$build/fuzz_$t.log"; status=1
  else
    grep -E "^stat::number_of_executed_units|Done [0-9]+ runs" "$build/fuzz_$t.log" | tail -n 2
  fi
done
exit $status
