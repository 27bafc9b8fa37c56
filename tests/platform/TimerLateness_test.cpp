// Timer lateness as counted for reports: the fixed histogram and its
// percentiles, several timers' lateness together, and a killed real timer's
// last figures. Nothing here asserts how late a real timer fires.

#include "platform/LatenessHistogram.h"
#include "platform/RealTimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>

namespace tonvero {
namespace {

using H = LatenessHistogram;

TEST(LatenessHistogram, BinsTileEveryValueExactlyBelow64AndWithin3PercentAbove) {
    for (uint64_t v = 0; v < 64; ++v) {
        EXPECT_EQ(H::binOf(v), v);
        EXPECT_EQ(H::binLowest(H::binOf(v)), v);
        EXPECT_EQ(H::binHighest(H::binOf(v)), v);
    }
    // Consecutive bins meet with no gap and no overlap, and each is at most
    // 1/32 of its lowest value wide.
    for (uint32_t bin = 0; bin + 1 < H::kOverflowBin; ++bin) {
        ASSERT_EQ(H::binHighest(bin) + 1, H::binLowest(bin + 1)) << "bin " << bin;
        const uint64_t width = H::binHighest(bin) - H::binLowest(bin) + 1;
        if (bin >= 64) {
            ASSERT_LE(width * 32, H::binLowest(bin)) << "bin " << bin;
        }
    }
    // Every value lands in the bin whose bounds hold it.
    for (uint64_t v = 0; v < 200000; v += 7) {
        const uint32_t bin = H::binOf(v);
        ASSERT_LE(H::binLowest(bin), v) << v;
        ASSERT_GE(H::binHighest(bin), v) << v;
    }
    EXPECT_EQ(H::binOf(131071), H::kOverflowBin - 1);
    EXPECT_EQ(H::binOf(131072), H::kOverflowBin);
    EXPECT_EQ(H::binOf(std::numeric_limits<uint64_t>::max()), H::kOverflowBin);
    EXPECT_EQ(H::binHighest(H::kOverflowBin), std::numeric_limits<uint64_t>::max());
}

TEST(LatenessHistogram, PercentileIsTheValueOfTheEventAtThatRank) {
    H h;
    EXPECT_EQ(h.percentile(99), 0u) << "nothing counted";
    // 990 events 7 us late and 10 at 40 us: the 990th of 1000 is 7 us.
    for (int i = 0; i < 990; ++i) h.add(7);
    for (int i = 0; i < 10; ++i) h.add(40);
    EXPECT_EQ(h.count(), 1000u);
    EXPECT_EQ(h.percentile(50), 7u);
    EXPECT_EQ(h.percentile(99), 7u);
    EXPECT_EQ(h.percentile(99.1), 40u);
    EXPECT_EQ(h.percentile(100), 40u);
    EXPECT_EQ(h.percentile(0.01), 7u) << "the first event at the least";
    // One more late event moves the 99th percentile onto it (990.99 -> rank 991).
    h.add(40);
    EXPECT_EQ(h.percentile(99), 40u);
}

TEST(LatenessHistogram, PercentileAbove64UsGivesItsBinsHighestValue) {
    H h;
    for (int i = 0; i < 98; ++i) h.add(100);
    h.add(5000);
    h.add(50000);
    // 5000 lies in [4992, 5119] (bins 128 us wide from 4096 on).
    EXPECT_EQ(h.percentile(99), 5119u);
    EXPECT_EQ(h.percentile(100), 50175u);
    EXPECT_EQ(h.percentile(98), 101u);  // 100 in [100, 101]
    EXPECT_LE(h.percentile(99), 5000u + 5000u / 32);
}

TEST(LatenessHistogram, MergeAddsTheCounts) {
    H a;
    H b;
    for (int i = 0; i < 50; ++i) a.add(3);
    for (int i = 0; i < 50; ++i) b.add(900);
    a.merge(b);
    EXPECT_EQ(a.count(), 100u);
    EXPECT_EQ(a.inBin(3), 50u);
    EXPECT_EQ(a.inBin(H::binOf(900)), 50u);
    EXPECT_EQ(a.percentile(50), 3u);
    EXPECT_EQ(a.percentile(51), H::binHighest(H::binOf(900)));
}

TEST(TimerLateness, PercentileNeverPassesTheWorstAndMergingKeepsEveryFigure) {
    TimerLateness a;
    for (int i = 0; i < 99; ++i) a.histogram.add(10);
    a.histogram.add(200000);  // in the last, open-ended bin
    a.events = 100;
    a.meanMicros = (99.0 * 10 + 200000) / 100;
    a.worstMicros = 200000;
    a.skipped = 1;
    EXPECT_EQ(a.percentileMicros(99), 10u);
    EXPECT_EQ(a.percentileMicros(100), 200000u) << "the open bin is held to the worst";

    TimerLateness b;
    for (int i = 0; i < 100; ++i) b.histogram.add(30);
    b.events = 100;
    b.meanMicros = 30;
    b.worstMicros = 30;
    b.skipped = 2;
    a.merge(b);
    EXPECT_EQ(a.events, 200u);
    EXPECT_DOUBLE_EQ(a.meanMicros, (99.0 * 10 + 200000 + 100 * 30) / 200);
    EXPECT_EQ(a.worstMicros, 200000u);
    EXPECT_EQ(a.skipped, 3u);
    EXPECT_EQ(a.histogram.count(), 200u);
    EXPECT_EQ(a.percentileMicros(49.5), 10u);
    EXPECT_EQ(a.percentileMicros(50), 30u);
    EXPECT_EQ(a.percentileMicros(99.5), 30u);

    TimerLateness none;
    none.merge(TimerLateness{});
    EXPECT_EQ(none.events, 0u);
    EXPECT_EQ(none.meanMicros, 0.0);
    EXPECT_EQ(none.percentileMicros(99), 0u);
}

TEST(RealTimerService, KillGivesTheTimersLastLatenessAndEveryEventIsInItsHistogram) {
    RealTimerService service;
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    const TimerId id = service.setPeriodic(1000, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls;
        cv.notify_all();
    });
    ASSERT_NE(id, 0u);
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return calls >= 5; });
    }
    const TimerLateness live = service.lateness(id);
    EXPECT_EQ(live.histogram.count(), live.events);

    TimerLateness last;
    ASSERT_TRUE(service.kill(id, &last));
    int callsAtKill = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        callsAtKill = calls;
    }
    EXPECT_EQ(last.events, static_cast<uint64_t>(callsAtKill)) << "every event that ran, and no other";
    EXPECT_GE(last.events, live.events);
    EXPECT_EQ(last.histogram.count(), last.events);
    EXPECT_LE(last.percentileMicros(99), last.worstMicros);
    EXPECT_LE(last.percentileMicros(50), last.percentileMicros(99));

    // A second kill finds nothing and leaves the figures alone.
    TimerLateness untouched;
    untouched.events = 42;
    EXPECT_FALSE(service.kill(id, &untouched));
    EXPECT_EQ(untouched.events, 42u);
    EXPECT_FALSE(service.kill(0, nullptr));
}

}  // namespace
}  // namespace tonvero
