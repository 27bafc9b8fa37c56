#pragma once
// What the listener sets per channel and for the whole output (mute, solo,
// master volume), and what each MIDI channel is doing now, for the channel
// view: a copy taken in one short step, whichever mixer plays.
//
// Every function here expects the engine mutex held (EngineLock); the copy
// takes no longer than copying the channels' state.

#include "engine/MixerEngine.h"

#include <array>
#include <cstdint>

namespace tonvero {

constexpr int32_t kMidiChannels = 16;

struct ChannelActivity {
    int32_t program = 0;             // 0..127 (on the drum channel: the kit)
    int32_t bankMsb = 0;             // controller 0 (0 where the mixer does not keep it)
    int32_t bankLsb = 0;             // controller 32
    int32_t volume = 100;            // controller 7
    int32_t expression = 127;        // controller 11
    int32_t pan = 64;                // controller 10
    bool drums = false;              // the channel plays a drum kit
    float level = 0;                 // peak level of the last block the channel sounded in, 0..1 (full scale)
    std::array<uint64_t, 2> keys{};  // bit k of keys[k / 64]: a note of key k sounds (held or releasing)
    bool muted = false;
    bool soloed = false;
    bool audible = true;  // neither muted nor silenced by another channel's solo
};

using ChannelActivities = std::array<ChannelActivity, kMidiChannels>;

// Copies every channel's activity into `out`.
void channelActivity(const MixerEngine& engine, ChannelActivities& out) REQUIRES(engine.mutex);

// Mute and solo of MIDI channel 0..15. A muted channel, or any channel but
// the soloed ones while one is soloed, is silent at once (its sounding notes
// fade out within a few milliseconds); it still follows the song's
// controllers, so unmuting it plays its next notes as the song has them.
// They hold across play, stop and loading another song.
void setChannelMuted(MixerEngine& engine, int32_t channel, bool muted) REQUIRES(engine.mutex);
void setChannelSoloed(MixerEngine& engine, int32_t channel, bool soloed) REQUIRES(engine.mutex);
// Bit c: channel c.
uint16_t mutedChannels(const MixerEngine& engine) REQUIRES(engine.mutex);
uint16_t soloedChannels(const MixerEngine& engine) REQUIRES(engine.mutex);
void setMutedChannels(MixerEngine& engine, uint16_t mask) REQUIRES(engine.mutex);
void setSoloedChannels(MixerEngine& engine, uint16_t mask) REQUIRES(engine.mutex);
bool channelAudible(const MixerEngine& engine, int32_t channel) REQUIRES(engine.mutex);

// The Custom and hardware mixers: cuts at once every song note (held or
// released) of the channels in `channels` (bit c: channel c). Nothing in
// the Studio mixer, which ramps its own voices out.
void cutChannelNotes(MixerEngine& engine, uint16_t channels) REQUIRES(engine.mutex);

// Master volume, 0..100 (100: as mixed, unchanged to the bit): a gain of
// (percent / 100)^2 on the output, reached smoothly over 20 ms.
void setMasterVolume(MixerEngine& engine, int32_t percent) REQUIRES(engine.mutex);
int32_t masterVolume(const MixerEngine& engine) REQUIRES(engine.mutex);
// Gives the sound device the master volume (when the output opens).
void applyMasterVolume(MixerEngine& engine) REQUIRES(engine.mutex);

}  // namespace tonvero
