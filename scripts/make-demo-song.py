#!/usr/bin/env python3
"""Writes data/demo.mid, Tonvero's demo song, from the score in this file.

"Harbour Lights": about a minute of General MIDI in three sections, C major,
A minor and back, with a ritardando at the end. It exercises what a player
must do: thirteen programs on eight channels with program changes between
sections, the drum channel (channel 10), pitch bends (slides, vibrato and a
fall-off on the lead), the hold pedal on piano and vibraphone, volume and pan
controllers, and five tempo changes.

Usage: scripts/make-demo-song.py [OUT.mid]   (default: data/demo.mid)
Only the Python standard library is used; the output is the same every run.
"""

import os
import struct
import sys

DIVISION = 480  # ticks per quarter note
BAR = 4 * DIVISION

# Chord names to their notes (MIDI keys of the root-position triad around middle C).
CHORDS = {
    "C": (48, 52, 55), "Am": (45, 48, 52), "F": (41, 45, 48), "G": (43, 47, 50),
    "Dm": (50, 53, 57), "E": (40, 44, 47), "Em": (40, 43, 47),
}

# One chord per bar (a pair splits the bar in halves).
PROGRESSION = [
    # A: C major, 96 BPM
    "C", "Am", "F", "G", "C", "Am", ("Dm", "G"), "C",
    # B: A minor, 112 BPM
    "Am", "F", "C", "G", "Am", "F", "Dm", "E",
    # C: back home, 104 BPM, slowing to the end
    "F", "G", "Em", "Am", "Dm", "G", "C", "C",
]
SECTION_B, SECTION_C, FINAL_BARS = 8, 16, 22

# Tempo changes: (bar, beats per minute).
TEMPI = [(0, 96), (SECTION_B, 112), (SECTION_C, 104), (22, 96), (23, 84), (23.5, 72)]

# Melody: per bar, (beat, beats, key). Flute, then violin, saw lead, trumpet.
MELODY = [
    [(0, 2, 76), (2, 1, 79), (3, 1, 76)],
    [(0, 1.5, 69), (1.5, 0.5, 72), (2, 2, 76)],
    [(0, 1, 77), (1, 1, 76), (2, 1, 74), (3, 1, 72)],
    [(0, 3, 74), (3, 1, 71)],
    [(0, 1, 76), (1, 1, 79), (2, 2, 84)],
    [(0, 1, 83), (1, 1, 81), (2, 2, 76)],
    [(0, 1, 77), (1, 1, 74), (2, 1, 71), (3, 1, 74)],
    [(0, 4, 72)],
    [(0, 2, 81), (2, 1, 79), (3, 1, 76)],
    [(0, 2, 77), (2, 1, 76), (3, 1, 72)],
    [(0, 1, 76), (1, 1, 74), (2, 1, 72), (3, 1, 74)],
    [(0, 3, 71)],
    [(0, 0.5, 69), (0.5, 0.5, 72), (1, 1, 76), (2, 2, 81)],
    [(0, 1, 79), (1, 1, 77), (2, 1, 76), (3, 1, 72)],
    [(0, 1, 74), (1, 1, 77), (2, 2, 81)],
    [(0, 2, 80), (2, 1, 83), (3, 1, 88)],
    [(0, 1, 72), (1, 1, 77), (2, 2, 81)],
    [(0, 1, 83), (1, 1, 81), (2, 2, 79)],
    [(0, 1, 79), (1, 1, 76), (2, 2, 71)],
    [(0, 1, 72), (1, 1, 76), (2, 2, 81)],
    [(0, 2, 77), (2, 1, 76), (3, 1, 74)],
    [(0, 2, 74), (2, 2, 71)],
    [(0, 4, 72)],
    [(0, 4, 76)],
]

# General MIDI programs by channel and section (A, B, C).
FLUTE, VIOLIN, SAW_LEAD, TRUMPET = 73, 40, 81, 56
PIANO, E_PIANO = 0, 4
ACOUSTIC_BASS, FINGERED_BASS = 32, 33
STRINGS, CHOIR, WARM_PAD = 48, 52, 89
NYLON_GUITAR, VIBRAPHONE = 24, 11
DRUM_CHANNEL = 9  # channel 10

