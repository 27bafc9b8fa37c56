#pragma once
// The editors' way into the one MixerEngine (theEngine).
//
// Locking: the user-interface thread is the only one that changes the bank,
// so the editors read it without the lock; every change they make to it
// holds the engine lock (EditorEngineLock), because the sequencer's note-ons read
// the bank on the timer thread while a song plays. The transport's stop is
// called without the lock (it waits for the timer callbacks, which need it).
//
// Threads: user-interface thread only.

#include "engine/MixerEngine.h"

#include <cstdint>

namespace tonvero {

// Holds theEngine's mutex for a scope; holds nothing when there is no engine.
class SCOPED_CAPABILITY EditorEngineLock {
public:
    EditorEngineLock() ACQUIRE(theEngine->mutex);
    ~EditorEngineLock() RELEASE();
    EditorEngineLock(const EditorEngineLock&) = delete;
    EditorEngineLock& operator=(const EditorEngineLock&) = delete;

private:
    MixerEngine* engine_;
};
// theEngine's bank, or null when there is no engine.
Bank* editedBank();
// The Instrument in the slot that the ProgramMap names for `program`
// (0..128), with no fallback to slot 0; null when that slot is empty.
Instrument* programSlotInstrument(int program);

// The editors' Test: stops a song that plays (or is paused or ending),
// silences the output, rewinds the song and plays the Zone's Wave at its own
// frequency on the preview channel. Returns the new note's id, or -1 when
// there is no engine, Instrument or Zone.
int32_t startTestNote(Instrument* instrument, Zone* zone);
// The keyboard strip's note: plays `instrument` at `key` (0..127) and
// `velocity` (1..127) on the preview channel through the engine's current
// mixer, as a song note of that key sounds. A song that plays goes on. The
// note's id, or -1 when there is no engine, Instrument or Zone for the key.
int32_t startKeyNote(Instrument* instrument, int32_t key, int32_t velocity);
// The editors' Stop: releases the test note with this id (nothing if none sounds).
void stopTestNote(int32_t noteId);

}  // namespace tonvero
