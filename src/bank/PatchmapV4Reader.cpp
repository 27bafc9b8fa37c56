#include "bank/PatchmapV4Reader.h"

#include "bank/ArticulationField.h"
#include "bank/Patchmap.h"

#include <memory>
#include <utility>

namespace tonvero {

namespace {

// The fewest bytes one Zone of version 4 takes: three keys, a Wave record
// with an empty name (version, sample count, five values, the reserved byte,
// the name's length, the block index) and an empty articulation block.
constexpr size_t kMinZoneBytes = 12 + (4 + 4 + 5 * 4 + 1 + 4 + 4) + 4;

}  // namespace

bool PatchmapV4Reader::refuse() {
    in_.fail();
    return false;
}

bool PatchmapV4Reader::readInstrument(Instrument& instrument) {
    const uint32_t version = in_.u32();
    if (!in_.ok() || version != kInstrumentRecordVersion4) return refuse();
    if (!readStoredName(in_, instrument.name)) return false;
    instrument.loopFading = in_.u32();
    instrument.sustainFading = in_.u32();
    instrument.cutoffFading = in_.u32();
    instrument.index = in_.i32();
    const int32_t zoneCount = in_.i32();
    if (!in_.ok()) return false;
    if (zoneCount < 0 || static_cast<size_t>(zoneCount) > in_.remaining() / kMinZoneBytes) return refuse();

    for (int32_t z = 0; z < zoneCount; ++z) {
        Zone* zone = instrument.zones.append(std::make_unique<Zone>());
        zone->rangeStart = in_.i32();
        zone->rangeEnd = in_.i32();
        zone->basicNote = in_.i32();
        zone->wave = std::make_unique<Wave>();
        if (!readWave(*zone->wave) || !readArticulation(*zone, zoneCount)) return false;
    }
    return in_.ok();
}

bool PatchmapV4Reader::readWave(Wave& wave) {
    const uint32_t version = in_.u32();
    if (!in_.ok() || version != kWaveRecordVersion2) return refuse();
    const uint32_t count = in_.u32();
    wave.loopBegin = in_.i32();
    wave.loopEnd = in_.i32();
    wave.holdPos = in_.i32();
    wave.frequency = in_.u32();
    wave.looped = in_.i32();
    wave.reserved = in_.u8();
    if (!readStoredName(in_, wave.name)) return false;
    const uint32_t block = in_.u32();
    if (!in_.ok()) return false;
    references_.push_back({&wave, block, count});
    return true;
}

bool PatchmapV4Reader::readArticulation(Zone& zone, int32_t zoneCount) {
    const uint32_t length = in_.u32();
    if (!in_.ok()) return false;
    if (length == 0) return true;  // a Zone without articulation
    if (length > kMaxArticulationBytes) return refuse();
    const uint8_t* bytes = in_.view(length);
    if (!bytes) return false;

    ByteReader block(bytes, length);
    auto articulation = std::make_unique<ZoneArticulation>();
    for (const ArticulationField& field : articulationFields()) {
        if (block.remaining() == 0) break;  // fields the writer did not know keep their defaults
        const int32_t value = block.i32();
        if (!block.ok() || !field.accepts(value, zoneCount)) return refuse();
        field.set(*articulation, value);
    }
    // Whatever is left are fields appended after these: skipped with the block.
    zone.articulation = std::move(articulation);
    return true;
}

bool PatchmapV4Reader::readKitsAndSamples(Bank& bank) {
    const uint32_t tag = in_.u32();
    const int32_t kitCount = in_.i32();
    if (!in_.ok() || tag != kKitsTag || kitCount < 0 || kitCount > Bank::kKitSlots) return refuse();
    for (int32_t k = 0; k < kitCount; ++k) {
        const int32_t program = in_.i32();
        if (!in_.ok() || program < 0 || program >= Bank::kKitSlots || bank.kits[static_cast<size_t>(program)])
            return refuse();
        auto kit = std::make_unique<Instrument>("", 0);
        if (!readInstrument(*kit)) return false;
        bank.kits[static_cast<size_t>(program)] = std::move(kit);
    }
    std::vector<SampleBlock> blocks;
    return readSampleTable(blocks) && fillWaves(blocks);
}

bool PatchmapV4Reader::readSampleTable(std::vector<SampleBlock>& blocks) {
    const uint32_t tag = in_.u32();
    const uint32_t blockCount = in_.u32();
    // Each block takes at least its 4-byte count.
    if (!in_.ok() || tag != kSamplesTag || blockCount > in_.remaining() / 4) return refuse();
    blocks.reserve(blockCount);
    for (uint32_t b = 0; b < blockCount; ++b) {
        const uint32_t count = in_.u32();
        if (!in_.ok() || count > in_.remaining() / 2) return refuse();
        const uint8_t* bytes = in_.view(static_cast<size_t>(count) * 2);
        if (!bytes) return false;
        blocks.push_back({bytes, count});
    }
    return true;
}

bool PatchmapV4Reader::fillWaves(const std::vector<SampleBlock>& blocks) {
    // Every reference is checked before any Wave is filled, so a refused file
    // costs no sample copies.
    for (const SampleReference& ref : references_)
        if (ref.block >= blocks.size() || blocks[ref.block].count != ref.count) return refuse();
    // Each block named is read once into storage that all its Waves share;
    // a block no Wave names is not read at all.
    std::vector<SampleData> storage(blocks.size());
    std::vector<bool> made(blocks.size(), false);
    for (const SampleReference& ref : references_) {
        if (!made[ref.block]) {
            const SampleBlock& block = blocks[ref.block];
            storage[ref.block] = SampleData::fromLittleEndian(block.bytes, block.count);
            in_.release(block.bytes, size_t{block.count} * 2);
            made[ref.block] = true;
        }
        ref.wave->setSamples(storage[ref.block]);
        ref.wave->updateFormat();
    }
    references_.clear();
    return true;
}

}  // namespace tonvero
