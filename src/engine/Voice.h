#pragma once
// A Voice stands for one held note. Its sound lives on in a MixerVoice
// (software mixer) or a device buffer (hardware mixer) until the release has
// played out.

#include <cstdint>

namespace tonvero {

struct Wave;

struct Voice {
    int32_t key = 0;          // MIDI key; for an audition note the Zone's basicNote
    int32_t channel = 0;      // 0..15, or 16 for an audition note
    int32_t velocity = 0;     // 1..127; 128 for an audition note
    int32_t pitchOffset = 0;  // semitones from the Zone's basicNote
    int32_t mixerVoice = -1;  // software mixer: index of the MixerVoice playing it, -1 none
    int32_t noteId = 0;       // id given by previewNote
    uint32_t startTick = 0;   // song tick at the start: the Voice's age
    int32_t active = 0;       // the key is held
    Wave* wave = nullptr;     // not owned
    // Hardware mixer: the engine buffer slot playing the note, -1 none.
    // 0..31 are waveBuffers slots, 32..63 voiceBuffers slots 0..31.
    int32_t bufferRef = -1;
    // Serial number of the sound this Voice started (0: none). The MixerVoice or
    // buffer slot playing that sound carries the same number; once the slot
    // has gone to a later note the numbers differ and this Voice no longer
    // reaches it (MixerEngine::mixerVoiceOf, MixerEngine::bufferOf).
    uint32_t soundSerial = 0;
};

}  // namespace tonvero
