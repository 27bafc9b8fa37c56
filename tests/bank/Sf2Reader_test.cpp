// Reading SoundFont 2 files: the records of a well-formed file, version 3
// files, and refusal with a message naming the fault for damaged, truncated
// and mutated files. (Compressed samples: Sf3Import_test.cpp.)

#include "bank/Sf2Import.h"
#include "bank/Sf2Reader.h"
#include "support/Sf2Writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tonvero {
namespace {

using test::Sf2TestSample;
using test::Sf2TestZone;
using test::Sf2Writer;

std::vector<int16_t> ramp(size_t count) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<int16_t>(i * 37 - 1000);
    return values;
}

// Two samples (a stereo pair), two instruments with global zones, a
// melodic preset and a drum kit: every table has several records.
Sf2Writer richFont() {
    Sf2Writer w;
    Sf2TestSample left{.name = "Left",
                       .data = ramp(120),
                       .loopStart = 20,
                       .loopEnd = 100,
                       .sampleRate = 22050,
                       .originalPitch = 57,
                       .pitchCorrection = -5,
                       .link = 1,
                       .type = 4};
    Sf2TestSample right = left;
    right.name = "Right";
    right.link = 0;
    right.type = 2;
    w.addSample(left);
    w.addSample(right);
    const uint16_t strings = w.addInstrument(
        "Strings",
        {Sf2TestZone{}.gen(Sf2Gen::CoarseTune, 1),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 127).gen(Sf2Gen::SampleModes, 1).gen(Sf2Gen::SampleID, 0),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 127).gen(Sf2Gen::SampleModes, 1).gen(Sf2Gen::SampleID, 1)});
    const uint16_t kit = w.addInstrument(
        "Kit", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 35, 40).gen(Sf2Gen::ScaleTuning, 0).gen(Sf2Gen::SampleID, 0)});
    w.addPreset("Strings", 48, 0,
                {Sf2TestZone{}.gen(Sf2Gen::ReleaseVolEnv, 1200), Sf2TestZone{}.gen(Sf2Gen::Instrument, strings)});
    w.addPreset("Standard", 0, 128, {Sf2TestZone{}.gen(Sf2Gen::Instrument, kit)});
    return w;
}

std::string parseError(const std::vector<uint8_t>& image) {
    Sf2Font font;
    std::string error;
    EXPECT_FALSE(Sf2Reader::parse(image, font, error));
    EXPECT_FALSE(error.empty());
    return error;
}

void putLe32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void putLe16(std::vector<uint8_t>& image, size_t at, uint16_t value) {
    image[at] = static_cast<uint8_t>(value);
    image[at + 1] = static_cast<uint8_t>(value >> 8);
}

TEST(Sf2Reader, ReadsEveryRecord) {
    Sf2Font font;
    std::string error;
    ASSERT_TRUE(Sf2Reader::parse(richFont().image(), font, error)) << error;
    EXPECT_EQ(font.versionMajor, 2);
    EXPECT_EQ(font.name, "Test");
    ASSERT_EQ(font.samples.size(), 2u);  // the terminal "EOS" record is not a sample
    const Sf2Sample& left = font.samples[0];
    EXPECT_EQ(left.name, "Left");
    EXPECT_EQ(left.start, 0u);
    EXPECT_EQ(left.end, 120u);
    EXPECT_EQ(left.loopStart, 20u);
    EXPECT_EQ(left.loopEnd, 100u);
    EXPECT_EQ(left.sampleRate, 22050u);
    EXPECT_EQ(left.originalPitch, 57);
    EXPECT_EQ(left.pitchCorrection, -5);
    EXPECT_EQ(left.link, 1);
    EXPECT_EQ(left.type, Sf2SampleType::Left);
    EXPECT_EQ(font.samples[1].start, 166u);  // after 120 values and 46 guard zeros
    ASSERT_EQ(font.sampleData.size(), 2u * 166u);
    EXPECT_EQ(font.sampleData[1], 37 - 1000);

    ASSERT_EQ(font.instruments.size(), 2u);
    ASSERT_EQ(font.instruments[0].zones.size(), 3u);
    EXPECT_EQ(font.instruments[0].zones[0].generators.size(), 1u);
    const Sf2Generator range = font.instruments[1].zones[0].generators[0];
    EXPECT_EQ(range.oper, Sf2Gen::KeyRange);
    EXPECT_EQ(range.rangeLow(), 35);
    EXPECT_EQ(range.rangeHigh(), 40);

    ASSERT_EQ(font.presets.size(), 2u);
    EXPECT_EQ(font.presets[0].name, "Strings");
    EXPECT_EQ(font.presets[0].program, 48);
    EXPECT_EQ(font.presets[1].bank, 128);
    ASSERT_EQ(font.presets[0].zones.size(), 2u);
    EXPECT_EQ(font.presets[0].zones[0].generators[0].signedAmount(), 1200);
}

TEST(Sf2Reader, RefusesFilesThatAreNotSoundFonts) {
    EXPECT_NE(parseError({}).find("Not a SoundFont"), std::string::npos);
    std::vector<uint8_t> image = richFont().image();
    image[0] = 'X';
    EXPECT_NE(parseError(image).find("not a RIFF file"), std::string::npos);
    image = richFont().image();
    std::copy_n("WAVE", 4, image.begin() + 8);
    EXPECT_NE(parseError(image).find("'WAVE', not 'sfbk'"), std::string::npos);
}

