#pragma once
// The Patchmap in memory: 128 Instrument slots, the ProgramMap (entry p for
// MIDI program p, entry 128 for the drum set: the standard kit), the count of
// slots in use, and up to 128 drum kits besides, by their program number in
// the drum bank (what a program change on the drum channel chooses).
//
// Threads: the bank is read by note-on on the timer thread and changed from
// the user-interface thread; callers hold the engine mutex for both.

#include "bank/Instrument.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tonvero {

class Bank {
public:
    static constexpr int32_t kInstrumentSlots = 128;
    static constexpr int32_t kProgramEntries = 129;
    static constexpr int32_t kDrumEntry = 128;
    // MIDI channel 10 (index 9) always plays the drum set.
    static constexpr int32_t kDrumChannel = 9;

    // The ProgramMap entry a note on `channel` plays when the channel's
    // program is `program`: the drum entry on the drum channel.
    static int32_t entryForChannel(int32_t channel, int32_t program) {
        return channel == kDrumChannel ? kDrumEntry : program;
    }

    // Slots 0 .. instrumentCount - 1 hold Instruments, without gaps; the rest are null.
    std::array<std::unique_ptr<Instrument>, kInstrumentSlots> instruments;
    std::array<int32_t, kProgramEntries> programMap{};
    int32_t instrumentCount = 0;
    // Drum kits by program (0..127), owned, null where the bank has none; the
    // standard kit is the drum entry's Instrument, so kits[0] stays null.
    static constexpr int32_t kKitSlots = 128;
    std::array<std::unique_ptr<Instrument>, kKitSlots> kits;

    // The Instrument for a program 0..128: the slot its entry names if it holds
    // one, else slot 0 if it holds one, else null.
    Instrument* instrumentForProgram(int32_t program) const;
    // The kit a program change to `program` chooses on the drum channel: that
    // kit if the bank holds it, else the standard kit (the drum entry).
    Instrument* kitForProgram(int32_t program) const;
    // The first Zone, in list order, whose range holds `key`; null if none.
    static Zone* findZone(const Instrument* instrument, int32_t key);
    // The Zones a note of `key` and `velocity` sounds, into `out` (at most
    // `capacity`), returning how many: the first Zone whose range holds the
    // key, alone when it has no articulation; else every Zone with
    // articulation whose key and velocity ranges hold the note, in list order.
    static int32_t findLayers(const Instrument* instrument, int32_t key, int32_t velocity, const Zone** out,
                              int32_t capacity);
    // Lowest slot whose Instrument's name equals `name` byte for byte, or -1.
    int32_t findInstrumentByName(std::string_view name) const;
    // Position of the first Zone whose Wave's name equals `name`, or -1.
    static int32_t findZoneByWaveName(const Instrument* instrument, std::string_view name);

    // Makes a new Instrument in slot instrumentCount; returns the slot, or -1
    // when all 128 slots are taken (the bank is unchanged).
    int32_t insertInstrument(std::string name);
    // Removes the Instrument in `slot`, moves the later ones down one slot and
    // renumbers the ProgramMap; entries naming the deleted slot become 0.
    void deleteInstrument(int32_t slot);
    // Destroys every Instrument and kit; the ProgramMap is kept.
    void clearBank();

    // Appends a Zone (range 0..120, basic note 60) playing `wave`.
    static Zone* addZone(Instrument& instrument, std::unique_ptr<Wave> wave);
    // Destroys the Zone at `position` with its Wave (stereo links follow the
    // Zones that move; a link to the removed one is dropped).
    static void removeZone(Instrument& instrument, int32_t position);

    // Calls `visit` for every Instrument of the bank, kits included.
    template <class F>
    void forEachInstrument(F&& visit) const {
        for (int32_t s = 0; s < instrumentCount; ++s)
            if (instruments[static_cast<size_t>(s)]) visit(*instruments[static_cast<size_t>(s)]);
        for (const auto& kit : kits)
            if (kit) visit(*kit);
    }
    // Calls `visit` for every Wave of the bank, kits included.
    template <class F>
    void forEachWave(F&& visit) const {
        forEachInstrument([&visit](const Instrument& instrument) {
            for (int32_t z = 0; z < instrument.zones.count(); ++z)
                if (const Zone* zone = instrument.zones[z]; zone && zone->wave) visit(*zone->wave);
        });
    }
    // True when any Zone has articulation or the bank holds kits (it then
    // saves as a Patchmap of version 4).
    bool hasArticulation() const;
};

}  // namespace tonvero
