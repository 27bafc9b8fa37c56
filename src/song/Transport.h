#pragma once
// The transport: starting, stopping, pausing and resuming the Song, the
// musical clock (tempo, seconds per tick, ticks per timer event) and the
// sequencer timer, and what the user interface asks about the song's place.
//
// Locking. Every engine operation runs with the engine mutex held. The four
// commands play, stop, pause and resume take the mutex THEMSELVES: call them
// without holding it. They kill timers, and killing a timer from the
// user-interface thread waits for its running callback, which needs the mutex.
// Everything else here expects the caller to hold the mutex (EngineLock).
//
// Timer periods are whole microseconds. A tick lasts tempo / division
// microseconds (or the fixed length an SMPTE division gives); a timer event
// processes ticksPerTimerEvent ticks, and never comes more often than once a
// millisecond: a shorter period is met by processing more ticks per event.

#include "engine/MixerEngine.h"
#include "engine/Song.h"

#include <cstdint>

namespace tonvero {

enum class TransportStatus {
    Idle,        // nothing plays
    Playing,     // the sequencer runs
    Paused,      // playing, held where it was
    Ending,      // the song has ended; the output plays out its last sounds
    Previewing,  // no song plays, the output runs for audition notes
};

constexpr uint64_t kMinSequencerPeriodMicros = 1000;
// How long the output may run on after the end of a song before it stops.
constexpr uint64_t kMaxEndingMicros = 10000000;

// --- commands: call WITHOUT holding the engine mutex ---

// Starts the Song from its beginning (stopping it first if it plays, is
// paused or is ending): tempo 500000, tracks rewound, channels 0..15 reset,
// tick 0, two ticks per timer event, the sequencer timer and the output
// started. Returns 1, or 0 when no Song is loaded (nothing changes then).
// User-interface thread.
int32_t play(MixerEngine& engine) EXCLUDES(engine.mutex);
// Stops at once: every voice of the software mixer is cut and the output
// silenced and stopped (the hardware mixer's buffers too), and the sequencer
// and mixer timers are killed. When it returns no sequencer or mixer
// callback is still running, so the Song or the bank may be replaced.
// Harmless when nothing plays. Any thread except inside a timer callback
// (there, use stopOnTimerThread).
void stop(MixerEngine& engine) EXCLUDES(engine.mutex);
// Holds a playing song where it is: the timers stop and the output holds
// still, notes and position kept. Nothing when not playing or already paused.
// User-interface thread.
void pause(MixerEngine& engine) EXCLUDES(engine.mutex);
// Goes on from where pause held the song. Nothing unless paused.
// User-interface thread.
void resume(MixerEngine& engine) EXCLUDES(engine.mutex);

// --- engine mutex held ---

// The clock as a song starts: tempo 500000 and the first batch of ticks.
void startClock(MixerEngine& engine) REQUIRES(engine.mutex);
// What stop does, for a timer callback (the end of a song): timer thread,
// inside a callback, mutex held. Killing the timers from there does not wait.
void stopOnTimerThread(MixerEngine& engine) REQUIRES(engine.mutex);
// tempo in microseconds per quarter note: sets `tempo`, `secondsPerTick`
// (tempo / division x 1e-6 s) and `ticksPerSecond`. With an SMPTE division a
// tick keeps its fixed length whatever the tempo.
void setTempo(MixerEngine& engine, int32_t tempo) REQUIRES(engine.mutex);
// Every Track back to its start (position 0, not ended, the first delta
// read) and channels 0..15 to their defaults; the preview channel is kept.
// Used by play, and by the editors before an audition note.
void rewindSong(MixerEngine& engine) REQUIRES(engine.mutex);
// The sequencer timer's period for the current tempo and batch, in microseconds.
uint64_t sequencerPeriodMicros(const MixerEngine& engine) REQUIRES(engine.mutex);
// Raises ticksPerTimerEvent until the period is at least 1 ms.
void keepPeriodAtLeastOneMs(MixerEngine& engine) REQUIRES(engine.mutex);

TransportStatus transportStatus(const MixerEngine& engine) REQUIRES(engine.mutex);
// Song time in seconds the sequencer has reached: 0 when idle, held while
// paused, the song's length once it has ended.
double songPositionSeconds(const MixerEngine& engine) REQUIRES(engine.mutex);
// The length of the loaded song by its tempo map, in seconds (0 with none).
double songLengthSeconds(const MixerEngine& engine) REQUIRES(engine.mutex);
// Note-ons sent since play, and how many found no Instrument or no Zone.
NoteCounts noteCounts(const MixerEngine& engine) REQUIRES(engine.mutex);
// Status bytes with no place in a track that the sequencer skipped since play.
int64_t skippedStatusCount(const MixerEngine& engine) REQUIRES(engine.mutex);

}  // namespace tonvero
