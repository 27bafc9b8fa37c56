#!/usr/bin/env python3
"""Writes the songs bench/compare-players renders beside data/demo.mid.

  dense-piano.mid   1:36 of solo piano, both hands in sixteenths with chords
                    and the hold pedal: many short notes, up to all 32 voices
  gm-16-channels.mid  1:36 at 184 BPM on all 16 channels: 15 General MIDI
                    programs and the drum channel, with pitch bends, pan and
                    volume controllers
  sparse-long.mid   4:00 at 60 BPM: a few long notes over slow pads, with
                    silences between phrases

Usage: bench/make-bench-songs.py OUTDIR
Only the Python standard library is used; every run writes the same bytes
(the patterns come from fixed seeds).
"""

import os
import random
import struct
import sys

DIVISION = 480  # ticks per quarter note


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    """Events at absolute ticks, written in time order (note-offs first among equals)."""

    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def add(self, tick, data, order=1):
        self.events.append((int(tick), order, bytes(data)))

    def tempo(self, tick, bpm):
        micros = round(60_000_000 / bpm)
        self.add(tick, b"\xff\x51\x03" + micros.to_bytes(3, "big"), order=0)

    def name(self, text):
        raw = text.encode("ascii")
        self.add(0, b"\xff\x03" + var_len(len(raw)) + raw, order=0)

    def program(self, tick, channel, program):
        self.add(tick, (0xC0 | channel, program), order=0)

    def control(self, tick, channel, number, value):
        self.add(tick, (0xB0 | channel, number, value), order=0)

    def bend(self, tick, channel, value):  # value -8192..8191
        v = max(0, min(16383, value + 8192))
        self.add(tick, (0xE0 | channel, v & 0x7F, v >> 7), order=1)

    def note(self, tick, length, channel, key, velocity):
        self.add(tick, (0x90 | channel, key, velocity), order=2)
        self.add(tick + max(1, length), (0x80 | channel, key, 0), order=0)

    def chunk(self):
        body = bytearray()
        now = 0
        for tick, _, data in sorted(self.events, key=lambda e: (e[0], e[1])):
            body += var_len(tick - now) + data
            now = tick
        body += var_len(0) + b"\xff\x2f\x00"
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def write_song(path, tracks):
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION)
    with open(path, "wb") as out:
        out.write(header)
        for track in tracks:
            out.write(track.chunk())


# Chords as MIDI keys of the root-position triad below middle C, and a
# progression that every song walks through.
CHORDS = {
    "C": (48, 52, 55), "Am": (45, 48, 52), "F": (41, 45, 48), "G": (43, 47, 50),
    "Dm": (50, 53, 57), "E": (40, 44, 47), "Em": (40, 43, 47), "Bb": (46, 50, 53),
}
PROGRESSION = ["C", "Am", "F", "G", "Dm", "G", "Em", "Am", "F", "Bb", "G", "E"]
C_MAJOR = [0, 2, 4, 5, 7, 9, 11]


def scale_key(root, degree):
    octave, step = divmod(degree, 7)
    return root + 12 * octave + C_MAJOR[step]


def dense_piano():
    """Both hands in sixteenths at 120 BPM, chords on each beat, pedal per bar."""
    rng = random.Random(1)
    bpm, bars = 120, 48  # 48 bars of 4/4 at 120: 96 s
    bar = 4 * DIVISION
    six = DIVISION // 4
    meta, right, left = Track(), Track(), Track()
    meta.name("dense piano")
    meta.tempo(0, bpm)
    for t, ch in ((right, 0), (left, 1)):
        t.program(0, ch, 0)  # Acoustic Grand Piano
        t.control(0, ch, 7, 110)
        t.control(0, ch, 10, 80 if ch == 0 else 48)
    for b in range(bars):
        start = b * bar
        chord = CHORDS[PROGRESSION[b % len(PROGRESSION)]]
        # The hold pedal: up and down again at each bar line.
        for ch, t in ((0, right), (1, left)):
            t.control(start, ch, 64, 0)
            t.control(start + 10, ch, 64, 127)
        degree = rng.randrange(7, 14)
        for s in range(16):
            # Right hand: a running line of sixteenths around two octaves up.
            degree = max(7, min(20, degree + rng.choice((-2, -1, 1, 1, 2))))
            right.note(start + s * six, six - 10, 0, scale_key(60, degree - 7), 70 + rng.randrange(40))
            # Left hand: the chord broken in sixteenths, an octave down.
            left.note(start + s * six, six * 2, 1, chord[s % 3] - 12 + (12 if s % 8 >= 4 else 0), 60 + rng.randrange(30))
        for beat in range(4):
            for key in chord:
                right.note(start + beat * DIVISION, DIVISION - 40, 0, key + 12, 80 + rng.randrange(30))
    for ch, t in ((0, right), (1, left)):
        t.control(bars * bar, ch, 64, 0)
    return [meta, right, left]


# The arrangement's channels: (channel, program, register, role).
GM_BAND = [
    (0, 0, 60, "chords"),     # Acoustic Grand Piano
    (1, 33, 36, "bass"),      # Electric Bass (finger)
    (2, 48, 60, "pad"),       # String Ensemble 1
    (3, 25, 60, "strum"),     # Acoustic Guitar (steel)
    (4, 56, 72, "lead"),      # Trumpet
    (5, 65, 67, "lead"),      # Alto Sax
    (6, 73, 79, "lead"),      # Flute
    (7, 11, 72, "arp"),       # Vibraphone
    (8, 81, 72, "arp"),       # Lead 2 (sawtooth)
    (10, 52, 60, "pad"),      # Choir Aahs
    (11, 19, 48, "pad"),      # Church Organ
    (12, 40, 67, "lead"),     # Violin
    (13, 42, 48, "bass"),     # Cello
    (14, 61, 60, "chords"),   # Brass Section
    (15, 46, 72, "arp"),      # Orchestral Harp
]
KICK, SNARE, CLOSED_HAT, OPEN_HAT, CRASH, RIDE, TOMS = 36, 38, 42, 46, 49, 51, (45, 47, 50)


