#include "engine/MixerEngine.h"

#include <mutex>

namespace tonvero {

float semitoneRatio[121];

// Walks down from 100000 by 2^(-1/12) in double precision. The values for
// k = 1..60 semitones below give the lower half directly (scaled back by
// 0.00001); the upper half divides them by the value 60 semitones down
// (100000 x 2^-5), so entry 60 + k is exactly 2^(k/12) to single precision.
// Built once in the process: engines made at once on several threads find it
// built and never write it while another reads it.
namespace {
void fillSemitoneTable() {
    double below[61];
    below[0] = 100000.0;
    double value = 100000.0;
    for (int k = 1; k <= 60; ++k) {
        value *= 0.9438743126816935;
        below[k] = value;
    }
    for (int k = 1; k <= 60; ++k) {
        semitoneRatio[60 - k] = static_cast<float>(below[k] * 0.00001);
        semitoneRatio[60 + k] = static_cast<float>(below[60 - k] / below[60]);
    }
    semitoneRatio[60] = 1.0f;
}
}  // namespace

void buildSemitoneTable() {
    static std::once_flag built;
    std::call_once(built, fillSemitoneTable);
}

}  // namespace tonvero
