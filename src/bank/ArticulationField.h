#pragma once
// The fields of a ZoneArticulation one at a time, in the order a Patchmap of
// version 4 stores them (each a signed 32-bit value), with the name a field
// goes by and the range it may hold. The order is part of the file format: a
// field added later goes at the end, so files written before it still load
// (the new field keeps its default) and readers that predate it skip it.
//
// Threads: the table is constant; any thread may use it.

#include "bank/Articulation.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace tonvero {

struct ArticulationField {
    enum class Kind {
        Number,    // any value in low..high
        Flag,      // a bool, stored as 0 or 1
        ZoneLink,  // -1, or a Zone of the same Instrument by its position
    };

    std::string_view group;  // the envelope or LFO holding it ("volumeEnvelope"), empty for none
    std::string_view name;   // its member name ("delay")
    Kind kind;
    // The range Articulation.h gives, inclusive; the whole 32-bit range where
    // it gives none. A ZoneLink's upper end is the Instrument's last Zone.
    int32_t low;
    int32_t high;
    int32_t (*get)(const ZoneArticulation&);
    void (*set)(ZoneArticulation&, int32_t);

    // Whether `value` may stand in this field of a Zone of an Instrument
    // holding `zoneCount` Zones.
    bool accepts(int32_t value, int32_t zoneCount) const;
};

// Every field, in stored order.
std::span<const ArticulationField> articulationFields();

// Whether every field of `articulation` is in its range, for a Zone of an
// Instrument holding `zoneCount` Zones (so a stereo link names one of them).
bool articulationInRange(const ZoneArticulation& articulation, int32_t zoneCount);

}  // namespace tonvero
