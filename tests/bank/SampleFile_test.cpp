// Sample files read through libsndfile: 16-bit-or-less sources exactly,
// deeper ones dithered repeatably to 16 bits, floats clipped, channels mixed
// by their average (and kept apart for stereo), the file's own loop and root
// note with the loop end inclusive, and unreadable, empty, oversized or
// damaged files refused with a reason. Every file is written here through
// libsndfile or byte by byte.

#include "bank/SampleFile.h"
#include "support/WavWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>

namespace tonvero {
namespace {

// Writes interleaved `values` (int for PCM, normalised float otherwise) as `format` through libsndfile.
template <typename T>
std::string writeSound(const std::string& name, int format, int channels, const std::vector<T>& values,
                       const SF_INSTRUMENT* instrument = nullptr) {
    const std::string path = test::tempPath(name);
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) return path;
    if (instrument) {
        EXPECT_EQ(sf_command(file, SFC_SET_INSTRUMENT, const_cast<SF_INSTRUMENT*>(instrument), sizeof *instrument),
                  SF_TRUE);
    }
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    if constexpr (std::is_same_v<T, int32_t>)
        EXPECT_EQ(sf_writef_int(file, values.data(), frames), frames);
    else if constexpr (std::is_same_v<T, int16_t>)
        EXPECT_EQ(sf_writef_short(file, values.data(), frames), frames);
    else
        EXPECT_EQ(sf_writef_float(file, values.data(), frames), frames);
    sf_close(file);
    return path;
}

std::vector<int16_t> sine16(size_t count, double period, double amplitude) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i)
        values[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * static_cast<double>(i) / period)));
    return values;
}

