// WAV import: the chunk walk, the format checks, the exact conversion
// arithmetic, and damaged files that must be refused without a stray read.

#include "support/WavWriter.h"
#include "bank/WaveImport.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace tonvero {
namespace {

using test::WavWriter;

std::string describeWave(const Wave& w) {
    std::ostringstream s;
    s << w.name << ' ' << w.sampleCount << ' ' << w.samples.size() << ' ' << w.frequency << ' ' << w.format.formatTag
      << '/' << w.format.channels << '/' << w.format.bitsPerSample;
    for (int16_t v : w.samples) s << ' ' << v;
    return s.str();
}

// Loads `image` through a file, as the editor does.
int loadThroughFile(Wave& wave, const std::vector<uint8_t>& image, const std::string& name = "sound.wav") {
    const std::string path = test::tempPath(name);
    EXPECT_TRUE(test::writeFileBytes(path, image));
    return loadWaveFile(wave, path);
}

TEST(WaveLoad, SixteenBitMonoIsReadyAsLoaded) {
    Wave wave;
    ASSERT_EQ(loadThroughFile(wave, WavWriter::pcm16({1, -2, 32767, -32768}, 1, 32000)), 1);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{1, -2, 32767, -32768}));
    EXPECT_EQ(wave.sampleCount, 4u);
    EXPECT_EQ(wave.frequency, 32000u);
    EXPECT_EQ(wave.name, test::tempPath("sound.wav"));
    EXPECT_EQ(wave.format, WaveFormat::pcm16(1, 32000));

    convertToMono16(wave);  // nothing to do
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{1, -2, 32767, -32768}));
}

TEST(WaveLoad, CountsValuesByTheSampleSize) {
    Wave eight;
    ASSERT_EQ(loadWaveImage(eight, WavWriter::pcm8({1, 2, 3, 4, 5}, 1, 8000).data(), 54, "x"), 1);
    EXPECT_EQ(eight.sampleCount, 5u) << "8 bits: one value per byte";
    Wave stereo;
    const auto image = WavWriter::pcm16({1, 2, 3, 4, 5, 6}, 2, 8000);
    ASSERT_EQ(loadWaveImage(stereo, image.data(), image.size(), "x"), 1);
    EXPECT_EQ(stereo.sampleCount, 6u) << "stereo counts values, two per frame";
    EXPECT_EQ(stereo.format.channels, 2);
}

TEST(WaveLoad, MissingFileAndNotAWaveFile) {
    Wave wave;
    EXPECT_EQ(loadWaveFile(wave, test::tempPath("missing.wav")), 0);
    EXPECT_EQ(loadThroughFile(wave, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}), 0);
    EXPECT_EQ(loadThroughFile(wave, {}), 0);
    EXPECT_EQ(describeWave(wave), describeWave(Wave()));
}

TEST(WaveLoad, UnusualFormatsReachTheEditorsChecks) {
    // Loading succeeds; channel count and sample size are the editor's to refuse.
    Wave four;
    const auto quad = WavWriter::pcm16({1, 2, 3, 4}, 4, 8000);
    ASSERT_EQ(loadWaveImage(four, quad.data(), quad.size(), "q"), 1);
    EXPECT_EQ(four.format.channels, 4);
    Wave deep;
    const auto image = WavWriter().fmt(1, 1, 8000, 24).data8({1, 2, 3, 4, 5, 6}).image();
    ASSERT_EQ(loadWaveImage(deep, image.data(), image.size(), "d"), 1);
    EXPECT_EQ(deep.format.bitsPerSample, 24);
}

TEST(WaveLoad, OnlyPcmIsAccepted) {
    Wave wave;
    const auto floatFile = WavWriter().fmt(3, 1, 8000, 32).data8({0, 0, 0, 0}).image();
    EXPECT_EQ(loadWaveImage(wave, floatFile.data(), floatFile.size(), "f"), 0);
    const auto adpcm = WavWriter().fmt(2, 1, 8000, 4, 20).data8({0, 0}).image();
    EXPECT_EQ(loadWaveImage(wave, adpcm.data(), adpcm.size(), "a"), 0);
    const auto extensibleFloat = WavWriter().fmtExtensible(1, 8000, 16, false).data16({1}).image();
    EXPECT_EQ(loadWaveImage(wave, extensibleFloat.data(), extensibleFloat.size(), "e"), 0);
    EXPECT_EQ(describeWave(wave), describeWave(Wave()));

    const auto extensiblePcm = WavWriter().fmtExtensible(2, 8000, 16).data16({1, 2}).image();
    ASSERT_EQ(loadWaveImage(wave, extensiblePcm.data(), extensiblePcm.size(), "p"), 1);
    EXPECT_EQ(wave.format.formatTag, 1);
    EXPECT_EQ(wave.format.channels, 2);
    EXPECT_EQ(wave.format.bitsPerSample, 16);

    const auto noChannels = WavWriter().fmt(1, 0, 8000, 16).data16({1, 2}).image();
    EXPECT_EQ(loadWaveImage(wave, noChannels.data(), noChannels.size(), "z"), 0);
}