KICK, SIDE_STICK, SNARE, CLOSED_HAT, OPEN_HAT = 36, 37, 38, 42, 46
LOW_TOM, MID_TOM, HIGH_TOM, CRASH, RIDE, TAMBOURINE = 45, 47, 50, 49, 51, 54


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    """Events of one track chunk, kept as (tick, order, bytes) and sorted on output."""

    def __init__(self, name):
        self.events = []
        self.meta(0, 0x03, name.encode("ascii"))

    def add(self, tick, data, order=1):
        self.events.append((int(round(tick)), order, len(self.events), bytes(data)))

    def meta(self, tick, kind, data):
        self.add(tick, bytes([0xFF, kind]) + var_len(len(data)) + data, order=0)

    def note(self, channel, tick, ticks, key, velocity):
        self.add(tick, [0x90 | channel, key, velocity], order=2)
        # Note-offs sort before note-ons at the same tick, so repeated keys restart cleanly.
        self.add(tick + ticks, [0x80 | channel, key, 64], order=1)

    def control(self, channel, tick, number, value, order=1):
        self.add(tick, [0xB0 | channel, number, value], order)

    def program(self, channel, tick, number):
        self.add(tick, [0xC0 | channel, number], order=0)

    def bend(self, channel, tick, value):
        """value -8192 .. 8191; 0 is the centre."""
        v = max(0, min(16383, value + 8192))
        self.add(tick, [0xE0 | channel, v & 0x7F, v >> 7], order=1)

    def chunk(self):
        body = bytearray()
        last = 0
        for tick, _order, _seq, data in sorted(self.events):
            body += var_len(tick - last) + data
            last = tick
        body += var_len(0) + b"\xFF\x2F\x00"
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def bar_tick(bar, beat=0.0):
    return bar * BAR + beat * DIVISION


def chords_of(bar):
    """(beat, beats, chord notes) for each chord of a bar."""
    entry = PROGRESSION[bar]
    if isinstance(entry, tuple):
        return [(0, 2, CHORDS[entry[0]]), (2, 2, CHORDS[entry[1]])]
    return [(0, 4, CHORDS[entry])]


def section_of(bar):
    return 0 if bar < SECTION_B else 1 if bar < SECTION_C else 2


def setup(track, channel, program, volume, pan):
    track.program(channel, 0, program)
    track.control(channel, 0, 7, volume, order=0)
    track.control(channel, 0, 10, pan, order=0)
    track.control(channel, 0, 64, 0, order=0)
    track.bend(channel, 0, 0)


