#!/usr/bin/env bash
# Imports run downward only: the dispatch tables and the command-line tools
# live in foldquest/driver/, so nothing below it may include from there
# (a model or method that did would pull the whole driver into every test
# of it, and the tables could not choose among models that include them).
set -euo pipefail
root=${1:?source folder}
found=$(grep -rn '#include "foldquest/driver/' "$root"/foldquest --include='*.cpp' --include='*.hpp' |
        grep -v "^$root/foldquest/driver/" || true)
if [ -n "$found" ]; then
  echo "files below foldquest/driver/ include from it:"
  echo "$found"
  exit 1
fi
echo "layout: no include from foldquest/driver/ below it"
