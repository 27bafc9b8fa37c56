// A recorded take read back through the song loader: every event on the
// frame it was played at, at the common output rates and at one that allows
// no exact tick; a gap longer than one delta time; saving whole or not at all.

#include "live/TakeRecorder.h"
#include "song/SongImage.h"
#include "song/SongLoader.h"
#include "song/TempoMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace tonvero {
namespace {

struct Played {
    uint64_t frame;  // from the take's start
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

// The events of a loaded format 0 song as (tick, status, data1, data2),
// meta events left out; a reset is shown as status F0.
std::vector<Played> eventsOf(const SongImage& song) {
    std::vector<Played> out;
    const Track& t = *song.tracks.at(0);
    const uint8_t* p = song.data.data() + t.dataOffset;
    const uint8_t* end = p + t.dataLength;
    uint64_t tick = 0;
    auto varLen = [&] {
        uint32_t v = 0;
        while (p < end) {
            const uint8_t b = *p++;
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        return v;
    };
    while (p < end) {
        tick += varLen();
        const uint8_t status = *p++;
        if (status == 0xFF) {
            ++p;
            p += varLen();
        } else if (status == 0xF0) {
            p += varLen();
            out.push_back({tick, 0xF0, 0, 0});
        } else {
            const bool one = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0;
            out.push_back({tick, status, p[0], one ? uint8_t{0} : p[1]});
            p += one ? 1 : 2;
        }
    }
    return out;
}

TEST(TakeRecorder, EveryEventComesBackOnItsFrame) {
    for (int32_t rate : {44100, 48000, 96000, 192000, 22050, 11025, 8000, 44101}) {
        const uint64_t within = rate == 44101 ? 1 : 0;  // no exact tick: the nearest
        SCOPED_TRACE(rate);
        const uint64_t start = 1234567;
        TakeRecorder take(rate, start);
        const std::vector<Played> played{
            {0, 0x90, 60, 100},
            {1, 0x90, 64, 90},
            {997, 0x80, 60, 0},
            {rate + 13ull, 0xB0, 7, 100},
            {rate * 2ull, 0xC3, 5, 0},
            {rate * 2ull + 1, 0xE0, 0, 64},
            {rate * 61ull + 7, 0x80, 64, 0},
        };
        for (const Played& p : played)
            take.add(start + p.frame, {LiveMessage::Kind::Channel, p.status, p.data1, p.data2});
        take.add(start + rate * 62ull, {LiveMessage::Kind::SystemReset, 0, 0, 0});

        SongImage song;
        ASSERT_EQ(parseSong(take.fileBytes(), song), SongLoadResult::Loaded);
        EXPECT_EQ(song.format, 0);
        EXPECT_EQ(song.division, take.division());
        EXPECT_LE(take.division(), 0x7FFF);
        const std::vector<Played> read = eventsOf(song);
        ASSERT_EQ(read.size(), played.size() + 1);
        for (size_t i = 0; i < played.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(frameAtTick(song.timing, read[i].frame, rate)),
                        static_cast<double>(played[i].frame), within)
                << "event " << i;
            EXPECT_EQ(read[i].status, played[i].status);
            EXPECT_EQ(read[i].data1, played[i].data1);
            EXPECT_EQ(read[i].data2, played[i].data2);
        }
        EXPECT_EQ(read.back().status, 0xF0);
        EXPECT_NEAR(static_cast<double>(frameAtTick(song.timing, read.back().frame, rate)), rate * 62.0, within);
    }
}

TEST(TakeRecorder, LongGapsOrderAndSaving) {
    TakeRecorder take(48000, 1000);
    // Before the start counts as the start; out of order as the last frame.
    take.add(10, {LiveMessage::Kind::Channel, 0x90, 60, 1});
    take.add(5000, {LiveMessage::Kind::Channel, 0x90, 61, 1});
    take.add(4000, {LiveMessage::Kind::Channel, 0x90, 62, 1});
    // More than one delta time holds (2^28 ticks, 93 minutes at 48 kHz) later.
    const uint64_t far = 1000 + 3ull * 0x0FFFFFFF + 77;
    take.add(far, {LiveMessage::Kind::Channel, 0x80, 60, 0});
    SongImage song;
    ASSERT_EQ(parseSong(take.fileBytes(), song), SongLoadResult::Loaded);
    const std::vector<Played> read = eventsOf(song);
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(frameAtTick(song.timing, read[0].frame, 48000), 0u);
    EXPECT_EQ(frameAtTick(song.timing, read[1].frame, 48000), 4000u);
    EXPECT_EQ(frameAtTick(song.timing, read[2].frame, 48000), 4000u);
    EXPECT_EQ(frameAtTick(song.timing, read[3].frame, 48000), far - 1000);

    // Saved whole over an earlier take; a save that cannot be made leaves nothing.
    const std::string path = "take_test.mid";
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "an earlier take";
    }
    ASSERT_TRUE(take.save(path));
    std::vector<uint8_t> saved;
    {
        std::ifstream in(path, std::ios::binary);
        saved.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(saved, take.fileBytes());
    std::remove(path.c_str());
    EXPECT_FALSE(take.save("/nonexistent/dir/take.mid"));
}

}  // namespace
}  // namespace tonvero
