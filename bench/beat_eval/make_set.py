#!/usr/bin/python3
"""make_set.py OUTDIR [--only NAME,...] [--jobs N]

The beat evaluation set: pieces composed here from sections (intro, verse,
chorus, breakdown, drop ...) over a tempo map, written as MIDI and rendered
with fluidsynth and the General MIDI bank. Beside each WAV goes NAME.json:
the exact beat times, downbeats, metre and section boundaries, taken from
the tempo map and moved by the renderer's start offset (measured on every
run). OUTDIR/manifest.json lists the pieces and what each one tests.

Everything is deterministic: the same files on every run.

To add a piece, append a Piece to PIECES: its sections name a style (a
function below that plays one bar), the parts that play and the chords.
"""
import json
import math
import os
import random
import subprocess
import sys
import wave
from concurrent.futures import ThreadPoolExecutor

import mido

RATE = 44100
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
GAIN = "0.5"
# The render copy: every event at its exact time under one tempo, with
# ticks of 26 microseconds (the player rounds at tempo changes).
RENDER_TPB = 19200
RENDER_TEMPO = 500000
# The renderer's player acts on whole blocks and whole milliseconds.
SYNTH_BLOCK = 64

KICK, RIM, SNARE, CLAP, HAT, PEDAL_HAT, OPEN_HAT, CRASH, RIDE = 36, 37, 38, 39, 42, 44, 46, 49, 51
DRUMS = 9
BASS_CH, CHORD_CH, PAD_CH = 0, 1, 2


# ---------------------------------------------------------------- time
class TempoMap:
    """Tempo in BPM over beats: segments (first beat, bpm at start, bpm at
    the start of the next segment or None for steady). Linear in beats."""

    def __init__(self, segments):
        self.segments = sorted(segments)

    def _segment(self, beat):
        for i in range(len(self.segments) - 1, -1, -1):
            if beat >= self.segments[i][0] or i == 0:
                return i

    def _span(self, i):
        b0, a, c = self.segments[i]
        b1 = self.segments[i + 1][0] if i + 1 < len(self.segments) else None
        return b0, b1, a, (a if c is None or b1 is None else c)

    def bpm(self, beat):
        b0, b1, a, c = self._span(self._segment(beat))
        return a if b1 is None else a + (c - a) * (beat - b0) / (b1 - b0)

    def seconds(self, beat):
        t = 0.0
        for i in range(len(self.segments)):
            b0, b1, a, c = self._span(i)
            end = beat if b1 is None or beat < b1 else b1
            if end <= b0:
                break
            if c == a:
                t += 60.0 * (end - b0) / a
            else:
                k = (c - a) / (b1 - b0)
                t += 60.0 / k * math.log((a + k * (end - b0)) / a)
            if b1 is None or beat < b1:
                break
        return t

    def midi_events(self, tpb):
        """Tempo events of the original file: one per segment, one per
        beat inside a ramp."""
        out = []
        for i in range(len(self.segments)):
            b0, b1, a, c = self._span(i)
            if c == a:
                out.append((b0, a))
            else:
                for b in range(int(b0), int(b1)):
                    out.append((b, (self.bpm(b) + self.bpm(b + 1)) / 2))
        return [(round(b * tpb), round(60e6 / bpm)) for b, bpm in out]


def render_tick(seconds):
    return round(seconds * 1e6 / RENDER_TEMPO * RENDER_TPB)


