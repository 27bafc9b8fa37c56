#pragma once
// The sequencer: each timer event advances the Song by ticksPerTimerEvent
// ticks, dispatching every event that is due, track by track (lower index
// first) and within a track in file order; after the batch, the sounding
// voices of bent channels are retuned.
//
// Timer thread; the engine mutex is held (sequencerTimerProc takes it).

#include "engine/MixerEngine.h"
#include <cstdint>

namespace tonvero {

struct ChannelState;
struct Track;

// The sequencer timer's callback: runs sequencerTick on theEngine under
// sequencerBusy and the engine mutex. An event that finds sequencerBusy set,
// or the song paused, does nothing. Timer thread.
void sequencerTimerProc();

// Processes one batch of ticks. Nothing unless `playing`. Mutex held.
void sequencerTick(MixerEngine& engine) REQUIRES(engine.mutex);

// The Studio mixer's sequencer (its SongFeed): dispatches every tick whose
// output frame (from the song's tempo map, counted from the song's start
// frame) lies before `endFrame`, each event queued on its frame. Nothing
// unless playing and not paused. Timer thread (the mixer tick), mutex held.
void feedStudio(MixerEngine& engine, uint64_t endFrame) REQUIRES(engine.mutex);

// A set-tempo event: the sequencer timer is re-timed for `tempo` (microseconds
// per quarter note). The batch becomes 1 tick, or the fewest ticks (at least
// 2) that bring the rate before the change to 125 events a second or fewer;
// then at least 1 ms per event. A tempo of 0, or any tempo with an SMPTE
// division, changes nothing. Timer thread, mutex held.
void changeTempo(MixerEngine& engine, int32_t tempo) REQUIRES(engine.mutex);

// The batch and tempo a set-tempo event gives (changeTempo without the
// timer): a seek reads the song's clock with it. Mutex held.
void retimeClock(MixerEngine& engine, int32_t tempo) REQUIRES(engine.mutex);

// What the Custom and hardware mixers keep of controller `controller` =
// `value` (modulation, the bend range by data entry, volume, pan, the hold
// pedal), on the channel only; true when the channel's pitch changed.
bool chaseController(ChannelState& channel, int32_t controller, int32_t value);
// A pitch bend message's data bytes, scaled by the channel's bend range.
void chaseBend(ChannelState& channel, int32_t lsb, int32_t msb);

// True the first time a format 2 song's track `index` (above 0) reaches
// its first event since the rewind: its sequence begins at the default
// tempo. Marks the track as begun.
bool beginsSequence(const MixerEngine& engine, Track& track, int32_t index) REQUIRES(engine.mutex);

// A channel message played live through the Custom or hardware mixer
// (`status` 0x80..0xEF, its data bytes): the output starts if it was not
// running, and the message is dealt with as a song's would be at this
// moment, heard at the mixer's next pass. User-interface or input-polling
// thread, mutex held.
void playLiveMessage(MixerEngine& engine, uint8_t status, uint8_t data1, uint8_t data2) REQUIRES(engine.mutex);

// A system-exclusive block (the bytes after F0, and their count) is General
// MIDI System On (or GM2's), the GS reset or the XG reset.
bool isSystemReset(const uint8_t* data, uint32_t length);

}  // namespace tonvero
