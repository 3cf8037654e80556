#!/bin/sh
# run-benches.sh BUILD -- run every benchmark program in BUILD/bench.
set -e
for b in "$1"/bench/*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