def heard_sample(tick, offset):
    """Sample at which an event of the render copy starts sounding: the
    player sends it at the first synthesis block whose whole-millisecond
    clock has reached its tick; the sound starts `offset` samples later."""
    ms_per_tick = RENDER_TEMPO / 1000.0 / RENDER_TPB
    block = max(0, int(tick * ms_per_tick * RATE / 1000 / SYNTH_BLOCK) - 2)
    while int(((block * SYNTH_BLOCK * 1000) // RATE) / ms_per_tick + 0.5) < tick:
        block += 1
    return block * SYNTH_BLOCK + offset


# ---------------------------------------------------------------- harmony
NOTE = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def chord(name):
    """'Am' -> (root pitch class, minor?)"""
    root = NOTE[name[0]] + (1 if name[1:2] == "#" else -1 if name[1:2] == "b" else 0)
    return root % 12, name.endswith("m")


def triad(name, octave=5):
    root, minor = chord(name)
    base = 12 * octave + root
    return [base, base + (3 if minor else 4), base + 7]


def bass_pitch(name, octave=2):
    return 12 * octave + chord(name)[0]


# ---------------------------------------------------------------- styles
# A style plays one bar: style(bar, chord, parts, rng) -> list of
# (channel, beat in bar, length in beats, pitch, velocity). `parts` is the
# set of parts playing ("drums", "bass", "chords", "pad", "crash").

def hits(beats, note, vel, rng, spread=6):
    return [(DRUMS, b, 0.1, note, max(1, min(127, vel + rng.randint(-spread, spread))))
            for b in beats]


def style_ballad(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 2.5], KICK, 100, rng) + hits([1, 3], SNARE, 92, rng)
        ev += hits([i / 2 for i in range(8)], HAT, 50, rng)
    if "bass" in parts:
        ev += [(BASS_CH, 0, 1.9, bass_pitch(ch), 100), (BASS_CH, 2, 1.9, bass_pitch(ch) + 7, 90)]
    if "chords" in parts:
        notes = triad(ch, 5)
        for i in range(8):
            ev.append((CHORD_CH, i / 2, 0.5, notes[i % 3] + (12 if i % 4 == 3 else 0), 62))
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 60) for n in triad(ch, 4)]
    return ev


def style_hiphop(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 1.75, 2.5], KICK, 108, rng) + hits([1, 3], SNARE, 100, rng)
        ev += hits([i / 2 for i in range(8)], HAT, 66, rng)
    if "bass" in parts:
        p = bass_pitch(ch)
        ev += [(BASS_CH, 0, 1.5, p, 105), (BASS_CH, 1.75, 0.5, p, 95), (BASS_CH, 2.5, 1.2, p + 3, 95)]
    if "chords" in parts:
        ev += [(CHORD_CH, 0, 1.8, n, 70) for n in triad(ch, 5)]
        ev += [(CHORD_CH, 2.5, 1.2, n, 62) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 55) for n in triad(ch, 4)]
    return ev


def style_funk(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 0.75, 2.5], KICK, 105, rng) + hits([1, 3], SNARE, 105, rng)
        ev += hits([1.75, 3.25], SNARE, 45, rng)                      # ghost notes
        ev += hits([i / 4 for i in range(16) if i % 2 == 0 and i != 14], HAT, 52, rng)
        ev += hits([i / 4 for i in range(16) if i % 2 == 1], HAT, 82, rng)  # off-beat accents
        ev += hits([3.5], OPEN_HAT, 85, rng)
    if "bass" in parts:
        p = bass_pitch(ch)
        for b, d, iv in [(0, 0.5, 0), (0.75, 0.25, 12), (1.5, 0.25, 0), (2.5, 0.5, 7),
                         (2.75, 0.25, 10), (3.5, 0.25, 12)]:
            ev.append((BASS_CH, b, d, p + iv, 100))
    if "chords" in parts:
        for b in (0.5, 1.75, 2.5, 3.75):                              # off-beat stabs
            ev += [(CHORD_CH, b, 0.2, n, 78) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 50) for n in triad(ch, 4)]
    return ev


def style_pop(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 2, 2.5], KICK, 104, rng) + hits([1, 3], SNARE, 100, rng)
        ev += hits([i / 2 for i in range(8)], HAT, 68, rng)
    if "bass" in parts:
        ev += [(BASS_CH, i / 2, 0.45, bass_pitch(ch), 92) for i in range(8)]
    if "chords" in parts:
        for b in range(4):
            ev += [(CHORD_CH, b, 0.9, n, 64) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 55) for n in triad(ch, 4)]
    return ev


