#pragma once
// The loaded Standard MIDI File's read state: one Track per track chunk,
// reading events straight out of the file image held by the engine; the
// song's tempo map, read once at load; and what the transport keeps beside
// the engine's clock (pause, the ending of a song, note counts).
//
// All of it is engine data: the user-interface thread and the timer thread
// touch it only with the engine mutex held.

#include "engine/ChannelState.h"
#include "engine/StudioChannel.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace tonvero {

struct Track {
    int32_t position = 0;        // next unread byte, relative to dataOffset
    int32_t dataOffset = 0;      // offset in songData of the first event byte
    int32_t dataLength = 0;      // bytes of event data in the file image (clipped to the file)
    int32_t nextEventTick = 0;   // absolute tick of the next event (compared as unsigned)
    int32_t runningKind = 0;     // running status: message kind 1..8 of the last message
    int32_t runningChannel = 0;  // its channel 0..15
    int32_t ended = 0;           // end of track reached (its event, or its data ran out)
    int32_t cut = 0;             // the track's chunk runs past the end of the file
    // Format 2: the tick at which the track's own sequence begins (where the
    // one before it ends); 0 for the tracks of formats 0 and 1, which all
    // begin together.
    uint64_t startTick = 0;
    int32_t begun = 0;  // format 2: its first event has been reached since the rewind
};

// A growable list of owned Tracks: capacity 1 when the engine is made; an
// append to a full list makes the capacity size + 5. clear() releases the
// storage, leaving size and capacity 0.
class TrackList {
public:
    int32_t size() const { return static_cast<int32_t>(tracks_.size()); }
    int32_t capacity() const { return capacity_; }
    // The Track at `index`, or null outside 0 .. size - 1.
    Track* at(int32_t index) const {
        return index >= 0 && index < size() ? tracks_[static_cast<size_t>(index)].get() : nullptr;
    }
    void append(std::unique_ptr<Track> track) {
        if (size() == capacity_) {
            capacity_ = size() + 5;
            tracks_.reserve(static_cast<size_t>(capacity_));
        }
        tracks_.push_back(std::move(track));
    }
    void clear() {
        tracks_.clear();
        tracks_.shrink_to_fit();
        capacity_ = 0;
    }

private:
    std::vector<std::unique_ptr<Track>> tracks_;
    int32_t capacity_ = 1;
};

// Sums of ticks x microseconds per quarter note: up to 2^88 for songs past
// 2^64 ticks at the slowest tempo, so 128 bits.
__extension__ typedef unsigned __int128 TickTempoSum;

// One stretch of constant tempo: from `tick` on, each tick lasts
// `secondsPerTick`; `seconds` is the song time at `tick`. For exact frames,
// `tempo` is the stretch's microseconds per quarter note and `tickTempo` the
// sum of ticks x tempo over every stretch before it (song time at `tick`,
// in microseconds x division).
struct TempoPoint {
    uint64_t tick = 0;
    double seconds = 0;
    double secondsPerTick = 0;
    uint32_t tempo = 0;
    TickTempoSum tickTempo = 0;
};

constexpr uint64_t kNoTick = UINT64_MAX;

// The song's time line, read from all its tracks when it is loaded.
struct SongTiming {
    std::vector<TempoPoint> tempoMap;  // sorted by tick; the first one at tick 0
    uint64_t endTick = 0;              // the tick at which the last track ends
    double lengthSeconds = 0;          // song time of endTick
    int32_t division = 0;              // the song's division (ticks per quarter, or SMPTE)
    // The loop the song marks itself: the ticks of its "loopStart" and
    // "loopEnd" markers, or of controller 111 as a start; kNoTick for none.
    uint64_t loopStartTick = kNoTick;
    uint64_t loopEndTick = kNoTick;
    // The earliest tick at which a track breaks off (its data ends inside
    // an event, or its chunk runs past the end of the file); kNoTick when
    // every track is whole.
    uint64_t damagedTick = kNoTick;
};

// The note-ons the sequencer sent since play, in three counts: those that
// found an Instrument and a Zone (played), and those that found no
// Instrument for their program or no Zone for their key.
struct NoteCounts {
    int64_t played = 0;
    int64_t withoutInstrument = 0;
    int64_t withoutZone = 0;
};

