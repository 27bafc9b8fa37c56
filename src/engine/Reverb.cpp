#include "engine/Reverb.h"

#include "engine/Clones.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tonvero {

namespace {

// Ring lengths at 44100 Hz, scaled to the output rate: the lines between 25
// and 50 ms (a hall's first reflections and echo density), the diffusers a
// few milliseconds, all of them prime so that no two share an echo.
constexpr uint32_t kLineLengths[8] = {1117, 1277, 1423, 1559, 1699, 1871, 2027, 2213};
constexpr uint32_t kLeftDiffusers[3] = {149, 211, 307};
constexpr uint32_t kRightDiffusers[3] = {163, 227, 331};
constexpr float kDiffusion = 0.6f;  // the allpasses' coefficient
constexpr uint32_t kMaxPiece = 64;
// Each side feeds four lines: half of it into each keeps the energy it brings.
constexpr float kInputGain = 0.5f;
// The Hadamard matrix's scale (1 / sqrt(8)) makes it orthogonal.
constexpr float kMixScale = 0.35355339f;
// The network's output at level 1: at the default level, the reverb of a
// note sent at the General MIDI default (40) and a SoundFont's usual 7 % of
// its own carries about 18 dB less energy than the note, as FluidSynth's
// default reverb does.
constexpr float kOutputGain = 0.46f;
// Below -90 dBFS out, with no send coming in, the network is cleared.
constexpr float kQuietLevel = 3.1622777e-5f;
// High frequencies fall 60 dB in as little as a tenth of the decay time.
constexpr double kMaxDamping = 0.9;

uint32_t scaled(uint32_t length, int32_t rate) {
    return std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(length * static_cast<double>(rate) / 44100.0)));
}

}  // namespace

double Reverb::decaySeconds(double roomSize) { return 0.3 + 4.7 * std::clamp(roomSize, 0.0, 1.0); }

Reverb::Reverb(int32_t rate, const ReverbSettings& settings) {
    rate = rate > 0 ? rate : 44100;
    decaySeconds_ = decaySeconds(settings.roomSize);
    const double level = std::clamp(settings.level, 0.0, 1.0) * kOutputGain * kMixScale;
    const double width = std::clamp(settings.width, 0.0, 1.0);
    direct_ = static_cast<float>(level * (1.0 + width) / 2.0);
    cross_ = static_cast<float>(level * (1.0 - width) / 2.0);

    uint32_t total = 0;
    piece_ = kMaxPiece;
    auto place = [&](Ring& ring, uint32_t length) {
        ring.offset = total;
        ring.length = scaled(length, rate);
        total += ring.length;
        piece_ = std::min(piece_, ring.length);
    };
    const double highDecay = decaySeconds_ * (1.0 - kMaxDamping * std::clamp(settings.damping, 0.0, 1.0));
    for (int i = 0; i < kLines; ++i) {
        Line& line = lines_[static_cast<size_t>(i)];
        place(line.ring, kLineLengths[i]);
        // The gains at 0 Hz and at half the rate that fall 60 dB in the two
        // decay times over a pass through this line; the one-pole low-pass
        // y = gain x + pole y' has exactly these at the two ends.
        const double seconds = static_cast<double>(line.ring.length) / rate;
        const double low = std::pow(10.0, -3.0 * seconds / decaySeconds_);
        const double high = std::pow(10.0, -3.0 * seconds / highDecay);
        const double pole = (low - high) / (low + high);
        line.pole = static_cast<float>(pole);
        line.gain = static_cast<float>(low * (1.0 - pole));
    }
    for (int i = 0; i < kDiffusers; ++i) {
        place(diffLeft_[static_cast<size_t>(i)], kLeftDiffusers[i]);
        place(diffRight_[static_cast<size_t>(i)], kRightDiffusers[i]);
    }
    memory_.assign(total, 0.0f);
    quietAfter_ = static_cast<uint32_t>(rate / 20);
}

void Reverb::clear() noexcept {
    std::fill(memory_.begin(), memory_.end(), 0.0f);
    for (Line& line : lines_) line.state = 0;
    quiet_ = true;
    quietFrames_ = 0;
}

TONVERO_CLONED void Reverb::diffuse(Ring& ring, float* io, uint32_t frames) noexcept {
    // v = x + g v(n - D), y = v(n - D) - g v: flat in magnitude, smeared in
    // time. A ring is never shorter than a piece, so each sample read here
    // was written a whole ring ago: the loop runs straight along each span.
    float* buffer = memory_.data() + ring.offset;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = std::min(frames - done, ring.length - ring.pos);
        float* __restrict b = buffer + ring.pos;
        float* __restrict x = io + done;
        for (uint32_t k = 0; k < count; ++k) {
            const float delayed = b[k];
            const float v = x[k] + kDiffusion * delayed;
            x[k] = delayed - kDiffusion * v;
            b[k] = v;
        }
        ring.pos += count;
        if (ring.pos == ring.length) ring.pos = 0;
        done += count;
    }
}

void Reverb::readRing(const Ring& ring, float* out, uint32_t frames) const noexcept {
    const float* buffer = memory_.data() + ring.offset;
    const uint32_t first = std::min(frames, ring.length - ring.pos);
    std::memcpy(out, buffer + ring.pos, sizeof(float) * first);
    if (first < frames) std::memcpy(out + first, buffer, sizeof(float) * (frames - first));
}

