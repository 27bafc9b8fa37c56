// The Patchmap file: byte layout, every record version, refusal of damaged
// files without touching the bank, and saves that never destroy the old file.

#include "support/BankFixtures.h"
#include "support/WavWriter.h"
#include "bank/FileUtil.h"
#include "bank/Patchmap.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tonvero {
namespace {

using test::describeBank;
using test::patchmapStart;
using test::readFileBytes;
using test::tempPath;
using test::writeFileBytes;

int32_t i32At(const std::vector<uint8_t>& b, size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b.at(offset + static_cast<size_t>(i));
    return static_cast<int32_t>(v);
}

std::string textAt(const std::vector<uint8_t>& b, size_t offset, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + offset), n);
}

// Loads `bytes` written to a file into `bank`.
LoadResult loadBytes(Bank& bank, const std::vector<uint8_t>& bytes, const std::string& name = "file.map") {
    const std::string path = tempPath(name);
    EXPECT_TRUE(writeFileBytes(path, bytes));
    return loadPatchmap(bank, path);
}

// A Wave record of version 0 or 1 with `count` samples of value `value`.
void waveRecord(ByteWriter& out, uint32_t version, const std::string& name, std::vector<int16_t> samples,
                uint8_t reserved = 128) {
    out.u32(version);
    out.u32(static_cast<uint32_t>(samples.size()));
    out.i32(1);                    // loop begin
    out.i32(2);                    // loop end
    if (version == 1) out.i32(3);  // hold position
    out.u32(11025);                // frequency
    out.i32(1);                    // looped
    out.u32(0xDEADBEEF);           // spare: ignored
    out.u8(reserved);
    out.i32(static_cast<int32_t>(name.size()));
    out.text(name);
    for (int16_t s : samples) out.u16(static_cast<uint16_t>(s));
}

TEST(PatchmapLayout, HeaderCarriesTheMarkAndOurLines) {
    const auto& h = patchmapHeader;
    EXPECT_EQ(h[0], 0);
    EXPECT_EQ(h[1] | h[2] | h[3], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 4), 35), "Tonvero Patchmap & Instrument File.");
    EXPECT_EQ(h[39], '\n');
    const auto nul = std::find(h.begin() + 40, h.end(), 0);
    ASSERT_NE(nul, h.end());
    const std::string rest(h.begin() + 40, nul);
    EXPECT_NE(rest.find('\n'), std::string::npos) << "a credit line and a contact line";
    EXPECT_TRUE(std::all_of(nul, h.end(), [](uint8_t b) { return b == 0; }));
}

TEST(PatchmapLayout, ExampleBankIs867BytesWithFieldsAtTheirOffsets) {
    const std::string path = tempPath("example.map");
    ASSERT_TRUE(savePatchmap(test::makeExampleBank(), path));
    const std::vector<uint8_t> b = readFileBytes(path);
    ASSERT_EQ(b.size(), 867u);
    EXPECT_TRUE(std::equal(patchmapHeader.begin(), patchmapHeader.end(), b.begin()));
    EXPECT_EQ(i32At(b, 772), 1);
    EXPECT_EQ(i32At(b, 776), 3);
    EXPECT_EQ(i32At(b, 780), 5);
    EXPECT_EQ(textAt(b, 784, 5), "Piano");
    EXPECT_EQ(i32At(b, 789), 0x4000);
    EXPECT_EQ(i32At(b, 793), 0x8000);
    EXPECT_EQ(i32At(b, 797), 0);
    EXPECT_EQ(i32At(b, 801), 0);
    EXPECT_EQ(i32At(b, 805), 1);
    EXPECT_EQ(i32At(b, 809), 0);
    EXPECT_EQ(i32At(b, 813), 120);
    EXPECT_EQ(i32At(b, 817), 60);
    EXPECT_EQ(i32At(b, 821), 1);
    EXPECT_EQ(i32At(b, 825), 2);
    EXPECT_EQ(i32At(b, 829), 0);
    EXPECT_EQ(i32At(b, 833), 0);
    EXPECT_EQ(i32At(b, 837), 0);
    EXPECT_EQ(i32At(b, 841), 22050);
    EXPECT_EQ(i32At(b, 845), 0);
    EXPECT_EQ(i32At(b, 849), 0) << "spare bytes are written as 0";
    EXPECT_EQ(b[853], 128);
    EXPECT_EQ(i32At(b, 854), 5);
    EXPECT_EQ(textAt(b, 858, 5), "Sound");
    EXPECT_EQ(static_cast<int16_t>(b[863] | b[864] << 8), 1000);
    EXPECT_EQ(static_cast<int16_t>(b[865] | b[866] << 8), -1000);
}