TEST(SampleFile, SixteenBitsAndLessAreExactAndChannelsAverage) {
    const std::vector<int16_t> mono = sine16(5000, 37.5, 30000);
    for (int format :
         {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16}) {
        const SampleFileResult read = readSampleFile(writeSound("mono", format, 1, mono));
        ASSERT_TRUE(read.ok()) << read.error;
        EXPECT_EQ(read.sound.mono, mono);
        EXPECT_FALSE(read.sound.dithered);
        EXPECT_TRUE(read.sound.left.empty() && read.sound.right.empty());
        EXPECT_EQ(read.sound.frames, 5000u);
        EXPECT_EQ(read.sound.sampleRate, 44100);
    }
    // 8 bits: v·256, as the WAV importer makes them.
    std::vector<int16_t> eight(300);
    for (size_t i = 0; i < eight.size(); ++i) eight[i] = static_cast<int16_t>((static_cast<int>(i % 256) - 128) * 256);
    EXPECT_EQ(readSampleFile(writeSound("eight.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, eight)).sound.mono, eight);

    // Stereo: both channels kept, the mix their average rounded to nearest (halves away from zero).
    const std::vector<int16_t> stereo = {100, 201, -32768, 32767, 32767, 32767, -3, -4, -32768, -32768};
    const SampleFileResult pair = readSampleFile(writeSound("stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, stereo));
    ASSERT_TRUE(pair.ok()) << pair.error;
    EXPECT_EQ(pair.sound.channels, 2);
    EXPECT_EQ(pair.sound.left, (std::vector<int16_t>{100, -32768, 32767, -3, -32768}));
    EXPECT_EQ(pair.sound.right, (std::vector<int16_t>{201, 32767, 32767, -4, -32768}));
    EXPECT_EQ(pair.sound.mono, (std::vector<int16_t>{151, -1, 32767, -4, -32768})) << "halves away from zero";
    EXPECT_FALSE(pair.sound.mixedDown);

    // Three channels: the mix only, and said so.
    const std::vector<int16_t> three = {300, 600, 900, -3, -3, -4};
    const SampleFileResult mixed = readSampleFile(writeSound("three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, three));
    ASSERT_TRUE(mixed.ok()) << mixed.error;
    EXPECT_EQ(mixed.sound.channels, 3);
    EXPECT_TRUE(mixed.sound.mixedDown);
    EXPECT_EQ(mixed.sound.mono, (std::vector<int16_t>{600, -3}));
    EXPECT_TRUE(mixed.sound.left.empty());
}

TEST(SampleFile, DeeperSourcesAreDitheredRepeatablyAndKeepValuesOnTheGrid) {
    // 24 bits: the left channel holds 16-bit values (low byte 0), the right a
    // constant 0.3 of a 16-bit step, which rounding would lose entirely.
    constexpr size_t kFrames = 40000;
    const std::vector<int16_t> left = sine16(kFrames, 91.3, 20000);
    std::vector<int32_t> values(2 * kFrames);
    for (size_t i = 0; i < kFrames; ++i) {
        values[2 * i] = int32_t{left[i]} * 65536;  // sf_writef_int: 32-bit scale
        values[2 * i + 1] = 77 * 256;              // 77/256 of a 16-bit step
    }
    const std::string path = writeSound("deep.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, values);
    const SampleFileResult read = readSampleFile(path);
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_TRUE(read.sound.dithered);
    EXPECT_NE(read.sound.format.find("24"), std::string::npos) << read.sound.format;
    EXPECT_EQ(read.sound.left, left) << "values on the 16-bit grid are kept exactly";
    ASSERT_EQ(read.sound.right.size(), kFrames);
    const double mean = std::accumulate(read.sound.right.begin(), read.sound.right.end(), 0.0) / kFrames;
    EXPECT_NEAR(mean, 77.0 / 256.0, 0.02) << "TPDF dither keeps the level below one step on average";
    for (int16_t v : read.sound.right) ASSERT_TRUE(v >= -1 && v <= 1) << v;
    for (size_t i = 0; i < kFrames; ++i) ASSERT_NEAR(read.sound.mono[i], (left[i] + 77.0 / 256.0) / 2.0, 1.5) << i;

    EXPECT_EQ(readSampleFile(path).sound.mono, read.sound.mono) << "the same file reads to the same samples";
    SampleFileOptions rounding;
    rounding.dither = false;
    const SampleFileResult rounded = readSampleFile(path, rounding);
    EXPECT_EQ(rounded.sound.right, std::vector<int16_t>(kFrames, 0));
    EXPECT_FALSE(rounded.sound.dithered);

    // Floats beyond ±1 are clipped; a NaN is silence.
    const std::vector<float> floats = {0.5f, 1.5f, -2.0f, -1.0f, 0.25f, std::nanf("")};
    const SampleFileResult clipped =
        readSampleFile(writeSound("float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, floats));
    ASSERT_TRUE(clipped.ok()) << clipped.error;
    EXPECT_EQ(clipped.sound.mono, (std::vector<int16_t>{16384, 32767, -32768, -32768, 8192, 0}));

    // Ogg Vorbis decodes to float: a sine comes back close, dithered.
    std::vector<float> tone(22050);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * i / 100.0));
    const SampleFileResult ogg = readSampleFile(writeSound("tone.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, tone));
    ASSERT_TRUE(ogg.ok()) << ogg.error;
    EXPECT_TRUE(ogg.sound.dithered);
    ASSERT_EQ(ogg.sound.frames, tone.size());
    double error = 0;
    for (size_t i = 2000; i < 20000; ++i) error = std::max(error, std::abs(ogg.sound.mono[i] - 32768.0 * tone[i]));
    EXPECT_LT(error, 400);
}

// An AIFF file written byte by byte, big-endian: markers 1 and 2 at 1000 and
// 3000 (positions between samples: the loop ends before the second) and an
// INST chunk, root `baseNote`, whose sustain loop runs forward between them.
std::vector<uint8_t> aiffWithLoop(uint8_t baseNote, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out;
    auto put = [&out](std::initializer_list<uint32_t> values, int bytes) {
        for (uint32_t v : values)
            for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    };
    auto id = [&out](const char* name) { out.insert(out.end(), name, name + 4); };
    const uint32_t frames = static_cast<uint32_t>(samples.size());
    id("FORM"), put({4 + 26 + 26 + 28 + 16 + 2 * frames}, 4), id("AIFF");
    id("COMM"), put({18}, 4), put({1}, 2), put({frames}, 4), put({16}, 2);
    put({0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 1);  // 44100 as 80-bit extended
    id("MARK"), put({18}, 4), put({2, 1}, 2), put({1000}, 4), put({0, 2}, 2), put({3000}, 4), put({0}, 2);
    id("INST"), put({20}, 4), put({baseNote, 0, 0, 127, 1, 127}, 1);
    put({0, 1, 1, 2, 0, 0, 0}, 2);  // gain; sustain loop forward from marker 1 to 2; no release loop
    id("SSND"), put({8 + 2 * frames, 0, 0}, 4);
    for (int16_t v : samples) put({static_cast<uint16_t>(v)}, 2);
    return out;
}

TEST(SampleFile, LoopEndsAreInclusiveAndRootNotesKept) {
    // Through libsndfile, whose loop end is one past the last sample: the
    // "smpl" chunk holds the last sample, 2999, and it reads back as that.
    const std::vector<int16_t> samples = sine16(5000, 50, 1000);
    SF_INSTRUMENT instrument{};
    instrument.basenote = 57;
    instrument.velocity_hi = instrument.key_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0] = {SF_LOOP_FORWARD, 1000, 3000, 0};
    const std::string wav = writeSound("loop.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, samples, &instrument);
    const std::vector<uint8_t> bytes = test::readFileBytes(wav);
    const auto smpl = std::search(bytes.begin(), bytes.end(), std::begin("smpl"), std::begin("smpl") + 4);
    ASSERT_NE(smpl, bytes.end());
    uint32_t storedEnd = 0;
    std::memcpy(&storedEnd, &*(smpl + 8 + 36 + 12), 4);  // chunk header, fixed part, cue id, type, start
    EXPECT_EQ(storedEnd, 2999u);

    const std::string aiff = test::tempPath("loop.aiff");
    ASSERT_TRUE(test::writeFileBytes(aiff, aiffWithLoop(64, samples)));
    for (const auto& [path, root] : {std::pair{wav, 57}, std::pair{aiff, 64}}) {
        const SampleFileResult read = readSampleFile(path);
        ASSERT_TRUE(read.ok()) << read.error;
        EXPECT_EQ(read.sound.mono, samples) << path;
        ASSERT_TRUE(read.sound.loop.has_value()) << path;
        EXPECT_EQ(read.sound.loop->begin, 1000) << path;
        EXPECT_EQ(read.sound.loop->end, 2999) << path;
        EXPECT_EQ(read.sound.rootKey, root) << path;
    }

    // A loop reaching past the samples is dropped; no instrument data, no loop or root.
    instrument.loops[0].end = 5001;
    const SampleFileResult outside =
        readSampleFile(writeSound("outside.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, samples, &instrument));
    ASSERT_TRUE(outside.ok()) << outside.error;
    EXPECT_FALSE(outside.sound.loop.has_value());
    const SampleFileResult plain =
        readSampleFile(writeSound("plain.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, samples));
    EXPECT_FALSE(plain.sound.loop || plain.sound.rootKey);
}

TEST(SampleFile, UnreadableEmptyOversizedAndDamagedFilesAreRefused) {
    auto refused = [](const std::string& path, const SampleFileOptions& options = {}) {
        const SampleFileResult read = readSampleFile(path, options);
        EXPECT_FALSE(read.ok());
        EXPECT_TRUE(read.sound.mono.empty() && read.sound.frames == 0);
        return read.error;
    };
    EXPECT_NE(refused(test::tempPath("missing.wav")).find("cannot be opened"), std::string::npos);
    const std::string text = test::tempPath("text.wav");
    ASSERT_TRUE(test::writeFileBytes(text, std::vector<uint8_t>(400, 'x')));
    EXPECT_NE(refused(text).find("cannot be opened"), std::string::npos);
    const std::string empty = test::tempPath("empty.wav");
    ASSERT_TRUE(test::writeFileBytes(empty, test::WavWriter::pcm16({}, 1, 44100)));
    EXPECT_FALSE(refused(empty).empty());
    SampleFileOptions small;
    small.mostFrames = 4999;
    EXPECT_NE(refused(writeSound("long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, sine16(5000, 50, 1000)), small)
                  .find("more than the 4999"),
              std::string::npos);

    // Cut short or with changed bytes, every kind of file either reads to at
    // most its frames or is refused; nothing is read outside a buffer.
    std::vector<float> tone(20000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<float>(0.4 * std::sin(i / 7.0));
    std::mt19937 random(7);
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
                       SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_AIFF | SF_FORMAT_FLOAT}) {
        const std::vector<uint8_t> whole = test::readFileBytes(writeSound("whole", format, 1, tone));
        ASSERT_GT(whole.size(), 200u);
        if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
            const std::string cut = test::tempPath("cut.ogg");
            ASSERT_TRUE(test::writeFileBytes(cut, std::vector<uint8_t>(whole.begin(), whole.end() - 100)));
            EXPECT_NE(refused(cut).find("cut short"), std::string::npos);
        }
        for (int trial = 0; trial < 24; ++trial) {
            std::vector<uint8_t> damaged = whole;
            if (trial % 2 == 0) {
                damaged.resize(random() % whole.size());
            } else {
                for (int k = 0; k < 16; ++k) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
            }
            const std::string path = test::tempPath("damaged");
            ASSERT_TRUE(test::writeFileBytes(path, damaged));
            const SampleFileResult read = readSampleFile(path);
            if (read.ok()) {
                EXPECT_EQ(read.sound.mono.size(), read.sound.frames);
            } else {
                EXPECT_TRUE(read.sound.mono.empty());
            }
        }
    }
}

}  // namespace
}  // namespace tonvero
