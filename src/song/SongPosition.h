#pragma once
// Moving about in the song: seeking to any song time, and looping (the whole
// song, an A-B range the listener sets, or the loop the song marks itself).
//
// A seek restores every channel as the song has it at that point (program,
// bank, every controller, pitch bend and its range, pedals) by reading the
// song from its start up to there without sounding anything; the notes that
// would be held there stay silent. The sound already playing is cut with a
// short ramp. A loop turn does the same without cutting: the notes held at
// the loop's end are released, the channels become what they were at the
// loop's start, and the song goes on from there on the very next frame, so
// the Studio mixer plays the turn with no gap and no click.
//
// The loop a song marks: the marker meta events named "loopStart" and
// "loopEnd" (any case), or controller 111 as a loop start (the loop then
// ends with the song). Looping plays, in this order of precedence, the A-B
// range, the song's own loop, or the whole song.
//
// Locking as in Transport.h: the commands take the engine mutex themselves;
// everything else expects the caller to hold it.

#include "engine/MixerEngine.h"

#include <cstdint>

namespace tonvero {

struct SongPoint;

// The shortest loop: an A-B range shorter than this is refused.
constexpr double kMinLoopSeconds = 0.05;

struct LoopRange {
    enum class Source { Song, Markers, Range };
    double startSeconds = 0;
    double endSeconds = 0;
    Source source = Source::Song;
};

// --- commands: call WITHOUT holding the engine mutex ---

// Starts the song at `seconds` of song time (clamped to 0 .. its length),
// the channels as the song has them there. Returns 1, or 0 with no song.
// User-interface thread (or the thread that drives an offline engine).
int32_t playFrom(MixerEngine& engine, double seconds) EXCLUDES(engine.mutex);
// Moves a playing or paused song to `seconds` (a paused song stays paused
// there); a song that is stopped or ending plays from there (playFrom).
// Returns 1, or 0 with no song.
int32_t seek(MixerEngine& engine, double seconds) EXCLUDES(engine.mutex);

// --- engine mutex held ---

// Looping on or off; it holds across play and stop. Turning it off lets the
// song run on past the loop's end.
void setLooping(MixerEngine& engine, bool on) REQUIRES(engine.mutex);
bool looping(const MixerEngine& engine) REQUIRES(engine.mutex);
// How many times the loop plays in all before the song goes on past it to
// its end (0, the default: for ever).
void setLoopCount(MixerEngine& engine, int32_t count) REQUIRES(engine.mutex);
// The A-B range in song seconds; false (nothing changes) when it is shorter
// than kMinLoopSeconds or does not lie inside the song.
bool setLoopRange(MixerEngine& engine, double startSeconds, double endSeconds) REQUIRES(engine.mutex);
void clearLoopRange(MixerEngine& engine) REQUIRES(engine.mutex);
bool hasLoopRange(const MixerEngine& engine) REQUIRES(engine.mutex);
// The range a loop plays with the loaded song (the whole song with none loaded: 0 .. 0).
LoopRange loopRange(const MixerEngine& engine) REQUIRES(engine.mutex);
// How many loop turns the song has made since play.
int64_t loopTurns(const MixerEngine& engine) REQUIRES(engine.mutex);

// --- for the transport and the sequencer (engine mutex held) ---

// Reads the song from its start up to (not including) `tick` into `point`,
// sounding nothing; the engine's own state is left as it was.
void locateSong(MixerEngine& engine, uint64_t tick, SongPoint& point) REQUIRES(engine.mutex);
// Puts the song's tracks, tick, clock and the Custom mixer's channels where
// `point` has them (the Studio mixer's channels go by postChannelRestore).
void applySongPoint(MixerEngine& engine, const SongPoint& point) REQUIRES(engine.mutex);
// Queues the Studio mixer's channels of `point`, with what becomes of the
// notes sounding (StudioEvent::kCutNotes or kReleaseNotes).
void postChannelRestore(MixerEngine& engine, const SongPoint& point, uint8_t notes, uint64_t frame, bool immediate)
    REQUIRES(engine.mutex);
// Moves the loaded, playing song to `seconds`, cutting what sounds.
void moveSong(MixerEngine& engine, double seconds) REQUIRES(engine.mutex);
// Resolves the loop for the playing song from the listener's settings
// (none when looping is off, or its count has been played).
void armLoop(MixerEngine& engine) REQUIRES(engine.mutex);
// The loop turns before the song reaches `nextTick` (its next event).
bool loopTurnDue(const MixerEngine& engine, uint64_t nextTick) REQUIRES(engine.mutex);
// The loop's turn: called by the sequencer when the song reaches the loop's end.
void turnLoop(MixerEngine& engine) REQUIRES(engine.mutex);

}  // namespace tonvero
