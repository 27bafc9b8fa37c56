#pragma once
// An Instrument: a named list of Zones and three fading rates.
// Fading values are 16.16 fixed-point decrements of a voice's 0..128 gain,
// applied once per 20 ms mixing pass.

#include "bank/ZoneList.h"

#include <cstdint>
#include <string>

namespace tonvero {

struct Instrument {
    Instrument(std::string instrumentName, int32_t slot) : name(std::move(instrumentName)), index(slot) {}

    std::string name;
    uint32_t loopFading = 0x4000;     // 0.25: while a looped note is held
    uint32_t sustainFading = 0x8000;  // 0.5: after note-off with the pedal down
    uint32_t cutoffFading = 0;        // after note-off without the pedal; 0: play the tail out
    int32_t index = 0;                // the Instrument's own slot number
    ZoneList zones;
};

}  // namespace tonvero
