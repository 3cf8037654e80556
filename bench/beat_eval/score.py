#!/usr/bin/python3
"""score.py SET OURS AUBIO -- score beat logs against the set's references.

SET holds manifest.json and NAME.json per piece (make_set.py); OURS holds
NAME.txt from beat_log ("time tempo confidence beat_in_bar" a line);
AUBIO holds NAME.txt from aubiotrack (a time a line). Prints per piece and
overall: F-measure (+-70 ms; mir_eval skips the first 5 s), CMLt, AMLt,
mean offset of the matched beats, time to lock from the start and after a
tempo step; for ours also the share of matched beats given their right
place in the bar (and its mean over the pieces). Pieces without a beat (silence, noise) count the beats
signalled instead. Ends with the targets and whether they are met; exit
status 0 either way (a benchmark reports, it does not fail).
"""
import json
import os
import sys

import numpy as np
import mir_eval

WINDOW = 0.07
LOCK_RUN = 4          # consecutive beats on consecutive references make a lock
TARGET_STEADY, TARGET_ALL, TARGET_MARGIN, TARGET_LOCK = 0.90, 0.85, 0.10, 4.0


def load_ours(path):
    times, places = [], []
    if os.path.exists(path):
        for line in open(path):
            f = line.split()
            if len(f) >= 4:
                times.append(float(f[0]))
                places.append(int(f[3]))
    return np.array(times), places


def load_aubio(path):
    times = []
    if os.path.exists(path):
        for line in open(path):
            try:
                times.append(float(line.split()[0]))
            except (ValueError, IndexError):
                pass
    return np.array(times)


def lock_time(ref, est, since=0.0):
    """Seconds from `since` to the first of LOCK_RUN estimated beats that
    each match a reference beat, the references one after another (so the
    tempo is right, not a multiple). None when it never locks."""
    if len(ref) == 0 or len(est) == 0:
        return None
    idx = [int(np.argmin(np.abs(ref - e))) for e in est]
    ok = [abs(ref[i] - e) <= WINDOW for i, e in zip(idx, est)]
    for s in range(len(est) - LOCK_RUN + 1):
        if est[s] < since:
            continue
        if all(ok[s + j] for j in range(LOCK_RUN)) and \
                all(idx[s + j + 1] == idx[s + j] + 1 for j in range(LOCK_RUN - 1)):
            return est[s] - since
    return None


def score(ref, est, step=None):
    r = {"n": len(est)}
    ref_t, est_t = mir_eval.beat.trim_beats(ref), mir_eval.beat.trim_beats(est)
    r["f"] = mir_eval.beat.f_measure(ref_t, est_t, f_measure_threshold=WINDOW)
    _, r["cmlt"], _, r["amlt"] = mir_eval.beat.continuity(ref_t, est_t)
    pairs = mir_eval.util.match_events(ref, est, WINDOW)
    r["offset"] = 1000 * float(np.mean([est[j] - ref[i] for i, j in pairs])) if pairs else None
    r["lock"] = lock_time(ref, est)
    r["relock"] = lock_time(ref, est, step) if step is not None else None
    r["pairs"] = pairs
    return r