TEST(PatchmapRoundTrip, SaveLoadSaveGivesIdenticalBytes) {
    const Bank original = test::makeSmallBank();
    const std::string first = tempPath("first.map");
    const std::string second = tempPath("second.map");
    ASSERT_TRUE(savePatchmap(original, first));

    Bank loaded;
    ASSERT_EQ(loadPatchmap(loaded, first), LoadOk);
    EXPECT_EQ(describeBank(loaded), describeBank(original));
    ASSERT_TRUE(savePatchmap(loaded, second));
    EXPECT_EQ(readFileBytes(second), readFileBytes(first));

    const Wave& wave = *loaded.instruments[0]->zones[1]->wave;
    EXPECT_EQ(wave.format, WaveFormat::pcm16(1, 22050));
    EXPECT_EQ(wave.format.avgBytesPerSec, 44100u);
    EXPECT_EQ(wave.bufferSlot, -1);
    EXPECT_EQ(wave.deviceBuffer, nullptr);
}

TEST(PatchmapRoundTrip, NamesAreCutOnlyWhereTheFileWouldCutThem) {
    Bank bank;
    bank.insertInstrument(std::string(5000, 'n'));
    bank.insertInstrument(std::string("before\0after", 12));
    const std::string longPath = "/" + std::string(300, 'd') + "/sound.wav";  // longer than 63 characters
    Bank::addZone(*bank.instruments[0], test::makeWave(longPath, {1}));
    const std::string path = tempPath("names.map");
    ASSERT_TRUE(savePatchmap(bank, path));

    Bank loaded;
    ASSERT_EQ(loadPatchmap(loaded, path), LoadOk);
    EXPECT_EQ(loaded.instruments[0]->name, std::string(kMaxStoredNameLength, 'n'));
    EXPECT_EQ(loaded.instruments[1]->name, "before");
    EXPECT_EQ(loaded.instruments[0]->zones[0]->wave->name, longPath);
}

// One hand-written file per Instrument version, each with one Zone.
std::vector<uint8_t> instrumentFile(uint32_t version, uint32_t waveVersion) {
    ByteWriter out = patchmapStart(1, {0, 0, 0});
    out.u32(version);
    out.i32(4);
    out.text("Harp");
    if (version >= 1) {
        out.u32(0x11111);
        out.u32(0x22222);
    }
    if (version == 3) out.u32(0x33333);
    out.i32(9);  // index: kept as stored
    out.i32(1);  // zone count
    if (version <= 1) {
        out.i32(-60);
        out.i32(60);
        out.i32(0);
    } else {
        out.i32(10);
        out.i32(20);
        out.i32(15);
    }
    waveRecord(out, waveVersion, "harp.wav", {7, -7, 8}, 42);
    return out.take();
}

