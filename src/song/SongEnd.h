#pragma once
// The end of a song. When the last track has ended the sequencer stops, every
// held note is released (as a note-off with the hold pedal up), and the output
// runs on until every voice has fallen silent and the sound already written
// ahead has played out, 10 s at most; then everything stops as stop() does.
// `playing` is 0 from the end of the song on. While the output runs on,
// songEndTimer holds a 20 ms timer that watches for that moment.
//
// Timer thread, engine mutex held.

#include "engine/MixerEngine.h"

namespace tonvero {

// The Custom and hardware mixers: every song note let go, as a note-off
// with the hold pedal up.
void releaseSongNotes(MixerEngine& engine) REQUIRES(engine.mutex);

// Called by the sequencer when every Track has ended.
void endSong(MixerEngine& engine) REQUIRES(engine.mutex);

// The watching timer's callback: takes the mutex on theEngine. Timer thread.
void songEndTimerProc();

// True when no voice sounds: no MixerVoice is active (software mixer), no
// voice buffer plays (hardware mixer). Mutex held.
bool allVoicesSilent(MixerEngine& engine) REQUIRES(engine.mutex);

}  // namespace tonvero
