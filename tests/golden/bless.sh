#!/usr/bin/env bash
# bless.sh PROGRAM CASE...: runs golden cases with the built program and
# writes their actual output as the expected output.  Review the diff
# (git diff tests/golden) before committing: a blessed transcript is a claim
# that every line of it is right.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-$here/../../build}
program=$1; shift
exe=$build/$program/$program
[ -x "$exe" ] || exe=$build/foldquest/$program
for c in "$@"; do
  d=$here/$program/$c
  work=$(mktemp -d)
  cp -r "$here/common/." "$work/"
  [ -d "$d/files" ] && cp -r "$d/files/." "$work/"
  set +e
  (cd "$work" && OMP_NUM_THREADS=2 "$exe" < "$d/stdin" > "$d/stdout" 2> "$work/stderr"; echo $? > "$work/status")
  set -e
  st=$(cat "$work/status")
  if [ "$st" != 0 ]; then echo "$st" > "$d/status"; cp "$work/stderr" "$d/stderr"; else rm -f "$d/status" "$d/stderr"; fi
  echo "$c: status $st"
  rm -rf "$work"
done
