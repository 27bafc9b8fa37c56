#pragma once
// One timed command for the Studio mixer: a MIDI channel message, a system
// reset, or an audition note, with the output frame at which it applies.

#include <cstdint>

namespace tonvero {

struct Instrument;
struct StudioChannel;
struct Wave;
struct Zone;

struct StudioEvent {
    enum class Kind : uint8_t {
        Midi,         // `type` (0x80..0xE0, the status byte's high nibble), `channel`, `data1`, `data2`
        SystemReset,  // General MIDI System On, GS or XG reset: every song channel to its defaults
        PreviewOn,    // an audition note: `wave` at its own frequency on `channel`, answering to `noteId`
        PreviewOff,   // releases the audition note `noteId`
        PreviewKey,  // an audition of `instrument` at key `data1`, velocity `data2`, on `channel`, answering to `noteId`
        // The 16 song channels become `restore[0..15]`. `data1` kCutNotes:
        // the song's sounding notes are cut (a seek); kReleaseNotes: its held
        // notes are released and their tails ring on (a loop's turn).
        RestoreChannels,
    };
    static constexpr uint8_t kCutNotes = 0;
    static constexpr uint8_t kReleaseNotes = 1;

    uint64_t frame = 0;                      // output frame (the renderer's count) at which it applies
    const Wave* wave = nullptr;              // PreviewOn: the Wave played (not owned)
    const Zone* zone = nullptr;              // PreviewOn: the Zone it belongs to, whose articulation shapes it
    const Instrument* instrument = nullptr;  // PreviewKey: the Instrument played (not owned)
    const StudioChannel* restore = nullptr;  // RestoreChannels: 16 channels, kept by the sender until applied
    uint32_t fadings[3] = {};                // PreviewOn: the Instrument's loop, sustain and cutoff fading
    int32_t noteId = 0;                      // PreviewOn, PreviewOff
    Kind kind = Kind::Midi;
    uint8_t type = 0;
    uint8_t channel = 0;     // 0..15 MIDI channels, 16 the preview channel
    uint8_t data1 = 0;       // 0..127
    uint8_t data2 = 0;       // 0..127
    bool immediate = false;  // applies at the next frame rendered, whatever `frame` says (never late)
};

}  // namespace tonvero
