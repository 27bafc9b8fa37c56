#include "bank/ArticulationField.h"

#include <array>
#include <limits>

namespace tonvero {

namespace {

constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();
constexpr int32_t kMost = std::numeric_limits<int32_t>::max();

using Kind = ArticulationField::Kind;

// One entry: the member `path` of ZoneArticulation (e.g. volumeEnvelope.delay)
// read and written through plain functions.
#define TONVERO_ARTICULATION_FIELD(group, name, path, kind, low, high)                             \
    ArticulationField {                                                                            \
        group, name, kind, low, high, [](const ZoneArticulation& a) -> int32_t { return a.path; }, \
            [](ZoneArticulation& a, int32_t v) { a.path = v; }                                     \
    }

#define TONVERO_ENVELOPE_FIELDS(member, sustainHigh)                                                     \
    TONVERO_ARTICULATION_FIELD(#member, "delay", member.delay, Kind::Number, kLeast, kMost),             \
        TONVERO_ARTICULATION_FIELD(#member, "attack", member.attack, Kind::Number, kLeast, kMost),       \
        TONVERO_ARTICULATION_FIELD(#member, "hold", member.hold, Kind::Number, kLeast, kMost),           \
        TONVERO_ARTICULATION_FIELD(#member, "decay", member.decay, Kind::Number, kLeast, kMost),         \
        TONVERO_ARTICULATION_FIELD(#member, "sustain", member.sustain, Kind::Number, 0, sustainHigh),    \
        TONVERO_ARTICULATION_FIELD(#member, "release", member.release, Kind::Number, kLeast, kMost),     \
        TONVERO_ARTICULATION_FIELD(#member, "keyToHold", member.keyToHold, Kind::Number, kLeast, kMost), \
        TONVERO_ARTICULATION_FIELD(#member, "keyToDecay", member.keyToDecay, Kind::Number, kLeast, kMost)

#define TONVERO_LFO_FIELDS(member)                                                                       \
    TONVERO_ARTICULATION_FIELD(#member, "delay", member.delay, Kind::Number, kLeast, kMost),             \
        TONVERO_ARTICULATION_FIELD(#member, "frequency", member.frequency, Kind::Number, kLeast, kMost), \
        TONVERO_ARTICULATION_FIELD(#member, "toPitch", member.toPitch, Kind::Number, kLeast, kMost),     \
        TONVERO_ARTICULATION_FIELD(#member, "toFilter", member.toFilter, Kind::Number, kLeast, kMost),   \
        TONVERO_ARTICULATION_FIELD(#member, "toVolume", member.toVolume, Kind::Number, kLeast, kMost)

#define TONVERO_PLAIN_FIELD(member, kind, low, high) TONVERO_ARTICULATION_FIELD("", #member, member, kind, low, high)

constexpr std::array kFields = {
    TONVERO_ENVELOPE_FIELDS(volumeEnvelope, 1440),
    TONVERO_ENVELOPE_FIELDS(modulationEnvelope, 1000),
    TONVERO_PLAIN_FIELD(modulationEnvelopeToPitch, Kind::Number, kLeast, kMost),
    TONVERO_PLAIN_FIELD(modulationEnvelopeToFilter, Kind::Number, kLeast, kMost),
    TONVERO_LFO_FIELDS(modulationLfo),
    TONVERO_LFO_FIELDS(vibratoLfo),
    TONVERO_PLAIN_FIELD(attenuation, Kind::Number, 0, 1440),
    TONVERO_PLAIN_FIELD(pan, Kind::Number, -500, 500),
    TONVERO_PLAIN_FIELD(coarseTune, Kind::Number, -120, 120),
    TONVERO_PLAIN_FIELD(fineTune, Kind::Number, -99, 99),
    TONVERO_PLAIN_FIELD(scaleTuning, Kind::Number, 0, 1200),
    TONVERO_PLAIN_FIELD(filterCutoff, Kind::Number, 1500, kOpenFilterCents),
    TONVERO_PLAIN_FIELD(filterResonance, Kind::Number, 0, 960),
    TONVERO_PLAIN_FIELD(exclusiveClass, Kind::Number, 0, 127),
    TONVERO_PLAIN_FIELD(velocityLow, Kind::Number, 0, 127),
    TONVERO_PLAIN_FIELD(velocityHigh, Kind::Number, 0, 127),
    ArticulationField{"", "tailOnRelease", Kind::Flag, 0, 1,
                      [](const ZoneArticulation& a) -> int32_t { return a.tailOnRelease ? 1 : 0; },
                      [](ZoneArticulation& a, int32_t v) { a.tailOnRelease = v != 0; }},
    TONVERO_PLAIN_FIELD(linkedZone, Kind::ZoneLink, -1, kMost),
    TONVERO_PLAIN_FIELD(velocityToFilter, Kind::Number, -12000, 12000),
    TONVERO_PLAIN_FIELD(modulationToVibrato, Kind::Number, -12000, 12000),
    TONVERO_PLAIN_FIELD(pressureToVibrato, Kind::Number, -12000, 12000),
    TONVERO_PLAIN_FIELD(reverbSend, Kind::Number, 0, 1000),
    TONVERO_PLAIN_FIELD(chorusSend, Kind::Number, 0, 1000),
};

#undef TONVERO_PLAIN_FIELD
#undef TONVERO_LFO_FIELDS
#undef TONVERO_ENVELOPE_FIELDS
#undef TONVERO_ARTICULATION_FIELD

// Two envelopes of 8, two depths, two LFOs of 5 and the 15 single fields.
static_assert(kFields.size() == 45, "every member of ZoneArticulation has one entry");

}  // namespace

bool ArticulationField::accepts(int32_t value, int32_t zoneCount) const {
    if (value < low || value > high) return false;
    return kind != Kind::ZoneLink || value < zoneCount;
}

std::span<const ArticulationField> articulationFields() { return kFields; }

bool articulationInRange(const ZoneArticulation& articulation, int32_t zoneCount) {
    for (const ArticulationField& field : kFields)
        if (!field.accepts(field.get(articulation), zoneCount)) return false;
    return true;
}

}  // namespace tonvero