def style_house(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 1, 2, 3], KICK, 112, rng) + hits([1, 3], CLAP, 90, rng)
        ev += hits([0.5, 1.5, 2.5, 3.5], OPEN_HAT, 88, rng)             # off-beat hats
        ev += hits([i / 4 for i in range(16) if i % 2 == 1], HAT, 45, rng)
    if "bass" in parts:
        ev += [(BASS_CH, b + 0.5, 0.4, bass_pitch(ch, 2), 105) for b in range(4)]
    if "chords" in parts:
        for b in (0.75, 2.25, 3.5):                                     # organ stabs, syncopated
            ev += [(CHORD_CH, b, 0.2, n, 76) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 62) for n in triad(ch, 4)]
    return ev


def style_rock(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 1.5, 2], KICK, 106, rng) + hits([1, 3], SNARE, 108, rng)
        ev += hits([i / 2 for i in range(8)], RIDE, 70, rng)
    if "bass" in parts:
        ev += [(BASS_CH, i / 2, 0.4, bass_pitch(ch), 98) for i in range(8)]
    if "chords" in parts:
        ev += [(CHORD_CH, 0, 1.4, n, 80) for n in triad(ch, 4)]
        ev += [(CHORD_CH, 1.5, 2.4, n, 74) for n in triad(ch, 4)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 55) for n in triad(ch, 4)]
    return ev


def style_dnb(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0, 2.5], KICK, 110, rng) + hits([1, 3], SNARE, 110, rng)
        ev += hits([i / 2 for i in range(8)], HAT, 64, rng)
        ev += hits([1.75, 3.75], SNARE, 40, rng)                        # ghost notes
    if "bass" in parts:
        ev += [(BASS_CH, 0, 2.2, bass_pitch(ch, 1), 110), (BASS_CH, 2.5, 1.4, bass_pitch(ch, 1), 100)]
    if "chords" in parts:
        ev += [(CHORD_CH, 0, 0.3, n, 60) for n in triad(ch, 5)]
        ev += [(CHORD_CH, 1.5, 0.3, n, 56) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 3.9, n, 58) for n in triad(ch, 4)]
    return ev


def style_waltz(bar, ch, parts, rng):
    ev = []
    if "drums" in parts:
        ev += hits([0], KICK, 108, rng) + hits([1, 2], SNARE, 70, rng)
        ev += hits([i / 2 for i in range(6)], HAT, 50, rng)
    if "bass" in parts:
        ev.append((BASS_CH, 0, 0.9, bass_pitch(ch), 105))
    if "chords" in parts:
        for b in (1, 2):                                                # oom-pah-pah
            ev += [(CHORD_CH, b, 0.7, n, 66) for n in triad(ch, 5)]
    if "pad" in parts:
        ev += [(PAD_CH, 0, 2.9, n, 52) for n in triad(ch, 4)]
    return ev


STYLES = {f.__name__[6:]: f for f in (style_ballad, style_hiphop, style_funk, style_pop,
                                      style_house, style_rock, style_dnb, style_waltz)}
PROGRAMS = {  # General MIDI programs (0-based) of the bass, chord and pad channels
    "ballad": (32, 0, 89), "hiphop": (33, 4, 89), "funk": (33, 4, 48), "pop": (33, 0, 48),
    "house": (38, 16, 89), "rock": (34, 29, 48), "dnb": (38, 4, 89), "waltz": (32, 0, 48),
}

FULL = {"drums", "bass", "chords"}
INTRO = {"drums", "bass"}


class Section:
    """parts may hold "light": of the drums only the kick and the closed
    hat play. gain scales every velocity (a quiet breakdown)."""

    def __init__(self, name, bars, parts=FULL, chords=("C", "Am", "F", "G"), gain=1.0):
        self.name, self.bars, self.parts, self.chords = name, bars, set(parts), list(chords)
        self.gain = gain


