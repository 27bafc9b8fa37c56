#pragma once
// The Studio mixer's chorus: a few copies of the send on each side, each
// read from one delay line at a delay that swings slowly (a sine, the copies'
// phases spread evenly round the cycle, the right side's halfway between the
// left side's, so the two sides differ), interpolated between samples. Each
// side's copies are scaled so that on average they carry the send's own power.
//
// Made once for an output rate; process() allocates nothing and never waits.
// One thread at a time (the renderer's).

#include "engine/MixerMode.h"

#include <cstdint>
#include <vector>

namespace tonvero {

class Chorus {
public:
    Chorus(int32_t rate, const ChorusSettings& settings);

    // Adds the chorus of the mono send `input` (null: silence) to `left` and
    // `right`, `frames` of each.
    void process(const float* input, float* left, float* right, uint32_t frames) noexcept;
    // Nothing is left in the delay line: no send has come in for longer than
    // its longest delay.
    bool quiet() const { return quiet_; }
    void clear() noexcept;
    // Before `lead` (a chorus of the same settings and rate) processes a
    // block: a quiet chorus takes up its swing and write position, so that
    // choruses fed the parts of the lead's send, each processed with it,
    // add up to the lead's own chorus. (One that is not quiet has run every
    // piece the lead ran, and is in step already.)
    void follow(const Chorus& lead) noexcept;

    // The shortest delay of a copy, in seconds; the swing adds up to the depth to it.
    static constexpr double kMinDelaySeconds = 0.007;

private:
    static constexpr uint32_t kPiece = 64;

    // Adds one copy read from `position` (32.32, in the ring's sample count),
    // moving `step` a frame, to `out`, `n` frames.
    void addCopy(uint64_t position, uint64_t step, float* out, uint32_t n) const noexcept;
    void processPiece(const float* input, float* left, float* right, uint32_t frames) noexcept;

    int32_t voices_ = 0;
    double phase_ = 0;         // of the first copy's swing, in cycles
    double phaseStep_ = 0;     // cycles per frame
    float minDelay_ = 0;       // frames
    float depth_ = 0;          // frames
    float gain_ = 0;           // of each copy
    std::vector<float> ring_;  // a power of two long
    uint32_t mask_ = 0;
    uint32_t write_ = 0;
    bool quiet_ = true;
    uint32_t silentFrames_ = 0;  // frames in a row with no send
};

}  // namespace tonvero
