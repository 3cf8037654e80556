#!/bin/sh
# run-fuzzers.sh BUILD SECONDS -- run every libFuzzer target in BUILD/fuzz
# for SECONDS each, starting from its seed corpus (new finds go to a
# scratch copy, never into the repository's corpus). Fails when a target
# finds a fault; its whole output stays in BUILD/fuzz-work/NAME.log.
build=$1; seconds=${2:-20}
status=0
for f in "$build"/fuzz/*; do
    [ -f "$f" ] && [ -x "$f" ] || continue
    name=$(basename "$f")
    work="$build/fuzz-work/$name"; mkdir -p "$work"
    log="$work.log"
    echo "== $name ($seconds s)"
    if ! "$f" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work-" "$work" "fuzz/corpus/$name" > "$log" 2>&1; then
        echo "$name FOUND A FAULT: see $log (the input is saved beside it)"
        status=1
    fi
    grep -E "^(Done|stat::new_units_added)" "$log" || true
done
exit $status