def gm_16_channels():
    """Every channel busy at 184 BPM: 15 programs and the drums, 96 s."""
    rng = random.Random(2)
    bpm, bars = 184, 72  # 72 bars of 4/4 at 184 BPM: 93.9 s
    bar = 4 * DIVISION
    eighth = DIVISION // 2
    meta = Track()
    meta.name("gm 16 channels")
    meta.tempo(0, bpm)
    tracks = [meta]
    for channel, program, register, role in GM_BAND:
        t = Track()
        t.program(0, channel, program)
        t.control(0, channel, 7, 90)
        t.control(0, channel, 10, (channel * 37) % 128)
        degree = 7
        for b in range(bars):
            start = b * bar
            chord = CHORDS[PROGRESSION[b % len(PROGRESSION)]]
            shift = register - 48
            if role == "bass":
                for e in range(8):
                    key = chord[0] + shift - 12 + (7 if e % 4 == 2 else 0)
                    t.note(start + e * eighth, eighth - 20, channel, key, 90 + rng.randrange(20))
            elif role == "pad":
                for key in chord:
                    t.note(start, bar - 30, channel, key + shift, 60)
            elif role == "chords":
                for beat in (0, 1.5, 2, 3.5):
                    for key in chord:
                        t.note(start + beat * DIVISION, eighth, channel, key + shift, 70 + rng.randrange(30))
            elif role == "strum":
                for e in range(8):
                    for i, key in enumerate(chord):
                        t.note(start + e * eighth + 8 * i, eighth - 30, channel, key + shift, 60 + rng.randrange(30))
            elif role == "arp":
                for s in range(16):
                    key = chord[s % 3] + shift + 12 * ((s // 3) % 2)
                    t.note(start + s * (DIVISION // 4), DIVISION // 4, channel, key, 50 + rng.randrange(40))
            else:  # lead: a phrase in eighths, a bend up into the first note of each bar
                if b % 2 == 0:
                    t.bend(start, channel, -4096)
                    for k in range(1, 9):
                        t.bend(start + k * 12, channel, -4096 + k * 512)
                for e in range(8):
                    if rng.random() < 0.2:
                        continue
                    degree = max(0, min(14, degree + rng.choice((-2, -1, 0, 1, 2))))
                    t.note(start + e * eighth, eighth - 10, channel, scale_key(register, degree), 80 + rng.randrange(40))
        tracks.append(t)
    drums = Track()
    drums.control(0, 9, 7, 110)
    for b in range(bars):
        start = b * bar
        if b % 8 == 0:
            drums.note(start, DIVISION, 9, CRASH, 110)
        for e in range(8):
            tick = start + e * eighth
            drums.note(tick, 60, 9, RIDE if b % 16 >= 8 else CLOSED_HAT, 70 + rng.randrange(30))
            if e in (0, 3, 5):
                drums.note(tick, 60, 9, KICK, 115)
            if e in (2, 6):
                drums.note(tick, 60, 9, SNARE, 110)
        if b % 4 == 3:  # a tom fill in sixteenths on the last beat
            for s, tom in enumerate(TOMS + (TOMS[-1],)):
                drums.note(start + 3 * DIVISION + s * (DIVISION // 4), 60, 9, tom, 100)
        else:
            drums.note(start + 3 * DIVISION + eighth, 60, 9, OPEN_HAT, 80)
    tracks.append(drums)
    return tracks


def sparse_long():
    """Four minutes at 60 BPM: long pad chords and a few bell notes, with rests."""
    rng = random.Random(3)
    bpm, bars = 60, 60  # 60 bars of 4/4 at 60 BPM: 240 s
    bar = 4 * DIVISION
    meta, pad, bells, bass = Track(), Track(), Track(), Track()
    meta.name("sparse long")
    meta.tempo(0, bpm)
    pad.program(0, 0, 89)    # Pad 2 (warm)
    bells.program(0, 1, 14)  # Tubular Bells
    bass.program(0, 2, 32)   # Acoustic Bass
    for b in range(bars):
        start = b * bar
        chord = CHORDS[PROGRESSION[(b // 2) % len(PROGRESSION)]]
        if b % 8 >= 6:
            continue  # two bars of rest in every eight
        if b % 2 == 0:
            for key in chord:
                pad.note(start, 2 * bar - 200, 0, key + 12, 55)
            bass.note(start, bar, 2, chord[0] - 12, 70)
        for _ in range(rng.randrange(0, 3)):
            beat = rng.randrange(4)
            bells.note(start + beat * DIVISION, DIVISION * 2, 1, scale_key(72, rng.randrange(7)), 60 + rng.randrange(40))
    return [meta, pad, bells, bass]


SONGS = {
    "dense-piano.mid": dense_piano,
    "gm-16-channels.mid": gm_16_channels,
    "sparse-long.mid": sparse_long,
}


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        sys.stderr.write("usage: bench/make-bench-songs.py OUTDIR\n")
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, make in SONGS.items():
        write_song(os.path.join(out_dir, name), make())
        print(os.path.join(out_dir, name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
