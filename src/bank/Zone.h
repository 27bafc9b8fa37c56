#pragma once
// A Zone: a key range with a basic note and the one Wave it plays, and,
// optionally, how its sound is shaped (articulation).

#include "bank/Articulation.h"
#include "bank/Wave.h"

#include <cstdint>
#include <memory>

namespace tonvero {

struct Zone {
    std::unique_ptr<Wave> wave;  // owned; null until a Wave is given
    int32_t rangeStart = 0;      // lowest key
    int32_t rangeEnd = 120;      // highest key, inclusive
    int32_t basicNote = 60;      // the key at which the Wave sounds at its own frequency
    // Null: the Zone sounds as it always has (see Articulation.h).
    std::unique_ptr<ZoneArticulation> articulation;
};

}  // namespace tonvero
