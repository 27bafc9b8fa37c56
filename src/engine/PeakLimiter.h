#pragma once
// A look-ahead peak limiter for the Studio mixer's float output: the sound
// passes unchanged while it stays under the threshold, and a peak that would
// rise above it is met by a gain that has already come down smoothly over
// the look-ahead and recovers after it. So a loud passage is held at the
// threshold instead of clipping at full scale, and the master gain can be
// set for ordinary songs.
//
// How: the gain each frame needs (threshold / peak, at most 1) goes through
// a running minimum over the look-ahead, then a release that recovers
// toward 1, then a running mean over the look-ahead; the sound is delayed
// by the look-ahead less one frame, so each frame meets a gain no higher
// than its own needs.
//
// Threads: the renderer's; real-time safe (fixed storage, no allocation).

#include <array>
#include <cstdint>

namespace tonvero {

class PeakLimiter {
public:
    static constexpr uint32_t kLookAhead = 64;  // frames, the longest look-ahead

    // `threshold` as an amplitude (full scale 1.0); `releaseSeconds` the
    // time constant of the gain's recovery, at `rate` Hz; `lookAhead`
    // frames (1 to kLookAhead) of look-ahead. A look-ahead of 1 delays
    // nothing: a peak is met by an instant fall of the gain, for output
    // that must not lag its input (live play).
    PeakLimiter(float threshold, double releaseSeconds, int32_t rate, uint32_t lookAhead = kLookAhead);
    // Output frames lag input frames by this many: the look-ahead less one.
    uint32_t delay() const { return delayFrames_; }

    // Limits `frames` interleaved stereo frames in place (delayed by
    // delay()); with `gains`, writes there the gain each output frame was
    // given, so other sound delayed alike can be given the same.
    void process(float* stereo, uint32_t frames, float* gains = nullptr) noexcept;
    // The gain applied to the last frame, 0..1.
    float gain() const { return static_cast<float>(applied_); }

private:
    // No gain reduction left to undo: released, mean and gain all at 1.
    bool atRest() const;
    // The delay alone, for sound that needs no limiting while at rest.
    void passThrough(float* stereo, uint32_t frames) noexcept;

    float threshold_;
    double recovery_;
    uint32_t lookAhead_;
    uint32_t delayFrames_;  // share of the distance to 1 the release gains per frame

    // The needed gains of the last kLookAhead frames, as a monotonic queue
    // (increasing values) of (value, frame) for the running minimum.
    static constexpr uint32_t kQueueMask = 2 * kLookAhead - 1;
    std::array<float, 2 * kLookAhead> minValues_{};
    std::array<uint64_t, 2 * kLookAhead> minFrames_{};
    uint32_t minHead_ = 0;
    uint32_t minSize_ = 0;

    double released_ = 1.0;                    // the minimum after the release
    std::array<double, kLookAhead> recent_{};  // the last lookAhead_ released gains, for the mean
    double recentSum_ = 0;
    double applied_ = 1.0;

    std::array<float, 2 * kLookAhead> delay_{};  // the sound, delayFrames_ frames back
    uint64_t frame_ = 0;
};

}  // namespace tonvero
