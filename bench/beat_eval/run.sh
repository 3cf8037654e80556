#!/bin/sh
# run.sh BUILD -- the beat evaluation: build the set (again only when the
# generator changed), run our tracker (BUILD/beat_eval/beat_log) and
# aubiotrack on every piece, print the table.
set -e
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out=$build/beat_eval
for tool in fluidsynth sox aubiotrack; do
    command -v $tool >/dev/null || { echo "beat_eval: $tool is missing (make test-deps)" >&2; exit 1; }
done
[ -x "$out/beat_log" ] || { echo "beat_eval: build beat_log first" >&2; exit 1; }
if [ ! -f "$out/set/manifest.json" ] || [ "$here/make_set.py" -nt "$out/set/manifest.json" ]; then
    rm -rf "$out/set"
    /usr/bin/python3 "$here/make_set.py" "$out/set"
fi
mkdir -p "$out/ours" "$out/aubio"
for w in "$out"/set/*.wav; do
    n=$(basename "$w" .wav)
    echo "$n"
done | xargs -P 2 -I{} sh -c "\"$out/beat_log\" \"$out/set/{}.wav\" \"$out/ours/{}.txt\" &&
    aubiotrack -i \"$out/set/{}.wav\" > \"$out/aubio/{}.txt\""
/usr/bin/python3 "$here/score.py" "$out/set" "$out/ours" "$out/aubio"