TEST(PatchmapVersions, InstrumentVersionZeroUsesDefaultsAndOffsetKeys) {
    Bank bank;
    ASSERT_EQ(loadBytes(bank, instrumentFile(0, 0)), LoadOk);
    ASSERT_EQ(bank.instrumentCount, 1);
    const Instrument& in = *bank.instruments[0];
    EXPECT_EQ(in.name, "Harp");
    EXPECT_EQ(in.index, 9);
    EXPECT_EQ(in.loopFading, 0x4000u);
    EXPECT_EQ(in.sustainFading, 0x8000u);
    EXPECT_EQ(in.cutoffFading, 0u);
    ASSERT_EQ(in.zones.count(), 1);
    EXPECT_EQ(in.zones[0]->rangeStart, 0);
    EXPECT_EQ(in.zones[0]->rangeEnd, 120);
    EXPECT_EQ(in.zones[0]->basicNote, 60);

    const Wave& w = *in.zones[0]->wave;  // Wave version 0: no hold position
    EXPECT_EQ(w.holdPos, 0);
    EXPECT_EQ(w.loopBegin, 1);
    EXPECT_EQ(w.loopEnd, 2);
    EXPECT_EQ(w.frequency, 11025u);
    EXPECT_EQ(w.looped, 1);
    EXPECT_EQ(w.reserved, 42);
    EXPECT_EQ(w.name, "harp.wav");
    EXPECT_EQ(w.samples, (std::vector<int16_t>{7, -7, 8}));
    EXPECT_EQ(w.sampleCount, 3u);
    EXPECT_EQ(w.format, WaveFormat::pcm16(1, 11025));
}

TEST(PatchmapVersions, VersionsOneToThree) {
    Bank bank;
    ASSERT_EQ(loadBytes(bank, instrumentFile(1, 1)), LoadOk);
    const Instrument* in = bank.instruments[0].get();
    EXPECT_EQ(in->loopFading, 0x11111u);
    EXPECT_EQ(in->sustainFading, 0x22222u);
    EXPECT_EQ(in->cutoffFading, 0u);
    EXPECT_EQ(in->zones[0]->rangeStart, 0) << "version 1 still stores offsets from 60";
    EXPECT_EQ(in->zones[0]->basicNote, 60);
    EXPECT_EQ(in->zones[0]->wave->holdPos, 3);

    ASSERT_EQ(loadBytes(bank, instrumentFile(2, 1)), LoadOk);
    in = bank.instruments[0].get();
    EXPECT_EQ(in->loopFading, 0x11111u);
    EXPECT_EQ(in->cutoffFading, 0u);
    EXPECT_EQ(in->zones[0]->rangeStart, 10);
    EXPECT_EQ(in->zones[0]->rangeEnd, 20);
    EXPECT_EQ(in->zones[0]->basicNote, 15);

    ASSERT_EQ(loadBytes(bank, instrumentFile(3, 1)), LoadOk);
    in = bank.instruments[0].get();
    EXPECT_EQ(in->cutoffFading, 0x33333u);
    EXPECT_EQ(in->index, 9);
}

TEST(PatchmapVersions, OlderVersionsClearTheCutoffFadingOfTheInstrumentRead) {
    for (uint32_t version : {1u, 2u}) {
        const std::vector<uint8_t> file = instrumentFile(version, 1);
        ByteReader in(file.data() + 776, file.size() - 776);
        Instrument instrument("x", 0);
        instrument.cutoffFading = 99;
        ASSERT_TRUE(readInstrument(in, instrument));
        EXPECT_EQ(instrument.cutoffFading, 0u) << "version " << version;
        EXPECT_EQ(in.remaining(), 0u);
    }
}

TEST(PatchmapVersions, LoadThenSaveWritesTheNewestVersionsAndKeepsReserved) {
    Bank bank;
    ASSERT_EQ(loadBytes(bank, instrumentFile(0, 0)), LoadOk);
    const std::string path = tempPath("upgraded.map");
    ASSERT_TRUE(savePatchmap(bank, path));
    const std::vector<uint8_t> b = readFileBytes(path);
    EXPECT_EQ(i32At(b, 776), 3);
    const size_t wave = 776 + 4 + 4 + 4 + 12 + 4 + 4 + 12;
    EXPECT_EQ(i32At(b, wave), 1);
    EXPECT_EQ(i32At(b, wave + 16), 0) << "hold position";
    EXPECT_EQ(b.at(wave + 32), 42) << "reserved byte";
}