TEST(WaveLoad, ShortFormatChunkTakesTheSampleSizeFromTheBlockAlignment) {
    for (uint32_t size : {14u, 15u}) {
        Wave stereo;
        const auto image = WavWriter().fmt(1, 2, 22050, 16, size).data16({100, 200}).image();
        ASSERT_EQ(loadWaveImage(stereo, image.data(), image.size(), "s"), 1) << size;
        EXPECT_EQ(stereo.format.bitsPerSample, 16);
        EXPECT_EQ(stereo.format.extraSize, 0);
        EXPECT_EQ(stereo.sampleCount, 2u);

        Wave eight;
        const auto bytes = WavWriter().fmt(1, 1, 11025, 8, size).data8({0, 255}).image();
        ASSERT_EQ(loadWaveImage(eight, bytes.data(), bytes.size(), "e"), 1) << size;
        EXPECT_EQ(eight.format.bitsPerSample, 8);
        EXPECT_EQ(eight.sampleCount, 2u);
    }
}

TEST(WaveChunks, DataBeforeFormatAndOddBodiesArePadded) {
    const auto image = WavWriter()
                           .chunk("LIST", {1, 2, 3})  // odd: one pad byte follows
                           .data16({10, 20, 30})
                           .chunk("junk", {9})
                           .fmt(1, 1, 8000, 16)
                           .image();
    size_t fmtStart = 0;
    size_t dataStart = 0;
    uint32_t dataSize = 0;
    ASSERT_EQ(findWaveChunks(image.data(), image.size(), &fmtStart, &dataStart, &dataSize), 1);
    EXPECT_EQ(dataStart, 12u + 8 + 4 + 8);
    EXPECT_EQ(dataSize, 6u);
    EXPECT_EQ(fmtStart, dataStart + 6 + 8 + 2 + 8);

    // Only what is asked for has to be found.
    const auto noData = WavWriter().fmt(1, 1, 8000, 16).image();
    EXPECT_EQ(findWaveChunks(noData.data(), noData.size(), &fmtStart, nullptr, nullptr), 1);
    EXPECT_EQ(findWaveChunks(noData.data(), noData.size(), &fmtStart, &dataStart, nullptr), 0);
    EXPECT_EQ(dataStart, 0u) << "results are cleared first";

    Wave wave;
    ASSERT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 1);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{10, 20, 30}));
}

TEST(WaveChunks, TwelveByteFirstFormatChunkFailsEvenWithAGoodOneLater) {
    std::vector<uint8_t> shortFmt(12, 0);
    shortFmt[0] = 1;
    shortFmt[2] = 1;
    const auto image = WavWriter().chunk("fmt ", shortFmt).fmt(1, 1, 8000, 16).data16({1}).image();
    Wave wave;
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 0);
    size_t fmtStart = 0;
    EXPECT_EQ(findWaveChunks(image.data(), image.size(), &fmtStart, nullptr, nullptr), 0);
}

TEST(WaveChunks, SizesThatLieAreKeptInsideTheImage) {
    // A data chunk claiming more than the file holds gives what is there.
    auto image = WavWriter().fmt(1, 1, 8000, 16).chunk("data", {1, 0, 2, 0, 3}, 0x7FFFFFF0u).image();
    image.pop_back();  // the file ends on the odd byte, without its pad
    Wave wave;
    ASSERT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 1);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{1, 2})) << "the odd last byte makes no sample";

    // A RIFF size far beyond the file, and a chunk size that overflows 32 bits on padding.
    image = WavWriter().chunk("junk", {}, 0xFFFFFFFFu).riffSize(0xFFFFFFFFu).image();
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 0);

    // A RIFF size that ends the walk before the data chunk.
    image = WavWriter().fmt(1, 1, 8000, 16).data16({1}).riffSize(4 + 24).image();
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 0);
    image = WavWriter().fmt(1, 1, 8000, 16).data16({1}).riffSize(4).image();
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 0);

    // A format chunk whose body runs past the end of the file.
    image = WavWriter().data16({1}).fmt(1, 1, 8000, 16).image();
    image.resize(image.size() - 3);
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 0);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{1, 2}));
}

TEST(WaveLoad, SamplesAtAnyAddressAreCopiedNotReadInPlace) {
    const auto image = WavWriter::pcm16({-5, 6, -7}, 1, 8000);
    std::vector<uint8_t> shifted(image.size() + 1);
    std::copy(image.begin(), image.end(), shifted.begin() + 1);
    Wave wave;
    ASSERT_EQ(loadWaveImage(wave, shifted.data() + 1, image.size(), "w"), 1);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{-5, 6, -7}));
}

Wave loaded(const std::vector<uint8_t>& image) {
    Wave wave;
    EXPECT_EQ(loadWaveImage(wave, image.data(), image.size(), "w"), 1);
    return wave;
}

TEST(WaveConversion, EightBitMono) {
    Wave wave = loaded(WavWriter::pcm8({0, 128, 255}, 1, 11025));
    convertToMono16(wave);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{-32768, 0, 32512}));
    EXPECT_EQ(wave.sampleCount, 3u);
    EXPECT_EQ(wave.format, WaveFormat::pcm16(1, 11025));
    EXPECT_EQ(wave.frequency, 11025u);
}

