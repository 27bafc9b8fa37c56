#pragma once
// Writes a Patchmap of version 4 (the layout is in Patchmap.h): the bank's
// Instruments and kits as records of version 4, each Zone with its
// articulation block, and the Waves' samples in the sample table, one block
// per Wave in the order the Waves are written.
//
// Threads: the bank is only read; one writer belongs to one caller.

#include "bank/Bank.h"
#include "bank/ByteWriter.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tonvero {

class PatchmapV4Writer {
public:
    // The file image of `bank`, which isSavable must accept (else the file
    // would not load again).
    static std::vector<uint8_t> image(const Bank& bank);

private:
    void writeInstrument(const Instrument& instrument);
    void writeWave(const Wave& wave);
    void writeArticulation(const ZoneArticulation* articulation);
    void writeSampleTable();

    ByteWriter out_;
    // The samples of each block, in block order; the bank outlives the writer.
    std::vector<std::span<const int16_t>> blocks_;
};

}  // namespace tonvero
