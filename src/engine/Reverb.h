#pragma once
// The Studio mixer's reverb: a feedback delay network of eight lines.
//
// Each side of the stereo send is smeared by three allpass diffusers and fed
// into four of the lines (left into the even ones, right into the odd ones);
// an orthogonal (Hadamard) matrix mixes the eight line outputs back into the
// lines, so the network loses nothing but what each line's own gain takes
// away. Every line's gain is chosen from its length so that the whole network
// falls 60 dB in the decay time the room size gives, and a one-pole low-pass
// in each line makes high frequencies die sooner (damping). Left and right
// take the lines through two orthogonal sign patterns, so the sides are
// uncorrelated; the width mixes them back towards mono.
//
// Made once for an output rate; process() allocates nothing and never waits.
// One thread at a time (the renderer's).

#include "engine/MixerMode.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tonvero {

class Reverb {
public:
    Reverb(int32_t rate, const ReverbSettings& settings);

    // The time to fall 60 dB at low frequencies for a room size (0..1), in seconds.
    static double decaySeconds(double roomSize);
    double decaySeconds() const { return decaySeconds_; }

    // Adds the reverb of the stereo send `inLeft`/`inRight` (null: silence)
    // to `left` and `right`, `frames` of each.
    void process(const float* inLeft, const float* inRight, float* left, float* right, uint32_t frames) noexcept;
    // The same for one part of `lead`'s send (a reverb of the same settings
    // and rate, which has just processed the block): the frames it ran, in
    // the same pieces, and cleared where it was cleared, never judging its
    // own tail. The network is linear, so reverbs that follow one lead and
    // are fed the parts of its send add up to the lead's own reverb.
    void follow(const Reverb& lead, const float* inLeft, const float* inRight, float* left, float* right) noexcept;
    // Nothing is left in the network: it has fallen below -90 dBFS with no
    // send coming in, and was cleared.
    bool quiet() const { return quiet_; }
    void clear() noexcept;

private:
    static constexpr int kLines = 8;
    static constexpr int kDiffusers = 3;

    // A ring of `length` samples inside memory_, read and written at `pos`.
    struct Ring {
        uint32_t offset = 0;
        uint32_t length = 0;
        uint32_t pos = 0;
    };
    struct Line {
        Ring ring;
        float gain = 0;  // the low-pass's input gain (its DC gain is the line's decay per pass)
        float pole = 0;  // the low-pass's feedback
        float state = 0;
    };

    // Runs `frames` (at most piece_) samples of `io` through the allpass on `ring`.
    void diffuse(Ring& ring, float* io, uint32_t frames) noexcept;
    // The ring's next `frames` samples into `out`; `in` into them, moving on.
    void readRing(const Ring& ring, float* out, uint32_t frames) const noexcept;
    void writeRing(Ring& ring, const float* in, uint32_t frames) noexcept;
    void processPiece(const float* inLeft, const float* inRight, float* left, float* right, uint32_t frames) noexcept;

    double decaySeconds_ = 0;
    float direct_ = 0;    // each side's own share of the output
    float cross_ = 0;     // the other side's share (width below 1)
    uint32_t piece_ = 0;  // frames per step: no longer than the shortest ring
    std::vector<float> memory_;
    std::array<Line, kLines> lines_{};
    std::array<Ring, kDiffusers> diffLeft_{};
    std::array<Ring, kDiffusers> diffRight_{};
    bool quiet_ = true;
    uint32_t ran_ = 0;          // frames the last process() ran
    bool cleared_ = false;      // it cleared the network
    uint32_t quietFrames_ = 0;  // frames in a row with no send and nothing audible out
    uint32_t quietAfter_ = 0;   // that many make the network quiet
};

}  // namespace tonvero
