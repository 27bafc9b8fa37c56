#pragma once
// Banks built in code, and Patchmap files written field by field, for tests.

#include "bank/Bank.h"
#include "bank/ByteWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tonvero::test {

// A Wave with the given name, samples and rate; format and count follow.
std::unique_ptr<Wave> makeWave(const std::string& name, std::vector<int16_t> samples, uint32_t frequency = 22050);

// A small bank with every field set to a value of its own: three Instruments
// (one without Zones), Zones with overlapping ranges, looped and unlooped
// Waves, odd name lengths, a reserved byte other than 128, and a ProgramMap
// naming every slot.
Bank makeSmallBank();

// The smallest interesting bank: one Instrument "Piano" with one Zone whose
// Wave "Sound" holds the two samples 1000 and -1000. Saves as 867 bytes.
Bank makeExampleBank();

// An articulation with every field off its default and in its range, each
// value set apart by `n` (0..9) so that two made with different `n` differ in
// every field; no stereo link.
ZoneArticulation makeArticulation(int32_t n);

// makeSmallBank with articulation and kits: the piano's two Zones a stereo
// pair with articulation of their own, the strings' Zones without; kits at
// programs 1 (one Zone with articulation, one without) and 127 (no
// Zones). Saves as version 4.
Bank makeArticulatedBank();

// The first 776 bytes of a Patchmap: the header, `programMap` (129 entries;
// missing entries are 0) and the instrument count.
ByteWriter patchmapStart(int32_t instrumentCount, const std::vector<int32_t>& programMap = {});

// Every field of a bank as text, one line per field, for comparisons that
// print what differs (sample values are summarised by count and a checksum);
// articulation and kits only where the bank has them.
std::string describeBank(const Bank& bank);

}  // namespace tonvero::test
