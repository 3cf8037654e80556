#!/usr/bin/python3
"""song_eval.py BUILD [--only NAME,...] [--no-long]

The offline song analysis (glimhost --analyse) scored on the beat
evaluation set (bench/beat_eval/make_set.py; built into BUILD/beat_eval/set
when missing or older than the generator), beside the live tracker
(BUILD/beat_eval/beat_log) on the same files. With mir_eval:

  beats       F-measure, +-70 ms, the first 5 s skipped (as beat_eval does)
  downbeats   the same on the bars' first beats
  sections    boundaries within 0.5 s (mir_eval.segment.detection, the
              start and the end of the piece left out): precision, hit
              rate (recall) and F
  drops       the sections the set marks as drops, found within 0.5 s

and the analysis' cost: CPU seconds per minute of music (every piece
analysed afresh, with an empty cache), a 4-minute song, and the peak
memory and time of a 20-minute file made by joining the songs (sox).
Prints the table and the targets; exit status 0 either way (a benchmark
reports, it does not fail).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import mir_eval

WINDOW = 0.07
SECTION_WINDOW = 0.5
TARGET_BEAT, TARGET_DOWNBEAT, TARGET_SECTIONS, TARGET_CPU = 0.95, 0.85, 0.80, 0.05


# Runs a command and prints its CPU seconds and peak resident kB: from a
# small interpreter of its own, since a child forked from this one would
# count this one's memory as its own until it runs the command.
MEASURE = """import resource, subprocess, sys
rc = subprocess.run(sys.argv[1:], stderr=subprocess.DEVNULL).returncode
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(rc, u.ru_utime + u.ru_stime, u.ru_maxrss, file=sys.stderr)"""


def run_measured(cmd, env=None, stdout=None):
    """Run cmd; (exit status, CPU seconds, peak resident kB) of the command."""
    p = subprocess.run(["/usr/bin/python3", "-c", MEASURE] + cmd, env=env,
                       stdout=stdout or subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    rc, cpu, rss = p.stderr.split()[-3:]
    return int(rc), float(cpu), int(rss)


def analyse(glimhost, wav, out_json, cache):
    """glimhost --analyse with an empty cache: (analysis, CPU seconds, peak kB)."""
    shutil.rmtree(cache, ignore_errors=True)
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    with open(out_json, "w") as f:
        rc, cpu, rss = run_measured([glimhost, "--analyse", wav], env, f)
    if rc != 0:
        raise RuntimeError("glimhost --analyse %s failed (%d)" % (wav, rc))
    return json.load(open(out_json)), cpu, rss


def live(beat_log, wav, out_txt):
    """The live tracker's beats and their places in the bar."""
    if not beat_log:
        return None
    subprocess.run([beat_log, wav, out_txt], check=True, stdout=subprocess.DEVNULL)
    times, places = [], []
    for line in open(out_txt):
        f = line.split()
        if len(f) >= 4:
            times.append(float(f[0]))
            places.append(int(f[3]))
    return np.array(times), np.array([t for t, p in zip(times, places) if p == 1])


def beat_f(ref, est):
    return mir_eval.beat.f_measure(mir_eval.beat.trim_beats(np.asarray(ref, float)),
                                   mir_eval.beat.trim_beats(np.asarray(est, float)), WINDOW)


def intervals(starts, end):
    bounds = list(starts) + [end]
    return np.array([[bounds[i], bounds[i + 1]] for i in range(len(starts))])


def section_score(ref_doc, est):
    """(precision, hit rate, F) of the inner boundaries, or None when the
    piece has none."""
    ref = ref_doc["sections"]
    if len(ref) < 2:
        return None
    end = max(ref[-1]["end"], est["duration"])
    ref_i = intervals([0.0] + [s["start"] for s in ref[1:]], end)
    starts = [s["start"] for s in est["sections"]] or [0.0]
    est_i = intervals([0.0] + starts[1:], end)
    return mir_eval.segment.detection(ref_i, est_i, window=SECTION_WINDOW, trim=True)


def drop_score(ref_doc, est):
    """(drops marked, of them found, drops found in all)."""
    ref = [s["start"] for s in ref_doc["sections"] if s.get("drop")]
    found = est["drops"]
    hit = sum(1 for r in ref if any(abs(r - f) <= SECTION_WINDOW for f in found))
    return len(ref), hit, len(found)


