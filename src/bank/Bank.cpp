#include "bank/Bank.h"

#include <utility>

namespace tonvero {

Instrument* Bank::instrumentForProgram(int32_t program) const {
    if (program < 0 || program >= kProgramEntries) return nullptr;
    const int32_t slot = programMap[static_cast<size_t>(program)];
    // An entry naming a slot outside the used range, or an empty one, falls back to slot 0.
    if (slot >= 0 && slot < kInstrumentSlots && instruments[static_cast<size_t>(slot)])
        return instruments[static_cast<size_t>(slot)].get();
    return instruments[0].get();
}

Instrument* Bank::kitForProgram(int32_t program) const {
    if (program > 0 && program < kKitSlots && kits[static_cast<size_t>(program)])
        return kits[static_cast<size_t>(program)].get();
    return instrumentForProgram(kDrumEntry);
}

int32_t Bank::findLayers(const Instrument* instrument, int32_t key, int32_t velocity, const Zone** out,
                         int32_t capacity) {
    const Zone* first = findZone(instrument, key);
    if (!first || capacity < 1) return 0;
    if (!first->articulation) {
        out[0] = first;
        return 1;
    }
    int32_t found = 0;
    const ZoneList& zones = instrument->zones;
    for (int32_t z = 0; z < zones.count() && found < capacity; ++z) {
        const Zone* zone = zones[z];
        if (zone && zone->articulation && zone->rangeStart <= key && key <= zone->rangeEnd &&
            zone->articulation->velocityLow <= velocity && velocity <= zone->articulation->velocityHigh)
            out[found++] = zone;
    }
    return found;
}

bool Bank::hasArticulation() const {
    for (const auto& kit : kits)
        if (kit) return true;
    bool found = false;
    forEachInstrument([&found](const Instrument& instrument) {
        for (int32_t z = 0; z < instrument.zones.count() && !found; ++z)
            if (const Zone* zone = instrument.zones[z]; zone && zone->articulation) found = true;
    });
    return found;
}

Zone* Bank::findZone(const Instrument* instrument, int32_t key) {
    if (!instrument) return nullptr;
    const ZoneList& zones = instrument->zones;
    for (int32_t z = 0; z < zones.count(); ++z) {
        Zone* zone = zones[z];
        if (zone && zone->rangeStart <= key && key <= zone->rangeEnd) return zone;
    }
    return nullptr;
}

int32_t Bank::findInstrumentByName(std::string_view name) const {
    for (int32_t s = 0; s < instrumentCount; ++s) {
        const Instrument* instrument = instruments[static_cast<size_t>(s)].get();
        if (instrument && instrument->name == name) return s;
    }
    return -1;
}

int32_t Bank::findZoneByWaveName(const Instrument* instrument, std::string_view name) {
    if (!instrument) return -1;
    const ZoneList& zones = instrument->zones;
    for (int32_t z = 0; z < zones.count(); ++z) {
        const Zone* zone = zones[z];
        if (zone && zone->wave && zone->wave->name == name) return z;
    }
    return -1;
}

int32_t Bank::insertInstrument(std::string name) {
    if (instrumentCount < 0 || instrumentCount >= kInstrumentSlots) return -1;
    const int32_t slot = instrumentCount;
    instruments[static_cast<size_t>(slot)] = std::make_unique<Instrument>(std::move(name), slot);
    ++instrumentCount;
    return slot;
}

void Bank::deleteInstrument(int32_t slot) {
    if (slot < 0 || slot >= instrumentCount) return;
    instruments[static_cast<size_t>(slot)].reset();
    for (int32_t& entry : programMap)
        if (entry == slot) entry = 0;
    for (int32_t j = slot; j <= instrumentCount - 2; ++j) {
        instruments[static_cast<size_t>(j)] = std::move(instruments[static_cast<size_t>(j + 1)]);
        if (instruments[static_cast<size_t>(j)]) instruments[static_cast<size_t>(j)]->index = j;
        for (int32_t& entry : programMap)
            if (entry == j + 1) entry = j;
    }
    instruments[static_cast<size_t>(instrumentCount - 1)].reset();
    --instrumentCount;
}

void Bank::clearBank() {
    for (auto& slot : instruments) slot.reset();
    for (auto& kit : kits) kit.reset();
    instrumentCount = 0;
}

Zone* Bank::addZone(Instrument& instrument, std::unique_ptr<Wave> wave) {
    auto zone = std::make_unique<Zone>();
    zone->wave = std::move(wave);
    return instrument.zones.append(std::move(zone));
}

void Bank::removeZone(Instrument& instrument, int32_t position) { instrument.zones.remove(position); }

}  // namespace tonvero
