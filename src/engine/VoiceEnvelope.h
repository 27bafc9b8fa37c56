#pragma once
// A voice's envelope, volume or modulation, stepped a chunk at a time: delay,
// attack, hold, decay to the sustain level, sustain while the note is held,
// release once it is let go.
//
// The level is kept on a 0..1 scale. For the modulation envelope that scale
// is the envelope's output. For the volume envelope it is decibels: 1 is
// full level, 0 is 96 dB down (silence), so decay and release fall a fixed
// number of decibels per second, as SoundFont envelopes do; only the attack
// rises in amplitude, from silence to full level in a straight line.
//
// Threads: the Studio mixer's renderer; real-time safe.

#include "bank/Articulation.h"

#include <cstdint>

namespace tonvero {

class VoiceEnvelope {
public:
    enum class Stage : uint8_t { Delay, Attack, Hold, Decay, Sustain, Release, Finished };
    // The volume envelope's range on the 0..1 scale.
    static constexpr double kVolumeRangeDb = 96.0;

    VoiceEnvelope() = default;
    // For a note of `key` at `rate` Hz. `volume`: the volume envelope (sustain
    // in centibels, the decibel scale); else a modulation envelope (sustain in
    // tenths of a per cent).
    VoiceEnvelope(const EnvelopeSettings& settings, int32_t key, int32_t rate, bool volume);

    // Moves on `frames` frames; returns the level at the end (0..1 scale).
    float advance(uint32_t frames) noexcept;
    // The note is let go: the release starts from the level reached.
    void release() noexcept;
    Stage stage() const { return stage_; }
    float level() const { return static_cast<float>(level_); }
    // The volume envelope's level as an amplitude (0..1): straight during the
    // attack, on the decibel scale afterwards.
    float amplitude() const noexcept;

private:
    void enter(Stage stage) noexcept;

    bool volume_ = false;
    Stage stage_ = Stage::Finished;
    double level_ = 0;       // 0..1; during the volume attack an amplitude
    double framesLeft_ = 0;  // in the current timed stage
    double delayFrames_ = 0, attackFrames_ = 0, holdFrames_ = 0;
    double decayPerFrame_ = 0;    // fall of the 0..1 scale per frame in decay
    double releasePerFrame_ = 0;  // ... and in release
    double sustain_ = 1;          // 0..1 scale
};

}  // namespace tonvero
