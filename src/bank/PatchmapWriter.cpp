// Writing a Patchmap file, stored through a temporary file as it is made:
// version 3 for a bank without articulation, kits or Waves sharing their
// samples, as it always was, else version 4 (PatchmapV4Writer).

#include "bank/ArticulationField.h"
#include "bank/FileUtil.h"
#include "bank/Patchmap.h"
#include "bank/PatchmapV4Writer.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

namespace tonvero {

namespace {

// A name as the file stores it: up to its first NUL (which the reader would
// stop at) and at most kMaxStoredNameLength bytes (all the reader accepts).
std::string_view storedName(const std::string& name) {
    std::string_view s(name);
    s = s.substr(0, s.find('\0'));
    return s.substr(0, static_cast<size_t>(kMaxStoredNameLength));
}

}  // namespace

void writeStoredName(ByteWriter& out, const std::string& name) {
    const std::string_view s = storedName(name);
    out.i32(static_cast<int32_t>(s.size()));
    out.text(s);
}

void writeWave(ByteWriter& out, const Wave& wave) {
    out.i32(1);
    out.u32(static_cast<uint32_t>(wave.samples.size()));
    out.i32(wave.loopBegin);
    out.i32(wave.loopEnd);
    out.i32(wave.holdPos);
    out.u32(wave.frequency);
    out.i32(wave.looped);
    out.u32(0);  // spare
    out.u8(static_cast<uint8_t>(wave.reserved & 0xFF));
    writeStoredName(out, wave.name);
    out.samples(wave.samples.span());
}

void writeInstrumentRecord(ByteWriter& out, const Instrument& instrument, uint32_t version,
                           const std::function<void(const Zone&)>& writeZone) {
    out.u32(version);
    writeStoredName(out, instrument.name);
    out.u32(instrument.loopFading);
    out.u32(instrument.sustainFading);
    out.u32(instrument.cutoffFading);
    out.i32(instrument.index);
    const ZoneList& zones = instrument.zones;
    out.i32(zones.count());
    const Zone emptyZone;
    for (int32_t z = 0; z < zones.count(); ++z) {
        const Zone& zone = zones[z] ? *zones[z] : emptyZone;
        out.i32(zone.rangeStart);
        out.i32(zone.rangeEnd);
        out.i32(zone.basicNote);
        writeZone(zone);
    }
}

void writeInstrument(ByteWriter& out, const Instrument& instrument) {
    const Wave emptyWave;
    writeInstrumentRecord(out, instrument, 3,
                          [&](const Zone& zone) { writeWave(out, zone.wave ? *zone.wave : emptyWave); });
}

bool isSavable(const Bank& bank) {
    if (bank.instrumentCount < 0 || bank.instrumentCount > Bank::kInstrumentSlots) return false;
    if (!std::all_of(bank.programMap.begin(), bank.programMap.end(),
                     [](int32_t entry) { return entry >= 0 && entry < Bank::kInstrumentSlots; }))
        return false;
    bool inRange = true;
    bank.forEachInstrument([&inRange](const Instrument& instrument) {
        const ZoneList& zones = instrument.zones;
        for (int32_t z = 0; z < zones.count(); ++z)
            if (zones[z] && zones[z]->articulation && !articulationInRange(*zones[z]->articulation, zones.count()))
                inRange = false;
    });
    return inRange;
}

namespace {

// Whether two Waves of the bank share their sample storage: only version 4 can store that once.
bool sharesSamples(const Bank& bank) {
    std::unordered_set<const void*> seen;
    bool shared = false;
    bank.forEachWave([&](const Wave& wave) {
        const void* storage = wave.samples.storageId();
        if (storage && !seen.insert(storage).second) shared = true;
    });
    return shared;
}

void writeBank(const Bank& bank, ByteWriter& out) {
    if (bank.hasArticulation() || sharesSamples(bank)) {
        PatchmapV4Writer::write(bank, out);
        return;
    }
    out.bytes(patchmapHeader.data(), patchmapHeader.size());
    for (int32_t entry : bank.programMap) out.i32(entry);
    const int32_t count = std::clamp(bank.instrumentCount, 0, Bank::kInstrumentSlots);
    out.i32(count);
    for (int32_t slot = 0; slot < count; ++slot) {
        const Instrument* instrument = bank.instruments[static_cast<size_t>(slot)].get();
        if (instrument) {
            writeInstrument(out, *instrument);
        } else {  // cannot happen in a bank without gaps; keeps the file readable if it does
            writeInstrument(out, Instrument("", slot));
        }
    }
}

}  // namespace

std::vector<uint8_t> patchmapImage(const Bank& bank) {
    ByteWriter out;
    writeBank(bank, out);
    return out.take();
}

bool savePatchmap(const Bank& bank, const std::string& path) {
    if (!isSavable(bank)) return false;
    // Written as it is made: a large bank never has its whole file in memory.
    return replaceFileWith(path, [&](const std::function<bool(const uint8_t*, size_t)>& append) {
        ByteWriter out(append);
        writeBank(bank, out);
        return out.finish();
    });
}

}  // namespace tonvero
