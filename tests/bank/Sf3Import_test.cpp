// SoundFont 3 files: samples compressed as Ogg Vorbis (written here through
// libsndfile) are decoded into 16-bit mono sample data with their loops, a
// file may mix them with plain samples, and damaged compressed data (cut
// short, changed bytes, a stream that is not sound) is refused with a message
// naming the sample, never decoded with holes.

#include "bank/Sf2Import.h"
#include "bank/Sf2Reader.h"
#include "support/OggVorbisWriter.h"
#include "support/Sf2Writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tonvero {
namespace {

using test::OggVorbisWriter;
using test::Sf2TestSample;
using test::Sf2TestZone;
using test::Sf2Writer;

constexpr size_t kSineFrames = 4410;

// 441 Hz at 44100 Hz: a period of exactly 100 samples.
std::vector<int16_t> sine() {
    std::vector<int16_t> values(kSineFrames);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * static_cast<double>(i) / 100.0)));
    return values;
}

const std::vector<uint8_t>& encodedSine() {
    static const std::vector<uint8_t> stream = OggVorbisWriter::encode(sine(), 44100);
    return stream;
}

// Version 3: sample 0 compressed (looped over decoded samples 1000..2999),
// sample 1 plain; program 0 plays the first below key 60, the second above.
Sf2Writer compressedFont(std::vector<uint8_t> stream) {
    Sf2Writer w;
    w.version(3, 1);
    Sf2TestSample packed;
    packed.name = "Sine";
    packed.loopStart = 1000;
    packed.loopEnd = 3000;
    Sf2TestSample plain;
    plain.name = "Plain";
    plain.data = {5, 6, 7, 8};
    w.addCompressedSample(packed, std::move(stream));
    w.addSample(plain);
    const uint16_t instrument = w.addInstrument(
        "I", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 59).gen(Sf2Gen::SampleModes, 1).gen(Sf2Gen::SampleID, 0),
              Sf2TestZone{}.range(Sf2Gen::KeyRange, 60, 127).gen(Sf2Gen::SampleID, 1)});
    w.addPreset("P", 0, 0, {Sf2TestZone{}.gen(Sf2Gen::Instrument, instrument)});
    return w;
}

std::string parseError(const std::vector<uint8_t>& image) {
    Sf2Font font;
    std::string error;
    EXPECT_FALSE(Sf2Reader::parse(image, font, error));
    return error;
}

