#pragma once
// Writes a Patchmap of version 4 (the layout is in Patchmap.h): the bank's
// Instruments and kits as records of version 4, each Zone with its
// articulation block, and the Waves' samples in the sample table: one block
// per sample storage, numbered in the order the Waves naming them are first
// written, so Waves that share their samples share one block (a Wave without
// samples gets an empty block of its own).
//
// Threads: the bank is only read; one writer belongs to one caller.

#include "bank/Bank.h"
#include "bank/ByteWriter.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace tonvero {

class PatchmapV4Writer {
public:
    // The file image of `bank`, which isSavable must accept (else the file
    // would not load again).
    static std::vector<uint8_t> image(const Bank& bank);
    // Writes the same to `out`.
    static void write(const Bank& bank, ByteWriter& out);

private:
    explicit PatchmapV4Writer(ByteWriter& out) : out_(out) {}
    void writeInstrument(const Instrument& instrument);
    void writeWave(const Wave& wave);
    void writeArticulation(const ZoneArticulation* articulation);
    void writeSampleTable();

    ByteWriter& out_;
    // The samples of each block, in block order; the bank outlives the writer.
    std::vector<std::span<const int16_t>> blocks_;
    // The block of each sample storage written so far.
    std::unordered_map<const void*, uint32_t> blockOf_;
};

}  // namespace tonvero