TEST(PatchmapVersions, UnknownInstrumentVersionEndsTheRecordAfterItsVersion) {
    ByteWriter out = patchmapStart(2);
    out.u32(7);
    // The second record follows right after the version word of the first.
    out.u32(3);
    out.i32(1);
    out.text("B");
    out.u32(1);
    out.u32(2);
    out.u32(3);
    out.i32(1);
    out.i32(0);
    Bank bank;
    ASSERT_EQ(loadBytes(bank, out.take()), LoadOk);
    ASSERT_EQ(bank.instrumentCount, 2);
    const Instrument& unknown = *bank.instruments[0];
    EXPECT_EQ(unknown.name, "will be loaded!");
    EXPECT_EQ(unknown.index, 0);
    EXPECT_EQ(unknown.zones.count(), 0);
    EXPECT_EQ(unknown.loopFading, 0x4000u);
    EXPECT_EQ(bank.instruments[1]->name, "B");
    EXPECT_EQ(bank.instruments[1]->cutoffFading, 3u);
}

TEST(PatchmapVersions, UnknownWaveVersionLeavesAnEmptyWave) {
    ByteWriter out = patchmapStart(1);
    out.u32(3);
    out.i32(0);
    out.u32(0);
    out.u32(0);
    out.u32(0);
    out.i32(0);
    out.i32(2);
    out.i32(0);
    out.i32(127);
    out.i32(60);
    out.u32(9);  // a Wave version no writer made: the record ends here
    out.i32(1);
    out.i32(2);
    out.i32(3);
    waveRecord(out, 1, "next", {1, 2});
    Bank bank;
    ASSERT_EQ(loadBytes(bank, out.take()), LoadOk);
    const Instrument& in = *bank.instruments[0];
    ASSERT_EQ(in.zones.count(), 2);
    EXPECT_EQ(in.zones[0]->wave->name, "unused");
    EXPECT_EQ(in.zones[0]->wave->sampleCount, 0u);
    EXPECT_EQ(in.zones[1]->rangeStart, 1);
    EXPECT_EQ(in.zones[1]->wave->name, "next");
}

class PatchmapRefusal : public ::testing::Test {
protected:
    // The bank a failed load must leave exactly as it was.
    Bank bank = test::makeSmallBank();
    const std::string before = describeBank(bank);

    void expectRefused(const std::vector<uint8_t>& bytes, LoadResult expected) {
        EXPECT_EQ(loadBytes(bank, bytes), expected);
        EXPECT_EQ(describeBank(bank), before);
    }
};

TEST_F(PatchmapRefusal, MissingFileWrongMarkAndUnknownFormatVersion) {
    EXPECT_EQ(loadPatchmap(bank, tempPath("no such file.map")), LoadNotFound);
    EXPECT_EQ(describeBank(bank), before);
    EXPECT_EQ(loadPatchmap(bank, std::filesystem::temp_directory_path().string()), LoadNotFound);
    EXPECT_EQ(describeBank(bank), before);

    std::vector<uint8_t> file = patchmapStart(0).take();
    file[6] = 'N';
    expectRefused(file, LoadNotPatchmap);
    file = patchmapStart(0).take();
    file[0] = 1;
    expectRefused(file, LoadUnknownVersion);
    file[0] = 1;
    file.resize(10);  // a newer format may be shorter; its version is still reported
    expectRefused(file, LoadUnknownVersion);
    expectRefused({}, LoadNotPatchmap);
    expectRefused(test::WavWriter::pcm16({1, 2, 3}, 1, 8000), LoadNotPatchmap);
}