TEST(Sf2Reader, ReadsVersion3AndRefusesOtherVersions) {
    // A SoundFont 3 file whose samples are not compressed reads as version 2 does.
    Sf2Writer w = richFont();
    w.version(3, 1);
    Sf2Font font;
    std::string error;
    ASSERT_TRUE(Sf2Reader::parse(w.image(), font, error)) << error;
    EXPECT_EQ(font.versionMajor, 3);
    EXPECT_EQ(font.sampleData.size(), 2u * 166u);

    // Plain samples marked as compressed are not an Ogg stream: damage (more in Sf3Import_test.cpp).
    std::vector<uint8_t> image = richFont().image();
    const size_t shdr = Sf2Writer::findChunkBody(image, "shdr");
    putLe16(image, shdr + 44, Sf2SampleType::Mono | Sf2SampleType::Compressed);
    EXPECT_NE(parseError(image).find("the compressed data of sample 0 'Left' is not an Ogg stream"), std::string::npos);

    w.version(1, 0);
    EXPECT_NE(parseError(w.image()).find("Unsupported SoundFont version 1.0"), std::string::npos);
    w.version(4, 0);
    EXPECT_NE(parseError(w.image()).find("only version 2 and 3 files"), std::string::npos);
}

TEST(Sf2Reader, NamesTheDamage) {
    const std::vector<uint8_t> good = richFont().image();
    const size_t shdr = Sf2Writer::findChunkBody(good, "shdr");
    const size_t igen = Sf2Writer::findChunkBody(good, "igen");
    const size_t pgen = Sf2Writer::findChunkBody(good, "pgen");
    const size_t pbag = Sf2Writer::findChunkBody(good, "pbag");
    const size_t inst = Sf2Writer::findChunkBody(good, "inst");
    ASSERT_NE(shdr * igen * pgen * pbag * inst, 0u);

    std::vector<uint8_t> image = good;
    putLe32(image, shdr + 24, 100000);  // sample end past the sample data
    EXPECT_NE(parseError(image).find("sample 0 'Left' spans 0..100000, outside the 332 samples"), std::string::npos);

    image = good;
    putLe32(image, shdr + 36, 0);
    EXPECT_NE(parseError(image).find("sample rate of 0"), std::string::npos);

    image = good;
    putLe16(image, shdr + 42, 7);  // stereo link to a sample that does not exist
    EXPECT_NE(parseError(image).find("linked to sample 7"), std::string::npos);

    image = good;
    // The instrument's second zone's last generator is its sample id; point it past the samples.
    putLe16(image, igen + 4 * 3 + 2, 9);
    EXPECT_NE(parseError(image).find("names sample 9, but the file has 2 samples"), std::string::npos);

    image = good;
    putLe16(image, pgen + 4 * 1 + 2, 5);  // the melodic preset's instrument
    EXPECT_NE(parseError(image).find("names instrument 5, but the file has 2 instruments"), std::string::npos);

    image = good;
    putLe16(image, pbag + 4 * 1, 60);  // a preset bag's first generator past the table
    EXPECT_NE(parseError(image).find("names generators"), std::string::npos);

    image = good;
    putLe16(image, inst + 22 + 20, 0);  // the second instrument's zones start before the first's end
    putLe16(image, inst + 20, 2);
    EXPECT_NE(parseError(image).find("names zones 2..0"), std::string::npos);

    image = good;
    putLe32(image, shdr - 4, 45);  // "shdr" no longer a whole number of 46-byte records
    EXPECT_FALSE(parseError(image).empty());
}

TEST(Sf2Reader, RefusesEveryTruncation) {
    const std::vector<uint8_t> good = richFont().image();
    for (size_t size = 0; size < good.size(); ++size) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        Sf2Font font;
        std::string error;
        ASSERT_FALSE(Sf2Reader::parse(cut, font, error)) << "accepted " << size << " bytes";
        ASSERT_FALSE(error.empty());
        // The same cut with a RIFF size that agrees with it: the lists and chunks inside must notice.
        if (size < 12) continue;
        std::vector<uint8_t> agreeing = cut;
        putLe32(agreeing, 4, static_cast<uint32_t>(size - 8));
        error.clear();
        ASSERT_FALSE(Sf2Reader::parse(agreeing, font, error)) << "accepted " << size << " bytes";
        ASSERT_FALSE(error.empty());
    }
}

TEST(Sf2Reader, SurvivesSeededMutations) {
    const std::vector<uint8_t> good = richFont().image();
    std::mt19937 random(6);
    int refused = 0, imported = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> image = good;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            // Half the changes land in the preset data, where the indices live.
            const size_t from = (round % 2 == 0) ? image.size() - 600 : 0;
            const size_t at = from + random() % (image.size() - from);
            image[at] = (random() % 3 == 0) ? static_cast<uint8_t>(0xFF) : static_cast<uint8_t>(random());
        }
        Sf2Font font;
        std::string error;
        if (!Sf2Reader::parse(image, font, error)) {
            ASSERT_FALSE(error.empty());
            ++refused;
            continue;
        }
        // Whatever is accepted must also import without reading outside the data.
        Bank bank;
        if (buildBankFromSoundFont(font, bank, error))
            ++imported;
        else
            ASSERT_FALSE(error.empty());
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(imported, 100);
}

TEST(Sf2Reader, ReportsAFileThatCannotBeOpened) {
    Sf2Font font;
    std::string error;
    EXPECT_FALSE(Sf2Reader::readFile("/nonexistent/dir/font.sf2", font, error));
    EXPECT_NE(error.find("Cannot open"), std::string::npos);
}

}  // namespace
}  // namespace tonvero
