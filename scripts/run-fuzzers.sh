#!/bin/sh
# run-fuzzers.sh BUILD SECONDS -- run every libFuzzer target in BUILD/fuzz
# for SECONDS each, starting from its seed corpus (new finds go to a
# scratch copy, never into the repository's corpus).
set -e
build=$1; seconds=${2:-20}
for f in "$build"/fuzz/*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    work="$build/fuzz-work/$name"; mkdir -p "$work"
    echo "== $name ($seconds s)"
    "$f" -max_total_time="$seconds" -print_final_stats=1 "$work" "fuzz/corpus/$name" 2>&1 | tail -5
done