// The Ogg page checksum, to build a stream whose pages are whole but whose contents are not sound.
uint32_t oggChecksum(const uint8_t* page, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(i >= 22 && i < 26 ? 0 : page[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

TEST(Sf3Import, CompressedSamplesAreDecodedWithTheirLoops) {
    ASSERT_FALSE(encodedSine().empty()) << "libsndfile cannot encode Ogg Vorbis";
    Sf2Font font;
    std::string error;
    ASSERT_TRUE(Sf2Reader::parse(compressedFont(encodedSine()).image(), font, error)) << error;
    EXPECT_EQ(font.versionMajor, 3);
    ASSERT_EQ(font.samples.size(), 2u);
    // The plain sample keeps its place; the decoded one follows the plain data.
    const Sf2Sample& plain = font.samples[1];
    std::vector<int16_t> plainSamples(plain.end - plain.start);
    font.sampleData.read(plain.start, plainSamples.size(), plainSamples.data());
    EXPECT_EQ(plainSamples, (std::vector<int16_t>{5, 6, 7, 8}));
    const Sf2Sample& decoded = font.samples[0];
    const size_t plainData = (encodedSine().size() + 1) / 2 + 4 + 46;
    EXPECT_EQ(decoded.start, plainData);
    EXPECT_EQ(decoded.end - decoded.start, kSineFrames);
    EXPECT_EQ(decoded.loopStart, decoded.start + 1000);
    EXPECT_EQ(decoded.loopEnd, decoded.start + 3000);
    EXPECT_EQ(font.sampleData.size(), plainData + kSineFrames);

    Bank bank;
    ASSERT_TRUE(buildBankFromSoundFont(font, bank, error)) << error;
    const Wave& wave = *Bank::findZone(bank.instrumentForProgram(0), 40)->wave;
    EXPECT_EQ(wave.name, "Sine");
    EXPECT_EQ(wave.looped, 1);
    EXPECT_EQ(wave.loopBegin, 1000);
    EXPECT_EQ(wave.loopEnd, 2999);
    ASSERT_EQ(wave.sampleCount, kSineFrames);
    // Lossy, but the same sound: within 1 % of the sine's level, sample by sample, after the codec's first block.
    const std::vector<int16_t> original = sine();
    double error2 = 0, signal2 = 0;
    for (size_t i = 256; i < original.size() - 256; ++i) {
        error2 += std::pow(wave.samples[i] - original[i], 2.0);
        signal2 += std::pow(original[i], 2.0);
    }
    EXPECT_LT(std::sqrt(error2 / signal2), 0.01);
    EXPECT_EQ(Bank::findZone(bank.instrumentForProgram(0), 60)->wave->samples, (std::vector<int16_t>{5, 6, 7, 8}));
}

TEST(Sf3Import, CompressedDataCutShortIsRefused) {
    const std::vector<uint8_t> good = compressedFont(encodedSine()).image();
    const size_t shdr = Sf2Writer::findChunkBody(good, "shdr");
    const uint32_t size = static_cast<uint32_t>(encodedSine().size());
    for (uint32_t cut : {1u, 2u, 27u, 100u, size / 2, size - 60, size - 1}) {
        std::vector<uint8_t> image = good;
        const uint32_t end = size - cut;  // the sample's stream is the first thing in the sample data
        for (int i = 0; i < 4; ++i) image[shdr + 24 + i] = static_cast<uint8_t>(end >> (8 * i));
        const std::string error = parseError(image);
        EXPECT_NE(error.find("Damaged SoundFont: the compressed data of sample 0 'Sine' is cut short"),
                  std::string::npos)
            << "cut " << cut << ": " << error;
    }
}

TEST(Sf3Import, ChangedCompressedBytesAreRefused) {
    const std::vector<uint8_t> good = compressedFont(encodedSine()).image();
    const size_t smpl = Sf2Writer::findChunkBody(good, "smpl");
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> image = good;
        const size_t at = smpl + random() % encodedSine().size();
        image[at] ^= static_cast<uint8_t>(1 + random() % 255);
        const std::string error = parseError(image);
        ASSERT_NE(error.find("Damaged SoundFont: the compressed data of sample 0 'Sine' "), std::string::npos)
            << "byte " << at - smpl << ": " << error;
    }
}

TEST(Sf3Import, CompressedDataThatIsNotSoundIsRefused) {
    // Plain 16-bit data marked as compressed.
    std::vector<uint8_t> image = compressedFont(std::vector<uint8_t>(400, 0x41)).image();
    EXPECT_NE(parseError(image).find("compressed data of sample 0 'Sine' is not an Ogg stream"), std::string::npos);

    // Whole, well-formed pages whose packets are not Vorbis: the first page's
    // payload replaced, its checksum made right again.
    std::vector<uint8_t> stream = encodedSine();
    ASSERT_GT(stream.size(), 58u);
    const size_t firstPage = 27 + stream[26] + stream[27];  // one segment: the identification header
    for (size_t i = 28; i < firstPage; ++i) stream[i] = static_cast<uint8_t>(i * 7);
    const uint32_t crc = oggChecksum(stream.data(), firstPage);
    for (int i = 0; i < 4; ++i) stream[22 + i] = static_cast<uint8_t>(crc >> (8 * i));
    image = compressedFont(stream).image();
    EXPECT_NE(parseError(image).find("compressed data of sample 0 'Sine' cannot be decoded"), std::string::npos)
        << parseError(image);

    // A last page claiming a length no sample has, its checksum right.
    stream = encodedSine();
    size_t last = stream.size() - 27;
    while (last > 0 &&
           !(stream[last] == 'O' && stream[last + 1] == 'g' && stream[last + 2] == 'g' && stream[last + 3] == 'S'))
        --last;
    stream[last + 6 + 5] = 0x01;  // granule position 2^40 + 4410
    const uint32_t lastCrc = oggChecksum(stream.data() + last, stream.size() - last);
    for (int i = 0; i < 4; ++i) stream[last + 22 + i] = static_cast<uint8_t>(lastCrc >> (8 * i));
    EXPECT_NE(parseError(compressedFont(stream).image())
                  .find("compressed data of sample 0 'Sine' claims 1099511632186 samples, more than the 67108864"),
              std::string::npos)
        << parseError(compressedFont(stream).image());

    // A range outside the sample data.
    image = compressedFont(encodedSine()).image();
    const size_t shdr = Sf2Writer::findChunkBody(image, "shdr");
    image[shdr + 24 + 3] = 0x7F;
    EXPECT_NE(parseError(image).find("compressed data of sample 0 'Sine' spans bytes"), std::string::npos);
}

}  // namespace
}  // namespace tonvero