TEST_F(PatchmapRefusal, ImpossibleValues) {
    expectRefused(patchmapStart(-1).take(), LoadNotPatchmap);
    expectRefused(patchmapStart(129).take(), LoadNotPatchmap);
    expectRefused(patchmapStart(0, {0, 128}).take(), LoadNotPatchmap);
    expectRefused(patchmapStart(0, {-1}).take(), LoadNotPatchmap);

    for (int32_t length : {-1, kMaxStoredNameLength + 1}) {
        ByteWriter out = patchmapStart(1);
        out.u32(3);
        out.i32(length);
        out.text(std::string(static_cast<size_t>(std::max(length, 0)), 'a'));
        out.u32(0);
        out.u32(0);
        out.u32(0);
        out.i32(0);
        out.i32(0);
        expectRefused(out.take(), LoadNotPatchmap);
    }

    ByteWriter negativeZones = patchmapStart(1);
    negativeZones.u32(2);
    negativeZones.i32(0);
    negativeZones.u32(0);
    negativeZones.u32(0);
    negativeZones.i32(0);
    negativeZones.i32(-5);
    expectRefused(negativeZones.take(), LoadNotPatchmap);

    // A sample count that runs past the end of the file by one sample.
    ByteWriter out = patchmapStart(1);
    out.u32(3);
    out.i32(0);
    out.u32(0);
    out.u32(0);
    out.u32(0);
    out.i32(0);
    out.i32(1);
    out.i32(0);
    out.i32(120);
    out.i32(60);
    std::vector<uint8_t> bytes = out.take();
    ByteWriter wave;
    waveRecord(wave, 1, "w", {1, 2, 3});
    std::vector<uint8_t> record = wave.take();
    record[4] = 4;  // sample count 4, three samples stored
    bytes.insert(bytes.end(), record.begin(), record.end());
    expectRefused(bytes, LoadNotPatchmap);
    record[4] = 0xFF;
    record[7] = 0xFF;  // about 4 billion samples
    bytes.resize(bytes.size() - record.size());
    bytes.insert(bytes.end(), record.begin(), record.end());
    expectRefused(bytes, LoadNotPatchmap);
}

TEST_F(PatchmapRefusal, InstrumentCountZeroLoadsAnEmptyBankWithTheFilesProgramMap) {
    EXPECT_EQ(loadBytes(bank, patchmapStart(0, {5, 6, 7}).take()), LoadOk);
    EXPECT_EQ(bank.instrumentCount, 0);
    EXPECT_EQ(bank.instruments[0], nullptr);
    EXPECT_EQ(bank.programMap[0], 5);
    EXPECT_EQ(bank.programMap[2], 7);
    EXPECT_EQ(bank.programMap[128], 0);
}

TEST_F(PatchmapRefusal, EveryTruncationIsRefused) {
    const std::vector<uint8_t> whole = patchmapImage(test::makeSmallBank());
    for (size_t length = 0; length < whole.size(); ++length) {
        // A copy of exactly this length, so that any read past its end is caught.
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
        ASSERT_EQ(loadPatchmapImage(bank, part.data(), part.size()), LoadNotPatchmap) << "cut at " << length;
        if (length % 64 == 0) {
            ASSERT_EQ(loadBytes(bank, part), LoadNotPatchmap) << "cut at " << length;
        }
        ASSERT_EQ(describeBank(bank), before) << "cut at " << length;
    }
}

TEST_F(PatchmapRefusal, RandomMutationsLoadOrAreRefusedCleanly) {
    const std::vector<uint8_t> whole = patchmapImage(test::makeExampleBank());
    std::mt19937 random(20240611);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            // Mostly the structure after the header text, where damage matters.
            const size_t at = random() % 4 == 0 ? random() % bytes.size() : 768 + random() % (bytes.size() - 768);
            bytes[at] = static_cast<uint8_t>(random());
        }
        if (random() % 8 == 0) bytes.resize(random() % bytes.size());

        Bank target = test::makeSmallBank();
        const LoadResult result = loadPatchmapImage(target, bytes.data(), bytes.size());
        if (result == LoadOk) {
            ++loaded;
            // Whatever loaded saves and loads again the same.
            const std::vector<uint8_t> again = patchmapImage(target);
            Bank reloaded;
            ASSERT_EQ(loadPatchmapImage(reloaded, again.data(), again.size()), LoadOk);
            ASSERT_EQ(describeBank(reloaded), describeBank(target));
        } else {
            ASSERT_TRUE(result == LoadNotPatchmap || result == LoadUnknownVersion) << result;
            ASSERT_EQ(describeBank(target), before) << "round " << round;
        }
        if (round % 100 == 0) {  // now and then the whole way through a file
            Bank fromFile = test::makeSmallBank();
            ASSERT_EQ(loadBytes(fromFile, bytes, "mutated.map"), result);
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_LT(loaded, 3000);
}

class PatchmapSaveFailure : public ::testing::Test {
protected:
    const Bank bank = test::makeSmallBank();
    const std::vector<uint8_t> oldBytes = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