class Piece:
    """kind: what the scorer groups it under (steady, step, ramp, metre,
    breakdown, noisy, silence, noise)."""

    def __init__(self, name, kind, style, tempo, sections, beats_per_bar=4, seed=1,
                 noise_snr_db=None, step_bar=None):
        self.name, self.kind, self.style, self.tempo = name, kind, style, tempo
        self.sections, self.beats_per_bar, self.seed = sections, beats_per_bar, seed
        self.noise_snr_db, self.step_bar = noise_snr_db, step_bar


def song(chorus_bars=8, verse_bars=8, intro_bars=4, outro_bars=0, progression=("C", "Am", "F", "G")):
    s = [Section("intro", intro_bars, INTRO, progression), Section("verse", verse_bars, FULL, progression),
         Section("chorus", chorus_bars, FULL | {"pad", "crash"}, ("F", "G", "C", "Am"))]
    if outro_bars:
        s.append(Section("outro", outro_bars, INTRO, progression))
    return s


PIECES = [
    Piece("ballad_70", "steady", "ballad", TempoMap([(0, 70, None)]), song(4, 4, 2), seed=11),
    Piece("hiphop_88", "steady", "hiphop", TempoMap([(0, 88, None)]), song(4, 6, 2), seed=12),
    Piece("funk_102", "steady", "funk", TempoMap([(0, 102, None)]), song(6, 6, 2), seed=13),
    Piece("pop_118", "steady", "pop", TempoMap([(0, 118, None)]), song(6, 6, 4), seed=14),
    Piece("house_124", "steady", "house", TempoMap([(0, 124, None)]), song(8, 6, 2), seed=15),
    Piece("rock_148", "steady", "rock", TempoMap([(0, 148, None)]), song(8, 8, 4), seed=16),
    Piece("dnb_174", "steady", "dnb", TempoMap([(0, 174, None)]), song(8, 10, 4), seed=17),
    Piece("step_96_128", "step", "pop", TempoMap([(0, 96, None), (48, 128, None)]),
          [Section("verse", 12, FULL), Section("chorus", 12, FULL | {"crash"}, ("F", "G", "C", "Am"))],
          seed=18, step_bar=12),
    Piece("ramp_92_132", "ramp", "funk", TempoMap([(0, 92, None), (8, 92, 132), (104, 132, None)]),
          [Section("intro", 2, INTRO), Section("verse", 24, FULL), Section("chorus", 4, FULL | {"crash"})],
          seed=19),
    Piece("waltz_3_4_108", "metre", "waltz", TempoMap([(0, 108, None)]),
          [Section("intro", 4, INTRO), Section("verse", 8, FULL), Section("chorus", 8, FULL | {"crash"})],
          beats_per_bar=3, seed=20),
    Piece("breakdown_124", "breakdown", "house", TempoMap([(0, 124, None)]),
          [Section("intro", 4, INTRO), Section("verse", 8, FULL), Section("breakdown", 8, {"pad", "bass"}),
           Section("drop", 8, FULL | {"pad", "crash"})], seed=21),
    Piece("noisy_pop_112", "noisy", "pop", TempoMap([(0, 112, None)]), song(6, 6, 2), seed=22,
          noise_snr_db=10),
]
# Songs: sections that change character as a song's do (instruments
# come and go, a quiet breakdown, a drop), for the section analysis; their
# boundaries, and which sections are drops, go into NAME.json.
LIGHT = {"drums", "light"}
EDM = [Section("intro", 8, LIGHT, gain=0.7),
       Section("verse", 8, {"drums", "bass", "chords"}, gain=0.85),
       Section("chorus", 8, FULL | {"pad", "crash"}, ("F", "G", "Am", "Am")),
       Section("breakdown", 8, {"pad", "chords"}, ("Am", "F", "C", "G"), gain=0.55),
       Section("drop", 8, FULL | {"pad", "crash"}, ("F", "G", "Am", "Am"))]
