#pragma once
// The bank as JSON, for scripts and the `tonvero-bank info` command:
//
//   {"programMap":[129 numbers],"instruments":[{"name":..,"index":..,
//    "loopFading":..,"sustainFading":..,"cutoffFading":..,"zones":[{"rangeStart":..,
//    "rangeEnd":..,"basicNote":..,"wave":{"name":..,"sampleCount":..,"loopBegin":..,
//    "loopEnd":..,"holdPos":..,"frequency":..,"looped":..,"reserved":..,"sampleSum":..}}]}]}
//
// Fading values are the stored 16.16 integers; sampleSum is the sum of all
// sample values as a signed 64-bit integer; a Zone without a Wave has "wave":null.
//
// A Zone with articulation also has "articulation": its fields by their
// names in Articulation.h and in its units (timecents, centibels, cents,
// absolute cents, tenths of a per cent), each envelope and LFO an object of
// its own, tailOnRelease true or false:
//
//   "articulation":{"volumeEnvelope":{"delay":..,"attack":..,"hold":..,"decay":..,
//    "sustain":..,"release":..,"keyToHold":..,"keyToDecay":..},"modulationEnvelope":{..},
//    "modulationEnvelopeToPitch":..,"modulationEnvelopeToFilter":..,"modulationLfo":{"delay":..,
//    "frequency":..,"toPitch":..,"toFilter":..,"toVolume":..},"vibratoLfo":{..},"attenuation":..,
//    "pan":..,"coarseTune":..,"fineTune":..,"scaleTuning":..,"filterCutoff":..,
//    "filterResonance":..,"exclusiveClass":..,"velocityLow":..,"velocityHigh":..,
//    "tailOnRelease":false,"linkedZone":..}
//
// A bank with drum kits has "kits" after "instruments": each kit as an
// Instrument with its drum-bank program first, {"program":..,"name":..,...},
// by program.
//
// Threads: any thread; the bank is only read.

#include "bank/Bank.h"

#include <string>
#include <string_view>

namespace tonvero {

// One line of JSON, without a line end.
std::string bankToJson(const Bank& bank);

// `text` as a JSON string with its quotes. Valid UTF-8 passes through; a byte
// that is not part of a valid UTF-8 sequence is taken as the Latin-1
// character of that value (older banks were written in an 8-bit code page).
std::string jsonString(std::string_view text);

}  // namespace tonvero
