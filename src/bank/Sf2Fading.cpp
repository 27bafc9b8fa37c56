#include "bank/Sf2Fading.h"

#include <algorithm>
#include <cmath>

namespace tonvero {
namespace {

constexpr double kReferenceGain = 63.5;  // velocity 127 at centre pan
constexpr double kPassSeconds = 0.02;    // one mixing pass
constexpr double kGainOne = 65536.0;     // 1.0 in 16.16
constexpr double kMaxFade = 128.0 * kGainOne;
constexpr double kAudibleFallCb = 400.0;     // 40 dB: where a fading note is gone
constexpr double kFullScaleCb = 1000.0;      // envelope times are for a 100 dB fall
constexpr int32_t kSustainingBelowCb = 200;  // sustain within 20 dB: keeps sounding

}  // namespace

double sf2Seconds(int32_t timecents) {
    const int32_t tc = std::clamp(timecents, -12000, 8000);
    return std::exp2(tc / 1200.0);
}

uint32_t fadeForSeconds(double seconds) {
    const double perPass = kReferenceGain * kGainOne * kPassSeconds / std::max(seconds, 1e-6);
    return static_cast<uint32_t>(std::clamp(std::ceil(perPass), 1.0, kMaxFade));
}

Sf2Fading fadingFromEnvelope(const Sf2Envelope& envelope, int32_t key, bool loopThenTail) {
    Sf2Fading fading;
    if (envelope.sustain >= kSustainingBelowCb) {
        const int32_t keyFromMiddle = 60 - key;
        const double hold = sf2Seconds(envelope.hold + envelope.keynumToHold * keyFromMiddle);
        const double decay = sf2Seconds(envelope.decay + envelope.keynumToDecay * keyFromMiddle);
        const double fall = std::min<double>(envelope.sustain, kAudibleFallCb) / kFullScaleCb;
        const double seconds = sf2Seconds(envelope.delay) + sf2Seconds(envelope.attack) + hold + decay * fall;
        fading.loopFading = fadeForSeconds(seconds);
    }
    fading.sustainFading = fading.loopFading;
    if (!loopThenTail)
        fading.cutoffFading = fadeForSeconds(sf2Seconds(envelope.release) * kAudibleFallCb / kFullScaleCb);
    return fading;
}

}  // namespace tonvero