SONGS = [
    Piece("song_house_126", "song", "house", TempoMap([(0, 126, None)]), EDM, seed=31),
    Piece("song_pop_104", "song", "pop", TempoMap([(0, 104, None)]),
          [Section("intro", 4, {"pad", "chords"}, gain=0.6),
           Section("verse", 8, LIGHT | {"bass", "chords"}, gain=0.8),
           Section("chorus", 8, FULL | {"pad", "crash"}, ("F", "G", "C", "Am")),
           Section("breakdown", 4, {"pad", "chords"}, ("Dm", "G"), gain=0.55),
           Section("drop", 8, FULL | {"pad", "crash"}, ("F", "G", "C", "Am"))], seed=32),
    Piece("song_rock_136", "song", "rock", TempoMap([(0, 136, None)]),
          [Section("intro", 4, {"chords"}, ("Em", "C", "G", "D"), gain=0.8),
           Section("verse", 8, FULL, ("Em", "C", "G", "D"), gain=0.85),
           Section("chorus", 8, FULL | {"pad", "crash"}, ("C", "D", "Em", "Em")),
           Section("breakdown", 4, LIGHT | {"bass"}, ("Em", "Em", "C", "D"), gain=0.6),
           Section("drop", 8, FULL | {"pad", "crash"}, ("C", "D", "Em", "Em"))], seed=33),
    Piece("song_dnb_172", "song", "dnb", TempoMap([(0, 172, None)]),
          [Section("intro", 8, LIGHT | {"pad"}, ("Am", "Am", "F", "G"), gain=0.6),
           Section("drop", 16, FULL | {"pad", "crash"}, ("Am", "Am", "F", "G")),
           Section("breakdown", 8, {"pad", "chords"}, ("F", "G", "Am", "Am"), gain=0.55),
           Section("drop", 8, FULL | {"crash"}, ("Am", "Am", "F", "G"))], seed=34),
    Piece("song_hiphop_92", "song", "hiphop", TempoMap([(0, 92, None)]),
          [Section("intro", 4, LIGHT | {"chords"}, ("Dm", "Am"), gain=0.7),
           Section("verse", 8, FULL, ("Dm", "Am"), gain=0.85),
           Section("chorus", 8, FULL | {"pad", "crash"}, ("F", "C", "Dm", "Dm")),
           Section("verse", 8, FULL, ("Dm", "Am"), gain=0.85)], seed=35),
]
PIECES += SONGS
# Pieces without a beat, rendered by sox: the tracker must stay unlocked.
QUIET = [("silence_20", "silence", "synth 20 sine 0 vol 0"),
         ("white_noise_20", "noise", "synth 20 whitenoise vol 0.3")]


# ---------------------------------------------------------------- compose
def compose(piece):
    """Notes (channel, start beat, end beat, pitch, velocity, program),
    and the bars: (first beat, section name)."""
    rng = random.Random(piece.seed)
    style = STYLES[piece.style]
    notes, bars = [], []
    beat = 0
    for sec in piece.sections:
        for i in range(sec.bars):
            ch = sec.chords[i % len(sec.chords)]
            parts = set(sec.parts)
            for c, b, length, pitch, vel in style(len(bars), ch, parts, rng):
                if "light" in parts and c == DRUMS and pitch not in (KICK, HAT):
                    continue
                vel = max(1, min(127, round(vel * sec.gain)))
                notes.append((c, beat + b, beat + b + length, pitch, vel))
            if "crash" in parts and i % 4 == 0:
                notes.append((DRUMS, beat, beat + 0.1, CRASH, 96))
            bars.append((beat, sec.name))
            beat += piece.beats_per_bar
    return notes, bars, beat


def channel_setup(track, piece):
    bass, chords, pad = PROGRAMS[piece.style]
    for c, p in ((BASS_CH, bass), (CHORD_CH, chords), (PAD_CH, pad)):
        track.append(mido.Message("program_change", channel=c, program=p, time=0))


def write_track(track, timed):
    """timed: (tick, order, message) -> delta times."""
    last = 0
    for tick, _, msg in sorted(timed, key=lambda e: (e[0], e[1])):
        track.append(msg.copy(time=tick - last))
        last = tick


