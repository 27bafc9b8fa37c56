// The bank model: lookups with their fallbacks, Instrument insertion and
// deletion with the ProgramMap renumbering, and the Zone list's growth steps.

#include "bank/Bank.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tonvero {
namespace {

std::unique_ptr<Wave> namedWave(const std::string& name) {
    auto wave = std::make_unique<Wave>();
    wave->name = name;
    return wave;
}

TEST(BankModel, InitialValues) {
    Bank bank;
    EXPECT_EQ(bank.instrumentCount, 0);
    for (const auto& slot : bank.instruments) EXPECT_EQ(slot, nullptr);
    for (int32_t entry : bank.programMap) EXPECT_EQ(entry, 0);

    Instrument instrument("Piano", 7);
    EXPECT_EQ(instrument.name, "Piano");
    EXPECT_EQ(instrument.index, 7);
    EXPECT_EQ(instrument.loopFading, 0x4000u);
    EXPECT_EQ(instrument.sustainFading, 0x8000u);
    EXPECT_EQ(instrument.cutoffFading, 0u);
    EXPECT_EQ(instrument.zones.count(), 0);
    EXPECT_EQ(instrument.zones.capacity(), 5);

    Zone zone;
    EXPECT_EQ(zone.wave, nullptr);
    EXPECT_EQ(zone.rangeStart, 0);
    EXPECT_EQ(zone.rangeEnd, 120);
    EXPECT_EQ(zone.basicNote, 60);

    Wave wave;
    EXPECT_EQ(wave.name, "unused");
    EXPECT_EQ(wave.reserved, 128);
    EXPECT_EQ(wave.bufferSlot, -1);
    EXPECT_EQ(wave.looped, 0);
    EXPECT_EQ(wave.sampleCount, 0u);
    EXPECT_EQ(wave.loopBegin, 0);
    EXPECT_EQ(wave.loopEnd, 0);
    EXPECT_EQ(wave.holdPos, 0);
    EXPECT_EQ(wave.frequency, 0u);
    EXPECT_TRUE(wave.samples.empty());
    EXPECT_EQ(wave.deviceBuffer, nullptr);
}

TEST(BankModel, SetSamplesKeepsTheCountInStep) {
    Wave wave;
    wave.setSamples(std::vector<int16_t>{1, -2, 3});
    EXPECT_EQ(wave.sampleCount, 3u);
    wave.setSamples(SampleData());
    EXPECT_EQ(wave.sampleCount, 0u);
}

TEST(BankModel, InstrumentForProgramFallsBackToSlotZero) {
    Bank bank;
    EXPECT_EQ(bank.instrumentForProgram(0), nullptr) << "an empty bank plays nothing";
    EXPECT_EQ(bank.instrumentForProgram(128), nullptr);

    bank.insertInstrument("zero");
    bank.insertInstrument("one");
    bank.programMap[5] = 1;
    bank.programMap[6] = 9;   // names an empty slot
    bank.programMap[7] = -3;  // cannot come from the editor, must not be followed
    bank.programMap[128] = 500;
    EXPECT_EQ(bank.instrumentForProgram(5)->name, "one");
    EXPECT_EQ(bank.instrumentForProgram(6)->name, "zero");
    EXPECT_EQ(bank.instrumentForProgram(7)->name, "zero");
    EXPECT_EQ(bank.instrumentForProgram(128)->name, "zero");
    EXPECT_EQ(bank.instrumentForProgram(-1), nullptr);
    EXPECT_EQ(bank.instrumentForProgram(129), nullptr);
}

TEST(BankModel, FindZoneFirstAddedWinsAndKeysOutsidePlayNothing) {
    Instrument instrument("i", 0);
    Zone* low = Bank::addZone(instrument, namedWave("low"));
    low->rangeStart = 30;
    low->rangeEnd = 60;
    Zone* wide = Bank::addZone(instrument, namedWave("wide"));
    wide->rangeStart = 50;
    wide->rangeEnd = 80;

    EXPECT_EQ(Bank::findZone(&instrument, 29), nullptr);
    EXPECT_EQ(Bank::findZone(&instrument, 30), low);
    EXPECT_EQ(Bank::findZone(&instrument, 55), low) << "overlap: the Zone added first plays";
    EXPECT_EQ(Bank::findZone(&instrument, 60), low);
    EXPECT_EQ(Bank::findZone(&instrument, 61), wide);
    EXPECT_EQ(Bank::findZone(&instrument, 80), wide);
    EXPECT_EQ(Bank::findZone(&instrument, 81), nullptr);
    EXPECT_EQ(Bank::findZone(nullptr, 60), nullptr);
}

TEST(BankModel, NameLookupsAreExactAndFindTheFirst) {
    Bank bank;
    bank.insertInstrument("Organ");
    bank.insertInstrument("organ");
    bank.insertInstrument("Organ");
    EXPECT_EQ(bank.findInstrumentByName("Organ"), 0);
    EXPECT_EQ(bank.findInstrumentByName("organ"), 1);
    EXPECT_EQ(bank.findInstrumentByName("Orga"), -1);

    const std::string longName(300, 'x');  // names are not limited to 63 characters
    EXPECT_EQ(bank.insertInstrument(longName), 3);
    EXPECT_EQ(bank.findInstrumentByName(longName), 3);

    Instrument& organ = *bank.instruments[0];
    Bank::addZone(organ, namedWave("/a.wav"));
    Bank::addZone(organ, namedWave("/b.wav"));
    Bank::addZone(organ, namedWave("/b.wav"));
    EXPECT_EQ(Bank::findZoneByWaveName(&organ, "/b.wav"), 1);
    EXPECT_EQ(Bank::findZoneByWaveName(&organ, "/c.wav"), -1);
    EXPECT_EQ(Bank::findZoneByWaveName(nullptr, "/a.wav"), -1);
}

TEST(BankModel, InsertRefusesTheHundredTwentyNinthInstrument) {
    Bank bank;
    for (int32_t i = 0; i < Bank::kInstrumentSlots; ++i) {
        ASSERT_EQ(bank.insertInstrument("i" + std::to_string(i)), i);
        EXPECT_EQ(bank.instruments[static_cast<size_t>(i)]->index, i);
    }
    bank.programMap[3] = 77;
    EXPECT_EQ(bank.insertInstrument("one too many"), -1);
    EXPECT_EQ(bank.instrumentCount, 128);
    EXPECT_EQ(bank.findInstrumentByName("one too many"), -1);
    EXPECT_EQ(bank.programMap[3], 77);
}

Bank bankOf(int32_t count) {
    Bank bank;
    for (int32_t i = 0; i < count; ++i) bank.insertInstrument("i" + std::to_string(i));
    return bank;
}

TEST(BankModel, DeleteRenumbersLaterInstrumentsAndTheirPrograms) {
    Bank bank = bankOf(4);
    bank.programMap[10] = 1;
    bank.programMap[11] = 2;
    bank.programMap[12] = 3;
    bank.deleteInstrument(2);

    EXPECT_EQ(bank.programMap[10], 1);
    EXPECT_EQ(bank.programMap[11], 0);
    EXPECT_EQ(bank.programMap[12], 2);
    EXPECT_EQ(bank.instrumentCount, 3);
    EXPECT_EQ(bank.instruments[2]->name, "i3");
    EXPECT_EQ(bank.instruments[2]->index, 2);
    EXPECT_EQ(bank.instruments[3], nullptr);
    EXPECT_EQ(bank.instrumentForProgram(12)->name, "i3");
}

TEST(BankModel, DeleteSlotZeroMovesTheSecondInstrumentIntoIt) {
    Bank bank = bankOf(2);
    bank.programMap[0] = 0;
    bank.programMap[1] = 1;
    bank.deleteInstrument(0);

    EXPECT_EQ(bank.programMap[0], 0);
    EXPECT_EQ(bank.programMap[1], 0);
    EXPECT_EQ(bank.instrumentCount, 1);
    EXPECT_EQ(bank.instruments[0]->name, "i1");
    EXPECT_EQ(bank.instruments[0]->index, 0);
    EXPECT_EQ(bank.instruments[1], nullptr);
}

TEST(BankModel, DeleteOutsideTheUsedRangeDoesNothing) {
    Bank bank = bankOf(2);
    bank.programMap[4] = 1;
    bank.deleteInstrument(-1);
    bank.deleteInstrument(2);
    bank.deleteInstrument(127);
    EXPECT_EQ(bank.instrumentCount, 2);
    EXPECT_EQ(bank.programMap[4], 1);

    bank.deleteInstrument(1);
    bank.deleteInstrument(0);
    EXPECT_EQ(bank.instrumentCount, 0);
    EXPECT_EQ(bank.programMap[4], 0);
    EXPECT_EQ(bank.instruments[0], nullptr);
}

TEST(BankModel, ClearBankKeepsTheProgramMap) {
    Bank bank = bankOf(3);
    Bank::addZone(*bank.instruments[1], namedWave("w"));
    for (int32_t p = 0; p < Bank::kProgramEntries; ++p) bank.programMap[static_cast<size_t>(p)] = p % 3;
    bank.clearBank();

    EXPECT_EQ(bank.instrumentCount, 0);
    for (const auto& slot : bank.instruments) EXPECT_EQ(slot, nullptr);
    for (int32_t p = 0; p < Bank::kProgramEntries; ++p) EXPECT_EQ(bank.programMap[static_cast<size_t>(p)], p % 3);
    EXPECT_EQ(bank.insertInstrument("again"), 0);
}

TEST(ZoneListSteps, GrowsToCountPlusTenWhenFull) {
    Instrument instrument("i", 0);
    const int32_t expected[] = {5, 5, 5, 5, 5, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 25};
    for (int32_t n = 1; n <= 16; ++n) {
        Bank::addZone(instrument, namedWave("w" + std::to_string(n)));
        EXPECT_EQ(instrument.zones.count(), n);
        EXPECT_EQ(instrument.zones.capacity(), expected[n - 1]) << "after " << n << " appends";
    }
    EXPECT_EQ(instrument.zones[16], nullptr);
    EXPECT_EQ(instrument.zones[-1], nullptr);
}

TEST(ZoneListSteps, RemoveMovesTheLastZoneAndShrinksByTen) {
    Instrument instrument("i", 0);
    for (int32_t n = 0; n < 16; ++n) Bank::addZone(instrument, namedWave("w" + std::to_string(n)));
    ASSERT_EQ(instrument.zones.capacity(), 25);

    Bank::removeZone(instrument, 2);
    EXPECT_EQ(instrument.zones.count(), 15);
    EXPECT_EQ(instrument.zones[2]->wave->name, "w15") << "the last Zone takes the freed place";
    EXPECT_EQ(instrument.zones.capacity(), 25) << "25 - 15 is not more than 10";

    Bank::removeZone(instrument, 14);  // the last one itself
    EXPECT_EQ(instrument.zones.count(), 14);
    EXPECT_EQ(instrument.zones.capacity(), 15) << "25 - 14 > 10 shrinks by 10";

    for (int32_t n = 14; n > 5; --n) Bank::removeZone(instrument, 0);
    EXPECT_EQ(instrument.zones.count(), 5);
    EXPECT_EQ(instrument.zones.capacity(), 15) << "15 - 5 is not more than 10";
    Bank::removeZone(instrument, 0);
    EXPECT_EQ(instrument.zones.capacity(), 5) << "15 - 4 > 10";
    for (int32_t n = 4; n > 0; --n) Bank::removeZone(instrument, 0);
    EXPECT_EQ(instrument.zones.count(), 0);
    EXPECT_EQ(instrument.zones.capacity(), 5);

    Bank::removeZone(instrument, 0);  // nothing there
    EXPECT_EQ(instrument.zones.capacity(), 5);
}

TEST(ZoneListSteps, RemoveOutsideTheListDoesNothing) {
    Instrument instrument("i", 0);
    Bank::addZone(instrument, namedWave("a"));
    Bank::removeZone(instrument, 1);
    Bank::removeZone(instrument, -1);
    EXPECT_EQ(instrument.zones.count(), 1);
    EXPECT_EQ(instrument.zones[0]->wave->name, "a");
}

}  // namespace
}  // namespace tonvero