def conductor():
    t = Track("Harbour Lights")
    t.meta(0, 0x58, bytes([4, 2, 24, 8]))  # 4/4
    t.meta(0, 0x59, bytes([0, 0]))         # C major
    for bar, bpm in TEMPI:
        t.meta(bar_tick(bar), 0x51, struct.pack(">I", 60000000 // bpm)[1:])
    return t


def melody():
    t = Track("Melody")
    ch = 0
    setup(t, ch, FLUTE, 100, 64)
    t.program(ch, bar_tick(SECTION_B), VIOLIN)
    t.program(ch, bar_tick(12), SAW_LEAD)
    t.program(ch, bar_tick(SECTION_C), TRUMPET)
    for bar, notes in enumerate(MELODY):
        lead = 12 <= bar < SECTION_C
        for beat, beats, key in notes:
            start = bar_tick(bar, beat)
            length = beats * DIVISION * (0.95 if lead else 0.9)
            velocity = 96 if section_of(bar) == 0 else 104
            t.note(ch, start, length, key, velocity)
    # Violin: a slide up into the first note of section B.
    for step in range(9):
        t.bend(ch, bar_tick(SECTION_B) + step * 20, -4096 + step * 512)
    # Lead: a slide into E5, vibrato on the long A5, and a fall-off at the end.
    for step in range(9):
        t.bend(ch, bar_tick(12, 1) + step * 30, -4096 + step * 512)
    for step in range(33):
        offset = (-1, 0, 1, 0)[step % 4] * 360 if step < 32 else 0
        t.bend(ch, bar_tick(14, 2) + step * 30, offset)
    for step in range(17):
        t.bend(ch, bar_tick(15, 3) + step * 26, -step * 512 if step < 16 else -8192)
    t.bend(ch, bar_tick(SECTION_C) - 10, 0)
    return t


def piano():
    t = Track("Piano")
    ch = 1
    setup(t, ch, PIANO, 88, 50)
    t.program(ch, bar_tick(SECTION_C), E_PIANO)
    for bar in range(len(PROGRESSION)):
        section = section_of(bar)
        # Hold pedal: down just after each bar starts, up just before the next.
        t.control(ch, bar_tick(bar) + 10, 64, 127)
        t.control(ch, bar_tick(bar + 1) - 15, 64, 0)
        for beat, beats, (a, b, c) in chords_of(bar):
            if section == 2:
                for k in range(0, int(beats), 2):
                    for key in (a + 12, b + 12, c + 12):
                        t.note(ch, bar_tick(bar, beat + k), 1.8 * DIVISION, key, 72)
            else:
                pattern = (a, c, a + 12, b + 12, c + 12, b + 12, a + 12, c)
                for i in range(int(beats * 2)):
                    t.note(ch, bar_tick(bar, beat + i / 2), DIVISION / 2, pattern[i], 64 + (i % 2 == 0) * 10)
    return t


def bass():
    t = Track("Bass")
    ch = 2
    setup(t, ch, ACOUSTIC_BASS, 104, 64)
    t.program(ch, bar_tick(SECTION_B), FINGERED_BASS)
    for bar in range(len(PROGRESSION)):
        for beat, beats, (a, _b, c) in chords_of(bar):
            root = a - 12 if a >= 45 else a
            fifth = root + 7
            if section_of(bar) == 0 or bar >= FINAL_BARS:
                t.note(ch, bar_tick(bar, beat), min(beats, 2) * DIVISION * 0.9, root, 96)
                if beats == 4:
                    t.note(ch, bar_tick(bar, beat + 2), 1.8 * DIVISION, fifth, 88)
            else:
                line = (root, root, fifth, root + 12, root, fifth, root + 10, fifth)
                for i in range(int(beats * 2)):
                    t.note(ch, bar_tick(bar, beat + i / 2), DIVISION * 0.45, line[i], 100 - (i % 2) * 14)
    return t


def pad():
    t = Track("Pad")
    ch = 3
    setup(t, ch, STRINGS, 70, 84)
    t.program(ch, bar_tick(SECTION_B), CHOIR)
    t.program(ch, bar_tick(SECTION_C), WARM_PAD)
    for bar in range(len(PROGRESSION)):
        for beat, beats, notes in chords_of(bar):
            length = beats * DIVISION - 20 if bar < len(PROGRESSION) - 1 else 6 * DIVISION
            for key in notes:
                t.note(ch, bar_tick(bar, beat), length, key + 12, 70)
    return t


def guitar():
    t = Track("Guitar")
    ch = 4
    setup(t, ch, NYLON_GUITAR, 84, 30)
    for bar in range(SECTION_B, FINAL_BARS):
        for beat, beats, (a, b, c) in chords_of(bar):
            pattern = (a + 12, c + 12, b + 24, c + 12)
            for i in range(int(beats)):
                t.note(ch, bar_tick(bar, beat + i + 0.5), DIVISION * 0.9, pattern[i % 4], 76)
    return t


def vibraphone():
    t = Track("Vibraphone")
    ch = 5
    setup(t, ch, VIBRAPHONE, 80, 100)
    for bar in range(SECTION_C, len(PROGRESSION)):
        t.control(ch, bar_tick(bar) + 5, 64, 127)
        t.control(ch, bar_tick(bar + 1) - 10 if bar < len(PROGRESSION) - 1 else bar_tick(bar, 3.5), 64, 0)
        for beat, beats, (a, b, c) in chords_of(bar):
            for k, key in enumerate((c + 24, b + 24, a + 24, b + 24)[: int(beats)]):
                t.note(ch, bar_tick(bar, beat + k + 0.25), DIVISION / 3, key, 70)
    return t


def drums():
    t = Track("Drums")
    ch = DRUM_CHANNEL
    t.control(ch, 0, 7, 110, order=0)
    t.control(ch, 0, 10, 64, order=0)
    hit = DIVISION // 8

    def play(bar, beat, key, velocity):
        t.note(ch, bar_tick(bar, beat), hit, key, velocity)

    last = len(PROGRESSION) - 1
    for bar in range(last):
        section = section_of(bar)
        if bar in (0, SECTION_B, SECTION_C):
            play(bar, 0, CRASH, 100)
        if section == 0:
            play(bar, 0, KICK, 90)
            play(bar, 2, KICK, 80)
            for e in range(8):
                play(bar, e / 2, CLOSED_HAT, 70 if e % 2 == 0 else 50)
            if bar >= 4:
                play(bar, 1, SIDE_STICK, 80)
                play(bar, 3, SIDE_STICK, 80)
        else:
            for beat in ((0, 1.5, 2, 2.75) if section == 1 else (0, 2, 2.5)):
                play(bar, beat, KICK, 100)
            play(bar, 1, SNARE, 100)
            play(bar, 3, SNARE, 104)
            for e in range(8):
                key = CLOSED_HAT if section == 1 else RIDE
                if section == 1 and e == 7:
                    key = OPEN_HAT
                play(bar, e / 2, key, 76 if e % 2 == 0 else 56)
            if section == 2:
                play(bar, 1, TAMBOURINE, 60)
                play(bar, 3, TAMBOURINE, 60)
        if bar in (SECTION_B - 1, SECTION_C - 1, FINAL_BARS - 1):
            # A tom fill in the last beat before a new section.
            for i, key in enumerate((HIGH_TOM, HIGH_TOM, MID_TOM, LOW_TOM)):
                play(bar, 3 + i / 4, key, 90 + i * 4)
    play(last, 0, CRASH, 110)
    play(last, 0, KICK, 110)
    return t


def song():
    tracks = [conductor(), melody(), piano(), bass(), pad(), guitar(), vibraphone(), drums()]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION)
    return header + b"".join(t.chunk() for t in tracks)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "demo.mid")
    data = song()
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(data)} bytes")


if __name__ == "__main__":
    main()