def make_set(build, here):
    out = os.path.join(build, "beat_eval", "set")
    gen = os.path.join(here, "..", "beat_eval", "make_set.py")
    manifest = os.path.join(out, "manifest.json")
    if not os.path.exists(manifest) or os.path.getmtime(gen) > os.path.getmtime(manifest):
        shutil.rmtree(out, ignore_errors=True)
        subprocess.run(["/usr/bin/python3", gen, out], check=True)
    return out


def joined(pieces, set_dir, seconds, path):
    """A file of at least `seconds` made by joining the pieces (FLAC, so
    that a long one stays small on disk)."""
    files, total = [], 0.0
    while total < seconds:
        for p in pieces:
            files.append(os.path.join(set_dir, p["wav"]))
            total += p["seconds"]
            if total >= seconds:
                break
    subprocess.run(["sox"] + files + [path], check=True)
    return total


def fmt(v, form="%.3f"):
    return "-" if v is None else form % v


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) > 1 else 2
    build = os.path.abspath(argv[1])
    only = None
    long_file = "--no-long" not in argv
    if "--only" in argv:
        only = set(argv[argv.index("--only") + 1].split(","))
    here = os.path.dirname(os.path.abspath(__file__))
    glimhost = os.path.join(build, "bin", "glimhost")
    beat_log = os.path.join(build, "beat_eval", "beat_log")
    beat_log = beat_log if os.access(beat_log, os.X_OK) else None
    set_dir = make_set(build, here)
    work = os.path.join(build, "song_eval")
    os.makedirs(work, exist_ok=True)
    cache = tempfile.mkdtemp(prefix="song_eval_cache")

    manifest = json.load(open(os.path.join(set_dir, "manifest.json")))
    rows, quiet, cpu_total, minutes = [], [], 0.0, 0.0
    for p in manifest["pieces"]:
        if only and p["name"] not in only:
            continue
        wav = os.path.join(set_dir, p["wav"])
        ref = json.load(open(os.path.join(set_dir, p["ref"])))
        est, cpu, _ = analyse(glimhost, wav, os.path.join(work, p["name"] + ".json"), cache)
        p["seconds"] = est["duration"]
        cpu_total += cpu
        minutes += est["duration"] / 60
        lv = live(beat_log, wav, os.path.join(work, p["name"] + ".live.txt"))
        if not ref["beats"]:
            quiet.append((p, est, lv, cpu))
            continue
        ref_beats = [b[0] for b in ref["beats"]]
        r = {"beat": beat_f(ref_beats, est["beats"]),
             "down": beat_f(ref["downbeats"], est["downbeats"]),
             "sections": section_score(ref, est), "drops": drop_score(ref, est),
             "bpm": est["tempo"], "metre": est["beats_per_bar"], "cpu": cpu,
             "live_beat": beat_f(ref_beats, lv[0]) if lv else None,
             "live_down": beat_f(ref["downbeats"], lv[1]) if lv else None}
        rows.append((p, r))

    head = "%-16s %-9s %6s %5s | %6s %6s | %5s %5s %5s | %5s | %6s | %6s %6s" % (
        "piece", "kind", "bpm", "metre", "beatF", "downF", "secP", "secR", "secF", "drops",
        "cpu s", "liveF", "lvDnF")
    print("Song analysis (glimhost --analyse) against the composed references; the live tracker "
          "(beat_log) on the same files at the right.\nbeatF/downF: F-measure +-70 ms after 5 s; "
          "sec: section boundaries within 0.5 s (precision, hit rate, F);\ndrops: found/marked "
          "(+ extra); cpu s: CPU seconds of the analysis, cache empty.")
    print(head)
    print("-" * len(head))
    for p, r in rows:
        s = r["sections"]
        n, hit, found = r["drops"]
        print("%-16s %-9s %6.1f %3d/%d | %6.3f %6.3f | %5s %5s %5s | %5s | %6.2f | %6s %6s" % (
            p["name"], p["kind"], r["bpm"], r["metre"], p["beats_per_bar"], r["beat"], r["down"],
            fmt(s and s[0], "%.2f"), fmt(s and s[1], "%.2f"), fmt(s and s[2], "%.2f"),
            "%d/%d%s" % (hit, n, "+%d" % (found - hit) if found > hit else "") if n or found else "-",
            r["cpu"], fmt(r["live_beat"]), fmt(r["live_down"])))
    for p, est, lv, cpu in quiet:
        print("%-16s %-9s analysis: %-14s beats %d%s | %6.2f | live beats %s" % (
            p["name"], p["kind"], est["analysis"], len(est["beats"]), " " * 17, cpu,
            len(lv[0]) if lv else "-"))
    print("-" * len(head))

    def mean(key, sel=lambda p: True, idx=None):
        v = [(r[key][idx] if idx is not None else r[key]) for p, r in rows
             if sel(p) and r[key] is not None]
        return float(np.mean(v)) if v else float("nan")

    songs = lambda p: p["kind"] == "song"
    for label, sel in (("whole set", lambda p: True), ("songs", songs)):
        print("%-26s | %6.3f %6.3f | %5.2f %5.2f %5.2f | %5s | %6s | %6s %6s" % (
            label + " (mean)", mean("beat", sel), mean("down", sel), mean("sections", sel, 0),
            mean("sections", sel, 1), mean("sections", sel, 2), "", "",
            fmt(mean("live_beat", sel) if beat_log else None),
            fmt(mean("live_down", sel) if beat_log else None)))
    drops_marked = sum(r["drops"][0] for _, r in rows)
    drops_hit = sum(r["drops"][1] for _, r in rows)
    drops_found = sum(r["drops"][2] for _, r in rows)
    per_minute = cpu_total / minutes if minutes else float("nan")
    print("\ndrops: %d of %d marked found, %d found in all" % (drops_hit, drops_marked, drops_found))
    print("analysis: %.2f CPU s per minute of music (%.1f %% of its length) over %.1f minutes"
          % (per_minute, 100 * per_minute / 60, minutes))

    checks = [
        ("beat F over the whole set >= %.2f" % TARGET_BEAT, mean("beat") >= TARGET_BEAT,
         "%.3f" % mean("beat")),
        ("downbeat F over the whole set >= %.2f" % TARGET_DOWNBEAT,
         mean("down") >= TARGET_DOWNBEAT, "%.3f" % mean("down")),
        ("section boundaries hit (0.5 s) >= %.2f" % TARGET_SECTIONS,
         mean("sections", idx=1) >= TARGET_SECTIONS,
         "%.3f, F %.3f" % (mean("sections", idx=1), mean("sections", idx=2))),
        ("analysis <= %.0f %% of the music's length" % (100 * TARGET_CPU),
         per_minute <= 60 * TARGET_CPU, "%.2f s a minute" % per_minute),
    ]
    if long_file:
        songs_list = [p for p, _ in rows if songs(p)] or [p for p, _ in rows]
        four = os.path.join(work, "four_minutes.flac")
        length = joined(songs_list, set_dir, 240, four)
        _, cpu4, _ = analyse(glimhost, four, os.path.join(work, "four_minutes.json"), cache)
        long_path = os.path.join(work, "twenty_minutes.flac")
        long_len = joined(songs_list, set_dir, 1200, long_path)
        _, cpu20, rss20 = analyse(glimhost, long_path, os.path.join(work, "twenty_minutes.json"),
                                  cache)
        _, _, rss_small = analyse(glimhost, os.path.join(set_dir, rows[0][0]["wav"]),
                                  os.path.join(work, "small.json"), cache)
        os.remove(long_path)
        print("a %.1f-minute song (the songs joined): %.2f CPU s" % (length / 60, cpu4))
        print("a %.1f-minute file: %.2f CPU s, peak memory %.1f MB (%.1f MB for a %.0f-s piece)"
              % (long_len / 60, cpu20, rss20 / 1024, rss_small / 1024, rows[0][0]["seconds"]))
        checks.append(("a 4-minute song in <= 12 s of one core", cpu4 * 240 / length <= 12,
                       "%.2f s" % (cpu4 * 240 / length)))
    shutil.rmtree(cache, ignore_errors=True)
    print("\nTargets:")
    for what, ok, figure in checks:
        print("  %-44s %-7s (%s)" % (what, "met" if ok else "NOT MET", figure))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