TEST(WaveConversion, SixteenBitStereoSumsWithoutScalingWhenTheyFit) {
    Wave wave = loaded(WavWriter::pcm16({10000, 10000, -16000, -16767, 5, -6}, 2, 44100));
    convertToMono16(wave);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{20000, -32767, -1}));
    EXPECT_EQ(wave.format, WaveFormat::pcm16(1, 44100));
}

TEST(WaveConversion, SixteenBitStereoScaledBySinglePrecisionGain) {
    EXPECT_EQ(static_cast<double>(static_cast<float>(32767.0 / 60000)), 0.5461166501045227);
    Wave wave = loaded(WavWriter::pcm16({30000, 30000, 10000, 10000, -10000, -10000, 0, 1, 7}, 2, 8000));
    convertToMono16(wave);
    EXPECT_EQ(wave.samples, (std::vector<int16_t>{32766, 10922, -10922, 0})) << "an odd last value is dropped";
    EXPECT_EQ(wave.sampleCount, 4u);

    // The most negative sums: peak 65536, gain 32767 / 65536.
    Wave loudest = loaded(WavWriter::pcm16({-32768, -32768, 32767, 32767}, 2, 8000));
    convertToMono16(loudest);
    EXPECT_EQ(loudest.samples, (std::vector<int16_t>{-32767, 32766}));
}

TEST(WaveConversion, EightBitStereo) {
    Wave wave = loaded(WavWriter::pcm8({128, 128, 0, 0, 255, 255, 200}, 2, 8000));
    convertToMono16(wave);
    ASSERT_EQ(wave.sampleCount, 3u) << "7 bytes make 3 frames";
    // Sums 0, -65536 and 65024: peak 65536, gain float(32767 / 65536).
    const double gain = static_cast<float>(32767.0 / 65536);
    EXPECT_EQ(wave.samples,
              (std::vector<int16_t>{0, static_cast<int16_t>(gain * -65536), static_cast<int16_t>(gain * 65024)}));
    EXPECT_EQ(wave.samples[1], -32767);

    Wave quiet = loaded(WavWriter::pcm8({128, 129, 127, 128}, 2, 8000));
    convertToMono16(quiet);
    EXPECT_EQ(quiet.samples, (std::vector<int16_t>{256, -256}));
}

TEST(WaveConversion, EightBitWithoutChannelsYieldsNothing) {
    Wave wave;
    wave.format.bitsPerSample = 8;
    wave.format.channels = 0;
    wave.setSamples({1, 2, 3});
    convertToMono16(wave);
    EXPECT_EQ(wave.sampleCount, 0u);
    EXPECT_EQ(wave.format.channels, 1);
}

class WaveDamage : public ::testing::Test {
protected:
    const std::vector<uint8_t> whole = WavWriter()
                                           .chunk("LIST", {'a', 'b', 'c'})
                                           .fmt(1, 2, 22050, 16, 18)
                                           .data16({1, -1, 300, -300, 32767, -32768})
                                           .image();
    Wave wave = freshWave();
    const std::string before = describeWave(wave);
    int outcomes[2] = {0, 0};  // refused, loaded

    static Wave freshWave() {
        Wave w;
        w.name = "before";
        w.setSamples({4, 5, 6});
        return w;
    }

    void check(const std::vector<uint8_t>& bytes, bool throughFile) {
        const int result = throughFile ? loadThroughFile(wave, bytes, "damaged.wav")
                                       : loadWaveImage(wave, bytes.data(), bytes.size(), "after");
        ASSERT_TRUE(result == 0 || result == 1);
        ++outcomes[result];
        if (result == 0) {
            ASSERT_EQ(describeWave(wave), before);
        } else {
            ASSERT_EQ(wave.sampleCount, wave.samples.size());
            convertToMono16(wave);  // whatever loaded converts without a stray read
            wave = freshWave();
        }
    }
};

TEST_F(WaveDamage, EveryTruncation) {
    for (size_t length = 0; length < whole.size(); ++length) {
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
        check(part, true);
        if (HasFatalFailure()) FAIL() << "cut at " << length;
        // Without its last bytes the data chunk is cut short, never read past.
        Wave cut;
        if (loadWaveImage(cut, part.data(), part.size(), "c") == 1) {
            EXPECT_LT(cut.sampleCount, 6u);
        }
    }
}

TEST_F(WaveDamage, RandomMutations) {
    std::mt19937 random(77031);
    for (int round = 0; round < 4000; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int changes = 1 + static_cast<int>(random() % 3);
        for (int c = 0; c < changes; ++c) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        if (random() % 6 == 0) bytes.resize(random() % bytes.size());
        check(bytes, round % 10 == 0);
        if (HasFatalFailure()) FAIL() << "round " << round;
    }
    EXPECT_GT(outcomes[0], 100);
    EXPECT_GT(outcomes[1], 100);
}

}  // namespace
}  // namespace tonvero