// The song's state at one point of it, as a seek or a loop's turn restores
// it: where every track reads, the clock, and each channel as both kinds of
// mixer keep it. Made by reading the song from its start without sounding.
struct SongPoint {
    uint64_t tick = 0;          // the song tick (64-bit count) the point lies on
    uint64_t frame = 0;         // its song frame at the output rate (the Studio mixer's count)
    std::vector<Track> tracks;  // one per Track of the song
    int32_t tempo = 0;
    float secondsPerTick = 0;
    float ticksPerSecond = 0;
    int32_t ticksPerTimerEvent = 0;
    std::array<ChannelState, 16> channels{};  // the Custom and hardware mixers' channels (and programs for counting)
    std::array<StudioChannel, 16> studio{};   // the Studio mixer's channels
};

// What the listener sets beside play and stop: looping, the A-B range, the
// muted and soloed channels. It holds across play, stop and song loads.
struct ListenerSettings {
    bool loop = false;
    double rangeStart = 0;  // the A-B range in song seconds, when `hasRange`
    double rangeEnd = 0;
    bool hasRange = false;
    int32_t loopCount = 0;  // times the loop plays in all; 0 for ever
    uint16_t muted = 0;     // bit c: channel c
    uint16_t soloed = 0;
    int32_t volume = 100;  // master volume, percent
};

// A loop as it plays: its ends in song ticks and song frames, resolved when
// the song starts or the loop is changed.
struct ActiveLoop {
    bool armed = false;
    uint64_t startTick = 0;
    uint64_t endTick = 0;
    uint64_t startFrame = 0;
    uint64_t endFrame = 0;
    int64_t turns = 0;
    SongPoint start;  // the song as it stands at the loop's start
};

// Transport state beside the engine's own clock members.
struct PlaybackState {
    int32_t paused = 0;  // playing, with the timers and the output held
    // The song has ended and the output runs on until silent; meanwhile
    // sequencerTimer holds the 20 ms timer that watches for that.
    int32_t ending = 0;
    uint64_t endStartMicros = 0;    // timer-clock time at which the song ended
    uint64_t quietSinceMicros = 0;  // since when every voice has been silent
    int32_t quiet = 0;              // quietSinceMicros is valid
    // Hardware mixer: the voice buffers that were playing when paused
    // (bit i: waveBuffers slot i; bit 32 + i: voiceBuffers slot i) and
    // which of them looped.
    uint64_t pausedBuffers = 0;
    uint64_t pausedLooping = 0;
    NoteCounts notes;
    // Status bytes that have no place in a track (0xF1-0xF6, 0xF8-0xFE),
    // skipped with their data bytes since play.
    int64_t skippedStatuses = 0;
    // Studio mixer: the output frame of the song's time zero, the song tick
    // the sequencer has reached counted in 64 bits (currentTick wraps at
    // 2^32), and the output frame of the events being dispatched.
    // After a seek or a loop's turn song time zero lies before the output's
    // first frame: output frame = studioStartFrame + song frame, in
    // arithmetic modulo 2^64.
    uint64_t studioStartFrame = 0;
    // The first song frame to show as the position: where it was started or
    // moved to (with the device's callback rendering, the song is queued
    // ahead of what is heard).
    uint64_t heardFrom = 0;
    uint64_t songTick = 0;
    uint64_t eventFrame = 0;
    ActiveLoop loop;
    SongPoint seekPoint;  // the point the last seek went to (the Studio mixer reads its channels)
};

// The loaded song and where it stands, as the engine holds it. song/ owns it:
// the loader fills the file's part, the sequencer and the transport move the
// clock and keep the playback state; the engine only reads it (the clock
// stamps each note with the tick it started on).
struct SongState {
    std::vector<uint8_t> songData;  // the whole Standard MIDI File image; empty when none
    int32_t format = 0;             // the header's fields
    int32_t trackCount = 0;
    int32_t division = 0;
    TrackList tracks;  // one per track chunk used: capacity 1 when the engine is made
    // The song's clock: the tick the sequencer has reached (wrapping at
    // 2^32), the tempo in microseconds per quarter note, and the ticks a
    // sequencer timer event moves on at it.
    uint32_t currentTick = 0;
    int32_t tempo = 0;
    float secondsPerTick = 0;
    float ticksPerSecond = 0;
    int32_t ticksPerTimerEvent = 0;
    // The tempo map and length, read at load.
    SongTiming songTiming;
    // Pause, the ending of a song, note counts, loop and seek state.
    PlaybackState playback;
};

}  // namespace tonvero
