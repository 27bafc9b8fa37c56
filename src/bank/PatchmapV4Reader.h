#pragma once
// Reads the parts of a Patchmap that only version 4 has (the layout is in
// Patchmap.h): Instrument records of version 4 with their Zones' articulation,
// the kits, and the sample table the Waves take their samples from.
//
// A Wave record names its sample block before the table comes, so the reader
// keeps each Wave it read until readKitsAndSamples has read the table and
// filled them all. The Waves belong to the caller's Instruments (held in a
// bank of the loader's own), which must outlive the reader.
//
// Any read that runs past the image, or a value the bank cannot take, makes a
// function return false with the ByteReader failed; the caller then drops
// whatever was read.
//
// Threads: one reader belongs to one load.

#include "bank/Bank.h"
#include "bank/ByteReader.h"

#include <cstdint>
#include <vector>

namespace tonvero {

class PatchmapV4Reader {
public:
    explicit PatchmapV4Reader(ByteReader& in) : in_(in) {}

    // One Instrument record of version 4 (its version word included) into
    // `instrument`; its Waves get their samples from readKitsAndSamples.
    bool readInstrument(Instrument& instrument);
    // What follows the Instrument records: the "KITS" section into bank.kits
    // (each program at most once) and the sample table, from which every Wave
    // read so far gets its samples.
    bool readKitsAndSamples(Bank& bank);

private:
    // A Wave waiting for its samples: the block it names and its sample count.
    struct SampleReference {
        Wave* wave;
        uint32_t block;
        uint32_t count;
    };
    // A block of the sample table, in place in the image.
    struct SampleBlock {
        const uint8_t* bytes;
        uint32_t count;
    };

    bool readWave(Wave& wave);
    bool readArticulation(Zone& zone, int32_t zoneCount);
    bool readSampleTable(std::vector<SampleBlock>& blocks);
    bool fillWaves(const std::vector<SampleBlock>& blocks);
    bool refuse();

    ByteReader& in_;
    std::vector<SampleReference> references_;
};

}  // namespace tonvero