def note_messages(notes, tick_of):
    out = []
    for c, b0, b1, pitch, vel in notes:
        out.append((tick_of(b0), 1, mido.Message("note_on", channel=c, note=pitch, velocity=vel)))
        out.append((tick_of(b1), 0, mido.Message("note_off", channel=c, note=pitch, velocity=0)))
    return out


def write_midis(piece, notes, end_beat, base):
    tpb = 960
    orig = mido.MidiFile(ticks_per_beat=tpb)
    tr = mido.MidiTrack()
    orig.tracks.append(tr)
    tr.append(mido.MetaMessage("time_signature", numerator=piece.beats_per_bar, denominator=4, time=0))
    channel_setup(tr, piece)
    timed = [(t, 0, mido.MetaMessage("set_tempo", tempo=us)) for t, us in piece.tempo.midi_events(tpb)]
    timed += note_messages(notes, lambda b: round(b * tpb))
    write_track(tr, timed)
    orig.save(base + ".mid")

    rend = mido.MidiFile(ticks_per_beat=RENDER_TPB)
    tr = mido.MidiTrack()
    rend.tracks.append(tr)
    tr.append(mido.MetaMessage("set_tempo", tempo=RENDER_TEMPO, time=0))
    channel_setup(tr, piece)
    timed = note_messages(notes, lambda b: render_tick(piece.tempo.seconds(b)))
    timed.append((render_tick(piece.tempo.seconds(end_beat + 2)), 2, mido.MetaMessage("marker", text="end")))
    write_track(tr, timed)
    rend.save(base + ".render.mid")


def references(piece, bars, end_beat, offset):
    def heard(beat):
        return heard_sample(render_tick(piece.tempo.seconds(beat)), offset) / RATE

    beats, downbeats = [], []
    for b in range(int(end_beat)):
        t = heard(b)
        pos = b % piece.beats_per_bar + 1
        beats.append([round(t, 6), pos])
        if pos == 1:
            downbeats.append(round(t, 6))
    sections = []
    for i, (b, name) in enumerate(bars):
        if not sections or sections[-1]["name"] != name or b == 0:
            sections.append({"name": name, "start": round(heard(b), 6), "bar": i, "drop": name == "drop"})
    for i, s in enumerate(sections):
        s["end"] = sections[i + 1]["start"] if i + 1 < len(sections) else round(heard(end_beat), 6)
    ref = {"beats": beats, "downbeats": downbeats,
           "metre": [[0.0, piece.beats_per_bar, 4]], "sections": sections,
           "tempo_segments": [list(s) for s in piece.tempo.segments],
           "render_offset_samples": offset, "sample_rate": RATE}
    if piece.step_bar is not None:
        ref["tempo_step"] = round(heard(piece.step_bar * piece.beats_per_bar), 6)
    return ref


# ---------------------------------------------------------------- audio
def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def fluidsynth(mid, wav):
    run(["fluidsynth", "-ni", "-q", "-g", GAIN, "-o", "synth.cpu-cores=1",
         "-F", wav, "-r", str(RATE), SOUNDFONT, mid])


def read_mono(path):
    with wave.open(path) as w:
        n, ch = w.getnframes(), w.getnchannels()
        raw = w.readframes(n)
    import array
    a = array.array("h", raw)
    return [(a[i] + a[i + 1]) / 2 for i in range(0, len(a), 2)] if ch == 2 else list(a)


