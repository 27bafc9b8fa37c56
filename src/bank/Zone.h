#pragma once
// A Zone: a key range with a basic note and the one Wave it plays.

#include "bank/Wave.h"

#include <cstdint>
#include <memory>

namespace tonvero {

struct Zone {
    std::unique_ptr<Wave> wave;  // owned; null until a Wave is given
    int32_t rangeStart = 0;      // lowest key
    int32_t rangeEnd = 120;      // highest key, inclusive
    int32_t basicNote = 60;      // the key at which the Wave sounds at its own frequency
};

}  // namespace tonvero