void Reverb::writeRing(Ring& ring, const float* in, uint32_t frames) noexcept {
    float* buffer = memory_.data() + ring.offset;
    const uint32_t first = std::min(frames, ring.length - ring.pos);
    std::memcpy(buffer + ring.pos, in, sizeof(float) * first);
    if (first < frames) std::memcpy(buffer, in + first, sizeof(float) * (frames - first));
    ring.pos = (ring.pos + frames) % ring.length;
}

void Reverb::process(const float* inLeft, const float* inRight, float* left, float* right, uint32_t frames) noexcept {
    ran_ = 0;
    cleared_ = false;
    if (!inLeft && quiet_) return;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(piece_, frames - done);
        processPiece(inLeft ? inLeft + done : nullptr, inRight ? inRight + done : nullptr, left + done, right + done,
                     n);
        done += n;
        ran_ = done;
        if (quietFrames_ >= quietAfter_) {
            clear();
            cleared_ = true;
            return;
        }
    }
}

void Reverb::follow(const Reverb& lead, const float* inLeft, const float* inRight, float* left, float* right) noexcept {
    // A follower is quiet only when cleared with its lead and fed nothing
    // since: all of it is zero, and so would be all it added.
    if (inLeft || !quiet_) {
        for (uint32_t done = 0; done < lead.ran_;) {
            const uint32_t n = std::min(piece_, lead.ran_ - done);
            processPiece(inLeft ? inLeft + done : nullptr, inRight ? inRight + done : nullptr, left + done,
                         right + done, n);
            done += n;
        }
    }
    if (lead.cleared_) clear();
}

TONVERO_CLONED void Reverb::processPiece(const float* inLeft, const float* inRight, float* left, float* right,
                                         uint32_t n) noexcept {
    alignas(64) float sendLeft[kMaxPiece];
    alignas(64) float sendRight[kMaxPiece];
    if (inLeft) {
        std::memcpy(sendLeft, inLeft, sizeof(float) * n);
        std::memcpy(sendRight, inRight, sizeof(float) * n);
        quiet_ = false;
        quietFrames_ = 0;
    } else {
        std::memset(sendLeft, 0, sizeof sendLeft);
        std::memset(sendRight, 0, sizeof sendRight);
    }
    for (Ring& ring : diffLeft_) diffuse(ring, sendLeft, n);
    for (Ring& ring : diffRight_) diffuse(ring, sendRight, n);

    // Each line's output: what went in one line length ago (n never exceeds
    // a ring's length), through its low-pass. The eight low-passes run side
    // by side, frame by frame, so none waits on its own last result.
    alignas(64) float y[kLines][kMaxPiece];
    for (int i = 0; i < kLines; ++i) readRing(lines_[static_cast<size_t>(i)].ring, y[i], n);
    float state[kLines], gain[kLines], pole[kLines];
    for (int i = 0; i < kLines; ++i) {
        state[i] = lines_[static_cast<size_t>(i)].state;
        gain[i] = lines_[static_cast<size_t>(i)].gain;
        pole[i] = lines_[static_cast<size_t>(i)].pole;
    }
    for (uint32_t k = 0; k < n; ++k) {
        for (int i = 0; i < kLines; ++i) {
            state[i] = gain[i] * y[i][k] + pole[i] * state[i];
            y[i][k] = state[i];
        }
    }
    for (int i = 0; i < kLines; ++i) lines_[static_cast<size_t>(i)].state = state[i];

    // Out: left and right through two orthogonal sign patterns, mixed by the width.
    alignas(64) float wetLeft[kMaxPiece];
    alignas(64) float wetRight[kMaxPiece];
    for (uint32_t k = 0; k < n; ++k) {
        const float l = y[0][k] - y[1][k] + y[2][k] - y[3][k] + y[4][k] - y[5][k] + y[6][k] - y[7][k];
        const float r = y[0][k] + y[1][k] - y[2][k] - y[3][k] + y[4][k] + y[5][k] - y[6][k] - y[7][k];
        wetLeft[k] = direct_ * l + cross_ * r;
        wetRight[k] = direct_ * r + cross_ * l;
    }
    for (uint32_t k = 0; k < n; ++k) {
        left[k] += wetLeft[k];
        right[k] += wetRight[k];
    }
    if (!inLeft) {
        // Nothing sent: once the tail is below -90 dBFS for a while, it is over.
        float peak = 0;
        for (uint32_t k = 0; k < n; ++k) peak = std::max(peak, std::max(std::abs(wetLeft[k]), std::abs(wetRight[k])));
        quietFrames_ = peak < kQuietLevel ? quietFrames_ + n : 0;
    }

    // Back into the lines through the Hadamard matrix (three butterfly
    // stages, each along the piece), with the send added: left into the even
    // lines, right into the odd.
    for (int span = 1; span < kLines; span *= 2) {
        for (int i = 0; i < kLines; i += 2 * span) {
            for (int j = i; j < i + span; ++j) {
                float* __restrict a = y[j];
                float* __restrict b = y[j + span];
                for (uint32_t k = 0; k < n; ++k) {
                    const float p = a[k];
                    const float q = b[k];
                    a[k] = p + q;
                    b[k] = p - q;
                }
            }
        }
    }
    for (int i = 0; i < kLines; ++i) {
        const float* send = i % 2 ? sendRight : sendLeft;
        float* __restrict line = y[i];
        for (uint32_t k = 0; k < n; ++k) line[k] = kMixScale * line[k] + kInputGain * send[k];
        writeRing(lines_[static_cast<size_t>(i)].ring, line, n);
    }
}

}  // namespace tonvero
