#include "bank/BankCopy.h"

#include <memory>

namespace tonvero {

namespace {

std::unique_ptr<Wave> copyWave(const Wave& wave) {
    auto copy = std::make_unique<Wave>();
    copy->samples = wave.samples;  // shares the storage
    copy->format = wave.format;
    copy->looped = wave.looped;
    copy->sampleCount = wave.sampleCount;
    copy->loopBegin = wave.loopBegin;
    copy->loopEnd = wave.loopEnd;
    copy->holdPos = wave.holdPos;
    copy->reserved = wave.reserved;
    copy->frequency = wave.frequency;
    copy->name = wave.name;
    return copy;
}

std::unique_ptr<Instrument> copyInstrument(const Instrument& instrument) {
    auto copy = std::make_unique<Instrument>(instrument.name, instrument.index);
    copy->loopFading = instrument.loopFading;
    copy->sustainFading = instrument.sustainFading;
    copy->cutoffFading = instrument.cutoffFading;
    for (int32_t z = 0; z < instrument.zones.count(); ++z) {
        const Zone* zone = instrument.zones[z];
        auto zoneCopy = std::make_unique<Zone>();
        if (zone) {
            if (zone->wave) zoneCopy->wave = copyWave(*zone->wave);
            zoneCopy->rangeStart = zone->rangeStart;
            zoneCopy->rangeEnd = zone->rangeEnd;
            zoneCopy->basicNote = zone->basicNote;
            if (zone->articulation) zoneCopy->articulation = std::make_unique<ZoneArticulation>(*zone->articulation);
        }
        copy->zones.append(std::move(zoneCopy));
    }
    return copy;
}

}  // namespace

Bank copyBank(const Bank& bank) {
    Bank copy;
    copy.programMap = bank.programMap;
    copy.instrumentCount = bank.instrumentCount;
    for (size_t s = 0; s < bank.instruments.size(); ++s)
        if (bank.instruments[s]) copy.instruments[s] = copyInstrument(*bank.instruments[s]);
    for (size_t k = 0; k < bank.kits.size(); ++k)
        if (bank.kits[k]) copy.kits[k] = copyInstrument(*bank.kits[k]);
    return copy;
}

}  // namespace tonvero
