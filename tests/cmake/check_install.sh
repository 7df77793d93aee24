#!/usr/bin/env bash
# check_install.sh BUILD_DIR: cmake --install into a fresh prefix, then run
# the installed programs from there.
set -eu
build=$1
prefix="$build/install-check"
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for exe in foldquest foldquest-setup foldquest-best; do
  [ -x "$prefix/bin/$exe" ] || { echo "not installed: bin/$exe"; exit 1; }
done
"$prefix/bin/foldquest" --version | grep -q '^foldquest [0-9]' || { echo "installed foldquest --version failed"; exit 1; }
"$prefix/bin/foldquest" run --help | grep -q '^Usage: foldquest run' || { echo "installed foldquest run --help failed"; exit 1; }
rm -rf "$prefix"
