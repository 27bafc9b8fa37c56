// Patchmap version 4: articulation and kits survive a save and a load, banks
// without them keep version 3, the layout is the one Patchmap.h documents
// (checked against a file written here field by field), articulation blocks
// of other lengths load as documented, and damaged files change nothing.

#include "support/BankFixtures.h"
#include "support/WavWriter.h"
#include "bank/FileUtil.h"
#include "bank/Patchmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>

namespace tonvero {
namespace {

using test::describeBank;
using test::makeArticulation;

uint32_t u32At(const std::vector<uint8_t>& b, size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b.at(offset + static_cast<size_t>(i));
    return v;
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

LoadResult loadImage(Bank& bank, const std::vector<uint8_t>& bytes) {
    return loadPatchmapImage(bank, bytes.data(), bytes.size());
}

// The fields of `a` in the order the file documents, written out by hand.
std::vector<int32_t> documentedOrder(const ZoneArticulation& a) {
    std::vector<int32_t> v;
    for (const EnvelopeSettings* e : {&a.volumeEnvelope, &a.modulationEnvelope})
        v.insert(v.end(),
                 {e->delay, e->attack, e->hold, e->decay, e->sustain, e->release, e->keyToHold, e->keyToDecay});
    v.insert(v.end(), {a.modulationEnvelopeToPitch, a.modulationEnvelopeToFilter});
    for (const LfoSettings* l : {&a.modulationLfo, &a.vibratoLfo})
        v.insert(v.end(), {l->delay, l->frequency, l->toPitch, l->toFilter, l->toVolume});
    v.insert(v.end(), {a.attenuation, a.pan, a.coarseTune, a.fineTune, a.scaleTuning, a.filterCutoff, a.filterResonance,
                       a.exclusiveClass, a.velocityLow, a.velocityHigh, a.tailOnRelease ? 1 : 0, a.linkedZone,
                       a.velocityToFilter, a.modulationToVibrato, a.pressureToVibrato, a.reverbSend, a.chorusSend});
    return v;
}

// A version 4 file written field by field: Instrument "Harp" with one Zone
// (Wave "w", samples 7 and -7, with articulation) and a kit "Kit" per program
// in kitPrograms (one Zone, Wave "k" of one sample, no articulation). Each
// member is one thing a test can change.
struct HandWritten {
    std::vector<int32_t> fields = documentedOrder(makeArticulation(0));
    std::vector<uint8_t> blockTail;       // bytes after the fields, inside the block
    std::optional<uint32_t> blockLength;  // stored instead of the block's true length
    uint32_t waveCount = 2;               // the Wave record's sample count
    uint32_t waveBlock = 0;               // the block the Wave names
    std::vector<int32_t> kitPrograms = {5};
    bool v3RecordFirst = false;  // an Instrument record of version 3 before "Harp"
    bool sections = true;        // the kits section and sample table

    static void wave(ByteWriter& out, const char* name, uint32_t count, uint32_t block) {
        out.u32(2);
        out.u32(count);
        out.i32(0);      // loop begin
        out.i32(1);      // loop end
        out.i32(1);      // hold position
        out.u32(11025);  // frequency
        out.i32(1);      // looped
        out.u8(9);       // reserved
        out.i32(1);
        out.text(name);
        out.u32(block);
    }
    static void instrumentStart(ByteWriter& out, const char* name, int32_t zones) {
        out.u32(4);
        out.i32(static_cast<int32_t>(std::strlen(name)));
        out.text(name);
        out.u32(1);  // loop, sustain and cutoff fading
        out.u32(2);
        out.u32(3);
        out.i32(0);  // index
        out.i32(zones);
    }

    std::vector<uint8_t> image() const {
        ByteWriter out = test::patchmapStart(v3RecordFirst ? 2 : 1, {0, 1});
        if (v3RecordFirst) writeInstrument(out, Instrument("Old", 0));
        instrumentStart(out, "Harp", 1);
        out.i32(10);
        out.i32(20);
        out.i32(15);
        wave(out, "w", waveCount, waveBlock);
        out.u32(blockLength.value_or(static_cast<uint32_t>(fields.size() * 4 + blockTail.size())));
        for (int32_t f : fields) out.i32(f);
        out.bytes(blockTail.data(), blockTail.size());
        if (!sections) return out.take();

        out.text("KITS");
        out.i32(static_cast<int32_t>(kitPrograms.size()));
        for (size_t k = 0; k < kitPrograms.size(); ++k) {
            out.i32(kitPrograms[k]);
            instrumentStart(out, "Kit", 1);
            out.i32(35);
            out.i32(35);
            out.i32(35);
            wave(out, "k", 1, static_cast<uint32_t>(k + 1));
            out.u32(0);  // no articulation
        }
        out.text("SMPL");
        out.u32(static_cast<uint32_t>(1 + kitPrograms.size()));
        out.u32(2);
        out.u16(7);
        out.u16(static_cast<uint16_t>(-7));
        for (size_t k = 0; k < kitPrograms.size(); ++k) {
            out.u32(1);
            out.u16(3);
        }
        return out.take();
    }
};

// The bank HandWritten{} describes, built in memory.
Bank handWrittenBank() {
    Bank bank;
    bank.programMap[1] = 1;
    const auto fill = [](Instrument& in, const char* wave, std::vector<int16_t> samples, int32_t low, int32_t high,
                         int32_t basic) {
        in.loopFading = 1;
        in.sustainFading = 2;
        in.cutoffFading = 3;
        Zone* zone = Bank::addZone(in, test::makeWave(wave, std::move(samples), 11025));
        zone->rangeStart = low;
        zone->rangeEnd = high;
        zone->basicNote = basic;
        zone->wave->loopEnd = 1;
        zone->wave->holdPos = 1;
        zone->wave->looped = 1;
        zone->wave->reserved = 9;
        return zone;
    };
    bank.insertInstrument("Harp");
    fill(*bank.instruments[0], "w", {7, -7}, 10, 20, 15)->articulation =
        std::make_unique<ZoneArticulation>(makeArticulation(0));
    bank.kits[5] = std::make_unique<Instrument>("Kit", 0);
    fill(*bank.kits[5], "k", {3}, 35, 35, 35);
    return bank;
}

TEST(PatchmapV4, SaveLoadSaveKeepsEveryArticulationFieldAndKitAndTheBytes) {
    const Bank original = test::makeArticulatedBank();
    const std::string first = test::tempPath("v4 first.map");
    ASSERT_TRUE(savePatchmap(original, first));
    const std::vector<uint8_t> bytes = test::readFileBytes(first);
    EXPECT_EQ(bytes[0], 0) << "the format version stays 0";
    EXPECT_EQ(u32At(bytes, 776), 4u) << "Instrument records of version 4";

    Bank loaded;
    ASSERT_EQ(loadPatchmap(loaded, first), LoadOk);
    EXPECT_EQ(describeBank(loaded), describeBank(original));
    const auto sameZones = [](const Instrument& a, const Instrument& b) {
        ASSERT_EQ(a.zones.count(), b.zones.count()) << a.name;
        for (int32_t z = 0; z < a.zones.count(); ++z) {
            ASSERT_EQ(a.zones[z]->articulation == nullptr, b.zones[z]->articulation == nullptr) << a.name << z;
            if (a.zones[z]->articulation) {
                EXPECT_EQ(*a.zones[z]->articulation, *b.zones[z]->articulation) << a.name << z;
            }
            EXPECT_EQ(a.zones[z]->wave->samples, b.zones[z]->wave->samples);
        }
    };
    for (int32_t slot = 0; slot < original.instrumentCount; ++slot)
        sameZones(*original.instruments[static_cast<size_t>(slot)], *loaded.instruments[static_cast<size_t>(slot)]);
    for (int32_t program = 0; program < Bank::kKitSlots; ++program) {
        const auto& kit = original.kits[static_cast<size_t>(program)];
        ASSERT_EQ(kit == nullptr, loaded.kits[static_cast<size_t>(program)] == nullptr) << "kit " << program;
        if (kit) sameZones(*kit, *loaded.kits[static_cast<size_t>(program)]);
    }

    const std::string second = test::tempPath("v4 second.map");
    ASSERT_TRUE(savePatchmap(loaded, second));
    EXPECT_EQ(test::readFileBytes(second), bytes);
}

TEST(PatchmapV4, BanksWithoutArticulationKeepVersionThreeAndKitsAloneMakeVersionFour) {
    // The small bank's version 3 image as it was before version 4 existed.
    const std::vector<uint8_t> v3 = patchmapImage(test::makeSmallBank());
    EXPECT_EQ(v3.size(), 1140u);
    EXPECT_EQ(fnv1a(v3), 12627941437222499967ull);
    Bank stripped = test::makeArticulatedBank();
    stripped.forEachInstrument([](const Instrument& in) {
        for (int32_t z = 0; z < in.zones.count(); ++z) in.zones[z]->articulation.reset();
    });
    for (auto& kit : stripped.kits) kit.reset();
    EXPECT_FALSE(stripped.hasArticulation());
    EXPECT_EQ(patchmapImage(stripped), v3);

    for (const bool withInstruments : {true, false}) {
        Bank kitsOnly = withInstruments ? test::makeSmallBank() : Bank();
        kitsOnly.kits[40] = std::make_unique<Instrument>("Brush", 3);
        Bank::addZone(*kitsOnly.kits[40], test::makeWave("brush", {5, 6}));
        const std::vector<uint8_t> image = patchmapImage(kitsOnly);
        EXPECT_NE(image, v3);
        EXPECT_EQ(u32At(image, 776), withInstruments ? 4u : kKitsTag);
        Bank loaded;
        ASSERT_EQ(loadImage(loaded, image), LoadOk);
        EXPECT_EQ(describeBank(loaded), describeBank(kitsOnly));
        EXPECT_EQ(patchmapImage(loaded), image);
    }
}

// The number of blocks in an image's sample table.
uint32_t sampleBlocks(const std::vector<uint8_t>& image) {
    const auto tag = std::search(image.begin(), image.end(), std::begin("SMPL"), std::begin("SMPL") + 4);
    return tag == image.end() ? 0 : u32At(image, static_cast<size_t>(tag - image.begin()) + 4);
}

TEST(PatchmapV4, WavesSharingSamplesStoreThemOnceAndShareThemAgainWhenLoaded) {
    const std::vector<uint8_t> v3 = patchmapImage(test::makeSmallBank());
    // The strings' Wave takes the piano's low samples: one storage for two Waves.
    Bank bank = test::makeSmallBank();
    Wave& piano = *bank.instruments[0]->zones[0]->wave;
    Wave& strings = *bank.instruments[1]->zones[0]->wave;
    const std::vector<int16_t> stringSamples = strings.samples.copy();
    strings.setSamples(piano.samples);
    ASSERT_TRUE(strings.samples.sharesStorageWith(piano.samples));

    const std::vector<uint8_t> shared = patchmapImage(bank);
    EXPECT_EQ(u32At(shared, 776), 4u) << "only version 4 stores samples once";
    uint32_t waves = 0;
    bank.forEachWave([&waves](const Wave&) { ++waves; });
    EXPECT_EQ(sampleBlocks(shared), waves - 1) << "a block for each Wave's samples but the strings'";
    Bank loaded;
    ASSERT_EQ(loadImage(loaded, shared), LoadOk);
    EXPECT_EQ(describeBank(loaded), describeBank(bank));
    const Wave& loadedPiano = *loaded.instruments[0]->zones[0]->wave;
    const Wave& loadedStrings = *loaded.instruments[1]->zones[0]->wave;
    EXPECT_TRUE(loadedStrings.samples.sharesStorageWith(loadedPiano.samples));
    EXPECT_FALSE(loadedPiano.samples.sharesStorageWith(loaded.instruments[0]->zones[1]->wave->samples));
    EXPECT_EQ(patchmapImage(loaded), shared) << "saved, loaded and saved again: the same bytes";

    // New samples for one Wave leave the other's as they were; a loop edit is the Wave's own.
    strings.setSamples(stringSamples);
    strings.loopEnd = 2;
    EXPECT_EQ(piano.samples, (std::vector<int16_t>{0, 100, -100, 32767, -32768}));
    EXPECT_EQ(piano.loopEnd, 4);
    EXPECT_FALSE(strings.samples.sharesStorageWith(piano.samples));
    strings.loopEnd = test::makeSmallBank().instruments[1]->zones[0]->wave->loopEnd;
    EXPECT_EQ(patchmapImage(bank), v3) << "nothing shared any more: version 3 as before";
}

TEST(PatchmapV4, LayoutIsTheDocumentedOneAndArticulationBlocksOfOtherLengthsLoad) {
    const Bank expected = handWrittenBank();
    EXPECT_EQ(HandWritten{}.image(), patchmapImage(expected)) << "the writer follows the documented layout";
    Bank loaded;
    ASSERT_EQ(loadImage(loaded, HandWritten{}.image()), LoadOk);
    EXPECT_EQ(describeBank(loaded), describeBank(expected));

    // A writer that knew only the first two fields: the rest keep their defaults.
    HandWritten shortBlock;
    shortBlock.fields.resize(2);
    ASSERT_EQ(loadImage(loaded, shortBlock.image()), LoadOk);
    ZoneArticulation defaults;
    defaults.volumeEnvelope.delay = shortBlock.fields[0];
    defaults.volumeEnvelope.attack = shortBlock.fields[1];
    EXPECT_EQ(*loaded.instruments[0]->zones[0]->articulation, defaults);

    // A later writer's fields (and a partial word) after the known ones are skipped.
    HandWritten longBlock;
    longBlock.blockTail = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(loadImage(loaded, longBlock.image()), LoadOk);
    EXPECT_EQ(describeBank(loaded), describeBank(expected));
}

class PatchmapV4Refusal : public ::testing::Test {
protected:
    Bank bank = test::makeArticulatedBank();
    const std::string before = describeBank(bank);

    void expectRefused(const std::vector<uint8_t>& bytes, const std::string& what) {
        EXPECT_EQ(loadImage(bank, bytes), LoadNotPatchmap) << what;
        EXPECT_EQ(describeBank(bank), before) << what;
    }
};

TEST_F(PatchmapV4Refusal, DamagedSectionsCountsAndIndices) {
    const auto refused = [this](const char* what, auto change) {
        HandWritten file;
        change(file);
        expectRefused(file.image(), what);
    };
    refused("block index outside the table", [](HandWritten& f) { f.waveBlock = 2; });
    refused("block shorter than the Wave", [](HandWritten& f) { f.waveCount = 3; });
    refused("block longer than the Wave", [](HandWritten& f) { f.waveCount = 1; });
    refused("kit program 128", [](HandWritten& f) { f.kitPrograms = {128}; });
    refused("kit program -1", [](HandWritten& f) { f.kitPrograms = {-1}; });
    refused("kit program twice", [](HandWritten& f) { f.kitPrograms = {7, 7}; });
    refused("129 kits", [](HandWritten& f) {
        f.kitPrograms.clear();
        for (int32_t p = 0; p < 129; ++p) f.kitPrograms.push_back(p);
    });
    refused("a field cut in the middle", [](HandWritten& f) { f.blockLength = 6; });
    refused("a block past the limit",
            [](HandWritten& f) { f.blockTail.assign(kMaxArticulationBytes - f.fields.size() * 4 + 1, 0); });
    refused("a block length far past the file", [](HandWritten& f) { f.blockLength = 0x7FFFFFF0; });
    refused("version 4 records without the sections", [](HandWritten& f) { f.sections = false; });
    refused("records of versions 3 and 4 mixed", [](HandWritten& f) { f.v3RecordFirst = true; });

    std::vector<uint8_t> v3WithSections = patchmapImage(test::makeExampleBank());
    for (char b : {'K', 'I', 'T', 'S', '\0', '\0', '\0', '\0', 'S', 'M', 'P', 'L', '\0', '\0', '\0', '\0'})
        v3WithSections.push_back(static_cast<uint8_t>(b));
    expectRefused(v3WithSections, "a version 3 record followed by the sections");
    for (const char* tag : {"KITS", "SMPL"}) {
        std::vector<uint8_t> wrongTag = HandWritten{}.image();
        const auto at = std::search(wrongTag.begin(), wrongTag.end(), tag, tag + 4);
        ASSERT_NE(at, wrongTag.end());
        *at ^= 0x20;  // "kITS", "sMPL"
        expectRefused(wrongTag, std::string("a wrong tag for ") + tag);
    }
}

TEST_F(PatchmapV4Refusal, ArticulationValuesOutsideTheirRanges) {
    // Field positions as documented, with the first value past each end of the range.
    const struct {
        size_t field;
        int32_t value;
    } bad[] = {{4, -1},    {4, 1441},   {12, -1},  {12, 1001}, {28, -1},  {28, 1441}, {29, -501},
               {29, 501},  {30, -121},  {30, 121}, {31, -100}, {31, 100}, {32, -1},   {32, 1201},
               {33, 1499}, {33, 13501}, {34, -1},  {34, 961},  {35, -1},  {35, 128},  {36, -1},
               {36, 128},  {37, -1},    {37, 128}, {38, 2},    {38, -1},  {39, -2},   {39, 1}};
    for (const auto& [field, value] : bad) {
        HandWritten file;
        file.fields[field] = value;
        expectRefused(file.image(), "field " + std::to_string(field) + " = " + std::to_string(value));
    }
    HandWritten linkedToItself;
    linkedToItself.fields[39] = 0;  // the only Zone: a link may name it
    Bank loaded;
    EXPECT_EQ(loadImage(loaded, linkedToItself.image()), LoadOk);

    // Nor is such a bank saved, which would write a file that does not load.
    Bank outOfRange = test::makeArticulatedBank();
    outOfRange.instruments[0]->zones[1]->articulation->filterCutoff = 13501;
    EXPECT_FALSE(isSavable(outOfRange));
    outOfRange.instruments[0]->zones[1]->articulation->filterCutoff = 13500;
    outOfRange.kits[1]->zones[0]->articulation->linkedZone = 2;
    EXPECT_FALSE(isSavable(outOfRange));
    const std::string path = test::tempPath("out of range.map");
    EXPECT_FALSE(savePatchmap(outOfRange, path));
    EXPECT_EQ(fileLength(path), -1);
}

TEST_F(PatchmapV4Refusal, EveryTruncationAndSeededMutationsChangeNothing) {
    const std::vector<uint8_t> whole = patchmapImage(test::makeArticulatedBank());
    for (size_t length = 0; length < whole.size(); ++length) {
        // A copy of exactly this length, so that any read past its end is caught.
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
        ASSERT_EQ(loadImage(bank, part), LoadNotPatchmap) << "cut at " << length;
        ASSERT_EQ(describeBank(bank), before) << "cut at " << length;
    }

    std::mt19937 random(4004);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            const size_t at = 772 + random() % (bytes.size() - 772);  // the structure after the ProgramMap
            bytes[at] = random() % 3 == 0 ? static_cast<uint8_t>(bytes[at] ^ (1u << (random() % 8)))
                                          : static_cast<uint8_t>(random());
        }
        Bank target = test::makeArticulatedBank();
        const LoadResult result = loadImage(target, bytes);
        if (result != LoadOk) {
            ASSERT_EQ(result, LoadNotPatchmap) << "round " << round;
            ASSERT_EQ(describeBank(target), before) << "round " << round;
            continue;
        }
        ++loaded;  // whatever loads saves, loads again the same and saves to the same bytes
        ASSERT_TRUE(isSavable(target)) << "round " << round;
        const std::vector<uint8_t> again = patchmapImage(target);
        Bank reloaded;
        ASSERT_EQ(loadImage(reloaded, again), LoadOk) << "round " << round;
        ASSERT_EQ(describeBank(reloaded), describeBank(target)) << "round " << round;
        ASSERT_EQ(patchmapImage(reloaded), again) << "round " << round;
    }
    EXPECT_GT(loaded, 0);
    EXPECT_LT(loaded, 3000);
}

}  // namespace
}  // namespace tonvero