    static size_t filesIn(const std::filesystem::path& dir) {
        return static_cast<size_t>(
            std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
    }
};

TEST_F(PatchmapSaveFailure, MissingDirectory) { EXPECT_FALSE(savePatchmap(bank, tempPath("no such dir/bank.map"))); }

TEST_F(PatchmapSaveFailure, WriteErrorLeavesTheOldFileWhole) {
    const std::filesystem::path dir = tempPath("full");
    std::filesystem::create_directory(dir);
    const std::string target = (dir / "bank.map").string();
    ASSERT_TRUE(writeFileBytes(target, oldBytes));

    // A file size limit far below the bank makes every write past it fail, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = savePatchmap(bank, target);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(readFileBytes(target), oldBytes);
    EXPECT_EQ(filesIn(dir), 1u) << "the temporary file is removed";

    ASSERT_TRUE(savePatchmap(bank, target));  // and with room it replaces the file
    EXPECT_EQ(readFileBytes(target), patchmapImage(bank));
    EXPECT_EQ(filesIn(dir), 1u);
}

TEST_F(PatchmapSaveFailure, ReadOnlyDirectory) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    const std::filesystem::path dir = tempPath("readonly");
    std::filesystem::create_directory(dir);
    const std::string target = (dir / "bank.map").string();
    ASSERT_TRUE(writeFileBytes(target, oldBytes));
    std::filesystem::permissions(dir, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(savePatchmap(bank, target));
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    EXPECT_EQ(readFileBytes(target), oldBytes);
}

TEST_F(PatchmapSaveFailure, BankThatWouldNotLoadAgainIsNotWritten) {
    Bank odd = test::makeSmallBank();
    odd.programMap[40] = 200;
    const std::string target = tempPath("odd.map");
    ASSERT_TRUE(writeFileBytes(target, oldBytes));
    EXPECT_FALSE(savePatchmap(odd, target));
    EXPECT_EQ(readFileBytes(target), oldBytes);
}

TEST(FileLength, SizesAndFailures) {
    const std::string path = tempPath("seven bytes");
    ASSERT_TRUE(writeFileBytes(path, {1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(fileLength(path), 7);
    EXPECT_EQ(fileLength(tempPath("missing")), -1);
    EXPECT_EQ(fileLength(std::filesystem::temp_directory_path().string()), -1) << "a directory";
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(readWholeFile(path, bytes));
    EXPECT_EQ(bytes.size(), 7u);
    EXPECT_FALSE(readWholeFile(path, bytes, 6));
    EXPECT_TRUE(bytes.empty());

    const std::string fifo = tempPath("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(fileLength(fifo), -1) << "refused without waiting for a writer";
    EXPECT_FALSE(readWholeFile(fifo, bytes));
}

TEST(PatchmapSave, ThroughASymbolicLinkReplacesTheFileItNames) {
    const std::filesystem::path dir = tempPath("linked");
    std::filesystem::create_directory(dir);
    const std::string real = (dir / "real.map").string();
    const std::string link = (dir / "gmpatch.map").string();
    ASSERT_TRUE(writeFileBytes(real, {1, 2, 3}));
    std::filesystem::create_symlink("real.map", link);
    const Bank bank = test::makeExampleBank();
    ASSERT_TRUE(savePatchmap(bank, link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFileBytes(real), patchmapImage(bank));
}

TEST(LoadResultMessages, OneForEachCode) {
    EXPECT_STREQ(loadResultMessage(LoadOk), "Patchmap loaded.");
    EXPECT_STREQ(loadResultMessage(LoadNotFound), "The file was not found.");
    EXPECT_STREQ(loadResultMessage(LoadNotPatchmap),
                 "This is not a Tonvero Patchmap file. It might be corrupted or of another program.");
    EXPECT_STREQ(loadResultMessage(LoadUnknownVersion),
                 "This Patchmap file has an unknown version ID.\n"
                 "The file is either corrupted or generated by a newer version of Tonvero.");
    EXPECT_STREQ(loadResultMessage(17), "");
}

}  // namespace
}  // namespace tonvero
