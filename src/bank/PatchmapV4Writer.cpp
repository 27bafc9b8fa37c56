#include "bank/PatchmapV4Writer.h"

#include "bank/ArticulationField.h"
#include "bank/Patchmap.h"

#include <algorithm>

namespace tonvero {

std::vector<uint8_t> PatchmapV4Writer::image(const Bank& bank) {
    ByteWriter out;
    write(bank, out);
    return out.take();
}

void PatchmapV4Writer::write(const Bank& bank, ByteWriter& out) {
    PatchmapV4Writer w(out);
    w.out_.bytes(patchmapHeader.data(), patchmapHeader.size());
    for (int32_t entry : bank.programMap) w.out_.i32(entry);
    const int32_t count = std::clamp(bank.instrumentCount, 0, Bank::kInstrumentSlots);
    w.out_.i32(count);
    for (int32_t slot = 0; slot < count; ++slot) {
        const Instrument* instrument = bank.instruments[static_cast<size_t>(slot)].get();
        if (instrument) {
            w.writeInstrument(*instrument);
        } else {  // cannot happen in a bank without gaps; keeps the file readable if it does
            w.writeInstrument(Instrument("", slot));
        }
    }

    w.out_.u32(kKitsTag);
    const auto kitCount =
        std::count_if(bank.kits.begin(), bank.kits.end(), [](const auto& kit) { return kit != nullptr; });
    w.out_.i32(static_cast<int32_t>(kitCount));
    for (int32_t program = 0; program < Bank::kKitSlots; ++program) {
        const Instrument* kit = bank.kits[static_cast<size_t>(program)].get();
        if (!kit) continue;
        w.out_.i32(program);
        w.writeInstrument(*kit);
    }
    w.writeSampleTable();
}

void PatchmapV4Writer::writeInstrument(const Instrument& instrument) {
    const Wave emptyWave;
    writeInstrumentRecord(out_, instrument, kInstrumentRecordVersion4, [&](const Zone& zone) {
        // A Zone without a Wave is stored with an empty one, as version 3 stores it.
        writeWave(zone.wave ? *zone.wave : emptyWave);
        writeArticulation(zone.articulation.get());
    });
}

void PatchmapV4Writer::writeWave(const Wave& wave) {
    out_.u32(kWaveRecordVersion2);
    out_.u32(static_cast<uint32_t>(wave.samples.size()));
    out_.i32(wave.loopBegin);
    out_.i32(wave.loopEnd);
    out_.i32(wave.holdPos);
    out_.u32(wave.frequency);
    out_.i32(wave.looped);
    out_.u8(static_cast<uint8_t>(wave.reserved & 0xFF));
    writeStoredName(out_, wave.name);
    const void* storage = wave.samples.storageId();
    if (storage) {
        const auto [found, added] = blockOf_.emplace(storage, static_cast<uint32_t>(blocks_.size()));
        out_.u32(found->second);
        if (added) blocks_.emplace_back(wave.samples.span());
    } else {
        out_.u32(static_cast<uint32_t>(blocks_.size()));
        blocks_.emplace_back();
    }
}

void PatchmapV4Writer::writeArticulation(const ZoneArticulation* articulation) {
    if (!articulation) {
        out_.u32(0);
        return;
    }
    const auto fields = articulationFields();
    out_.u32(static_cast<uint32_t>(fields.size() * 4));
    for (const ArticulationField& field : fields) out_.i32(field.get(*articulation));
}

void PatchmapV4Writer::writeSampleTable() {
    out_.u32(kSamplesTag);
    out_.u32(static_cast<uint32_t>(blocks_.size()));
    for (std::span<const int16_t> block : blocks_) {
        out_.u32(static_cast<uint32_t>(block.size()));
        out_.samples(block);
    }
}

}  // namespace tonvero
