#pragma once
// The song's clock: how long a tick lasts for a division and a tempo, the
// tempo map read from every track of a song, and song time at a tick.
//
// A division with its top bit set is an SMPTE time code: the high byte is
// minus the frames per second (24, 25, 29 for 29.97 drop-frame, 30) and the
// low byte the ticks per frame, so a tick has a fixed length and tempo events
// do not change it. Any other division counts ticks per quarter note.
//
// Pure functions of their arguments; any thread.

#include "engine/Song.h"

#include <cstdint>
#include <vector>

namespace tonvero {

constexpr int32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 per minute

inline bool isSmpteDivision(int32_t division) { return (division & 0x8000) != 0; }
// Ticks per second of an SMPTE division; 0 for a quarter-note division or
// for an SMPTE division with no ticks per frame.
double smpteTicksPerSecond(int32_t division);
// Microseconds per tick at `tempo` microseconds per quarter note (the tempo
// is not used with an SMPTE division); 0 for a division of 0.
double microsPerTick(int32_t division, int32_t tempo);

// Reads every track of a song from its start: the tempo changes (set-tempo
// meta events with 3 data bytes and a tempo above 0; none with an SMPTE
// division), the tick at which the last track ends, and the song's length.
// The tracks are read as the sequencer reads them. With format 2 each track
// is a sequence of its own that begins where the one before it ends, at the
// default tempo: the scan sets each Track's startTick and places its tempo
// changes after it; nothing else in `tracks` changes.
SongTiming scanSongTiming(const std::vector<uint8_t>& songData, TrackList& tracks, int32_t division,
                          int32_t format = 1);

// Song time in seconds at `tick`.
double secondsAtTick(const SongTiming& timing, uint64_t tick);

// The output frame, counted from song time zero at `rate` Hz, on which `tick`
// falls: the sum over tempo stretches of ticks x tempo x rate / (division x
// 1,000,000), rounded down once (with an SMPTE division, ticks x rate /
// ticks per second, exactly). Integers only, so extreme tempos and
// divisions stay on their frame.
uint64_t frameAtTick(const SongTiming& timing, uint64_t tick, int32_t rate);
// The first tick, up to the song's end tick, whose frame is `frame` or later
// (the end tick when every tick falls before it).
uint64_t tickAtFrame(const SongTiming& timing, uint64_t frame, int32_t rate);

}  // namespace tonvero
