#!/usr/bin/env bash
# run_golden.sh EXE CASE_DIR WORK_DIR: runs one golden transcript case.
set -u
exe=$1; case_dir=$2; work=$3
rm -rf "$work" && mkdir -p "$work"
# Shared data files first, then the case's own.
common="$(dirname "$case_dir")/../common"
if [ -d "$common" ]; then cp -r "$common/." "$work/"; fi
if [ -d "$case_dir/files" ]; then cp -r "$case_dir/files/." "$work/"; fi
cd "$work" || exit 1
# The parallel methods print their thread count: fix it so that transcripts
# do not depend on the machine.
export OMP_NUM_THREADS=2
"$exe" < "$case_dir/stdin" > actual.stdout 2> actual.stderr
status=$?
fail=0
want_status=0
[ -f "$case_dir/status" ] && want_status=$(cat "$case_dir/status")
if [ "$status" != "$want_status" ]; then
  echo "exit status $status, expected $want_status"; fail=1
fi
if ! diff -u "$case_dir/stdout" actual.stdout; then fail=1; fi
if [ -f "$case_dir/stderr" ] && ! diff -u "$case_dir/stderr" actual.stderr; then fail=1; fi
if [ -d "$case_dir/expect" ]; then
  for f in "$case_dir"/expect/*; do
    if ! diff -u "$f" "$(basename "$f")"; then fail=1; fi
  done
fi
[ $fail = 0 ] || echo "actual output kept in $work"
exit $fail
