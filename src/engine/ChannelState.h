#pragma once
// The controller state of one channel: 16 MIDI channels, and the preview
// channel at index 16 that only audition notes use.

#include <cstdint>

namespace tonvero {

struct ChannelState {
    int32_t program = 0;       // ProgramMap entry played: 0..127, or 128 for the drum set
    int32_t modulation = 0;    // controller 1; kept, not heard
    int32_t pan = 0;           // 0 left, 64 centre, 127 right; read at note-on
    int32_t bendRange = 2;     // semitones, set by data entry
    float bend = 0.0f;         // current bend in semitones, already scaled by bendRange
    int32_t volume = 0;        // controller 7; kept, not heard
    int32_t sustain = 0;       // hold pedal down
    int32_t pitchChanged = 0;  // bend changed since the last rewind
};

// A song channel as rewinding the song leaves it.
inline ChannelState rewoundChannel() {
    ChannelState ch;
    ch.pan = 64;
    ch.volume = 120;
    return ch;
}

}  // namespace tonvero