def measure_offset(work):
    """Samples from MIDI time 0 to the first sample of a kick above 10 %
    of its peak."""
    mid = mido.MidiFile(ticks_per_beat=RENDER_TPB)
    tr = mido.MidiTrack()
    mid.tracks.append(tr)
    tr.append(mido.MetaMessage("set_tempo", tempo=RENDER_TEMPO, time=0))
    tr.append(mido.Message("note_on", channel=DRUMS, note=KICK, velocity=110, time=0))
    tr.append(mido.Message("note_off", channel=DRUMS, note=KICK, velocity=0, time=RENDER_TPB))
    base = os.path.join(work, "offset_probe")
    mid.save(base + ".mid")
    fluidsynth(base + ".mid", base + ".wav")
    s = [abs(v) for v in read_mono(base + ".wav")[:RATE // 2]]
    for ext in (".mid", ".wav"):
        os.remove(base + ext)
    peak = max(s)
    return next(i for i, v in enumerate(s) if v > 0.1 * peak)


def sox_stat_rms(path):
    r = subprocess.run(["sox", path, "-n", "stat"], check=True, capture_output=True, text=True)
    for line in r.stderr.splitlines():
        if line.startswith("RMS     amplitude"):
            return float(line.split(":")[1])
    raise RuntimeError("sox stat gave no RMS for " + path)


def add_noise(wav, snr_db):
    """Pink noise at snr_db below the music's RMS, mixed in with sox
    (seeded, noise and the mix's dither alike, so the same file every
    run)."""
    clean = wav[:-4] + ".clean.wav"
    noise = wav[:-4] + ".noise.wav"
    os.replace(wav, clean)
    dur = subprocess.run(["soxi", "-D", clean], check=True, capture_output=True, text=True).stdout.strip()
    run(["sox", "-R", "-n", "-r", str(RATE), "-c", "2", "-b", "16", noise, "synth", dur, "pinknoise", "vol", "0.2"])
    gain = sox_stat_rms(clean) / sox_stat_rms(noise) / 10 ** (snr_db / 20)
    run(["sox", "-R", "-m", "-v", "1", clean, "-v", "%.6f" % gain, noise, wav])
    os.remove(noise)
    os.remove(clean)


def build_piece(piece, out, offset):
    base = os.path.join(out, piece.name)
    notes, bars, end_beat = compose(piece)
    write_midis(piece, notes, end_beat, base)
    fluidsynth(base + ".render.mid", base + ".wav")
    if piece.noise_snr_db is not None:
        add_noise(base + ".wav", piece.noise_snr_db)
    with open(base + ".json", "w") as f:
        json.dump(references(piece, bars, end_beat, offset), f, indent=1)
    return {"name": piece.name, "kind": piece.kind, "wav": piece.name + ".wav",
            "ref": piece.name + ".json", "bpm": piece.tempo.segments[0][1],
            "beats_per_bar": piece.beats_per_bar}


def build_quiet(name, kind, synth, out):
    base = os.path.join(out, name)
    run(["sox", "-R", "-D", "-n", "-r", str(RATE), "-c", "2", "-b", "16", base + ".wav"] + synth.split())
    with open(base + ".json", "w") as f:
        json.dump({"beats": [], "downbeats": [], "metre": [], "sections": [],
                   "render_offset_samples": 0, "sample_rate": RATE}, f)
    return {"name": name, "kind": kind, "wav": name + ".wav", "ref": name + ".json",
            "bpm": None, "beats_per_bar": None}


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) > 1 else 2
    out = argv[1]
    only, jobs = None, 2
    i = 2
    while i < len(argv):
        if argv[i] == "--only" and i + 1 < len(argv):
            only = set(argv[i + 1].split(","))
        elif argv[i] == "--jobs" and i + 1 < len(argv):
            jobs = int(argv[i + 1])
        else:
            print("make_set.py: unknown option " + argv[i], file=sys.stderr)
            return 2
        i += 2
    os.makedirs(out, exist_ok=True)
    offset = measure_offset(out)
    pieces = [p for p in PIECES if only is None or p.name in only]
    quiet = [q for q in QUIET if only is None or q[0] in only]
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        done = list(pool.map(lambda p: build_piece(p, out, offset), pieces))
        done += list(pool.map(lambda q: build_quiet(*q, out), quiet))
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump({"render_offset_samples": offset, "pieces": done}, f, indent=1)
    print("beat set: %d pieces in %s (renderer offset %d samples)" % (len(done), out, offset))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