def fmt(v, form="%.3f", none="-"):
    return none if v is None else form % v


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip())
        return 2
    set_dir, ours_dir, aubio_dir = argv[1:]
    manifest = json.load(open(os.path.join(set_dir, "manifest.json")))
    rows, quiet = [], []
    for p in manifest["pieces"]:
        ref_doc = json.load(open(os.path.join(set_dir, p["ref"])))
        ours, places = load_ours(os.path.join(ours_dir, p["name"] + ".txt"))
        theirs = load_aubio(os.path.join(aubio_dir, p["name"] + ".txt"))
        if not ref_doc["beats"]:
            quiet.append((p, len(ours), len(theirs)))
            continue
        ref = np.array([b[0] for b in ref_doc["beats"]])
        ref_place = [b[1] for b in ref_doc["beats"]]
        step = ref_doc.get("tempo_step")
        a, b = score(ref, ours, step), score(ref, theirs, step)
        matched = [(i, j) for i, j in a["pairs"]]
        a["bar"] = (sum(places[j] == ref_place[i] for i, j in matched) / len(matched)) if matched else None
        rows.append((p, a, b))

    head = "%-16s %-9s | %6s %6s %6s %7s %6s %6s %5s | %6s %6s %6s %7s %6s %6s" % (
        "piece", "kind", "F", "CMLt", "AMLt", "off ms", "lock", "step", "bar",
        "aF", "aCMLt", "aAMLt", "aoff ms", "alock", "astep")
    print("Beat tracking: ours (left) and aubiotrack (right, a...). F-measure +-70 ms and "
          "CMLt/AMLt skip the first 5 s;\nlock: seconds from the start to 4 beats in a row on "
          "the reference beats; step: the same after the tempo step; bar: matched beats\n"
          "given their right place in the bar.")
    print(head)
    print("-" * len(head))
    for p, a, b in rows:
        print("%-16s %-9s | %6.3f %6.3f %6.3f %7s %6s %6s %5s | %6.3f %6.3f %6.3f %7s %6s %6s" % (
            p["name"], p["kind"], a["f"], a["cmlt"], a["amlt"], fmt(a["offset"], "%.1f"),
            fmt(a["lock"], "%.2f", "never"), fmt(a["relock"], "%.2f", "-" if a["relock"] is None
                                                  and p["kind"] != "step" else "never"),
            fmt(a["bar"], "%.2f"),
            b["f"], b["cmlt"], b["amlt"], fmt(b["offset"], "%.1f"), fmt(b["lock"], "%.2f", "never"),
            fmt(b["relock"], "%.2f", "-" if p["kind"] != "step" else "never")))
    for p, n_ours, n_theirs in quiet:
        print("%-16s %-9s | beats signalled: %d%s| aubiotrack beats: %d" % (
            p["name"], p["kind"], n_ours, " " * 33, n_theirs))
    print("-" * len(head))

    def mean(sel, side, key):
        v = [r[side][key] for r in rows if sel(r[0]) and r[side].get(key) is not None]
        return float(np.mean(v)) if v else float("nan")

    steady = lambda p: p["kind"] == "steady"
    every = lambda p: True
    for label, sel in (("steady pieces", steady), ("whole set", every)):
        print("%-26s | %6.3f %6.3f %6.3f %7s %6s %6s %5.2f | %6.3f %6.3f %6.3f" % (
            label + " (mean)", mean(sel, 1, "f"), mean(sel, 1, "cmlt"), mean(sel, 1, "amlt"), "", "", "",
            mean(sel, 1, "bar"), mean(sel, 2, "f"), mean(sel, 2, "cmlt"), mean(sel, 2, "amlt")))

    f_steady, f_all = mean(steady, 1, "f"), mean(every, 1, "f")
    f_aubio = mean(every, 2, "f")
    locks = [r[1]["lock"] for r in rows]
    relocks = [r[1]["relock"] for r in rows if r[0]["kind"] == "step"]
    worst_lock = None if None in locks else max(locks)
    worst_relock = None if not relocks or None in relocks else max(relocks)
    quiet_ok = all(n == 0 for _, n, _ in quiet)
    checks = [
        ("F on steady pieces >= %.2f" % TARGET_STEADY, f_steady >= TARGET_STEADY, "%.3f" % f_steady),
        ("F over the whole set >= %.2f" % TARGET_ALL, f_all >= TARGET_ALL, "%.3f" % f_all),
        ("F at least %.2f above aubiotrack" % TARGET_MARGIN, f_all - f_aubio >= TARGET_MARGIN,
         "%+.3f" % (f_all - f_aubio)),
        ("locked within %.0f s of the start" % TARGET_LOCK,
         worst_lock is not None and worst_lock <= TARGET_LOCK, "worst %s s" % fmt(worst_lock, "%.2f", "never")),
        ("locked within %.0f s of a tempo step" % TARGET_LOCK,
         worst_relock is not None and worst_relock <= TARGET_LOCK,
         "worst %s s" % fmt(worst_relock, "%.2f", "never")),
        ("silence and noise stay unlocked", quiet_ok,
         ", ".join("%s %d beats" % (p["name"], n) for p, n, _ in quiet)),
    ]
    print("\nTargets:")
    for what, ok, figure in checks:
        print("  %-40s %-5s (%s)" % (what, "met" if ok else "NOT MET", figure))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
