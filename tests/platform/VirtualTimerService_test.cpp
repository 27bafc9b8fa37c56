// Timers on the virtual clock: order, times, kills from anywhere.

#include "platform/VirtualTimerService.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tonvero {
namespace {

using Firing = std::pair<std::string, uint64_t>;

TEST(VirtualTimerService, FiresInDeadlineOrderAtTheirVirtualTimes) {
    VirtualTimerService timers;
    std::vector<Firing> log;
    auto record = [&](const char* name) {
        return [&log, &timers, name] { log.emplace_back(name, timers.nowMicros()); };
    };
    timers.advanceTo(5);
    ASSERT_NE(timers.setPeriodic(30, record("a")), 0u);
    ASSERT_NE(timers.setPeriodic(20, record("b")), 0u);
    ASSERT_NE(timers.setPeriodic(20, record("c")), 0u);  // ties with b: b was made first
    EXPECT_EQ(timers.nextDeadline(), 25u);

    timers.advanceTo(65);
    const std::vector<Firing> expected = {{"b", 25}, {"c", 25}, {"a", 35}, {"b", 45},
                                          {"c", 45}, {"a", 65}, {"b", 65}, {"c", 65}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(timers.nowMicros(), 65u);

    // Not backwards.
    timers.advanceTo(10);
    EXPECT_EQ(timers.nowMicros(), 65u);

    log.clear();
    EXPECT_TRUE(timers.advanceToNextDeadline());
    EXPECT_EQ(log, (std::vector<Firing>{{"b", 85}, {"c", 85}}));
}

TEST(VirtualTimerService, ListenersHearEachStretchBeforeTheCallbacksAtItsEnd) {
    VirtualTimerService timers;
    std::vector<std::string> log;
    const int token = timers.addListener(
        [&](uint64_t from, uint64_t to) { log.push_back(std::to_string(from) + "-" + std::to_string(to)); });
    timers.setPeriodic(10, [&] { log.push_back("tick@" + std::to_string(timers.nowMicros())); });
    timers.advanceTo(25);
    EXPECT_EQ(log, (std::vector<std::string>{"0-10", "tick@10", "10-20", "tick@20", "20-25"}));

    timers.removeListener(token);
    log.clear();
    timers.advanceTo(30);
    EXPECT_EQ(log, (std::vector<std::string>{"tick@30"}));
}

TEST(VirtualTimerService, KilledTimerNeverFiresAgain) {
    VirtualTimerService timers;
    int fired = 0;
    const TimerId id = timers.setPeriodic(10, [&] { ++fired; });
    timers.advanceTo(20);
    EXPECT_EQ(fired, 2);
    EXPECT_TRUE(timers.kill(id));
    EXPECT_FALSE(timers.kill(id));
    EXPECT_EQ(timers.liveTimers(), 0u);
    timers.advanceTo(100);
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(timers.nextDeadline().has_value());
    EXPECT_FALSE(timers.advanceToNextDeadline());
    EXPECT_EQ(timers.setPeriodic(0, [] {}), 0u);
    EXPECT_EQ(timers.setPeriodic(10, nullptr), 0u);
    EXPECT_EQ(timers.setPeriodic(kMaxTimerPeriodMicros + 1, [] {}), 0u);
}

TEST(VirtualTimerService, CallbacksMayKillThemselvesOthersAndStartNewTimers) {
    VirtualTimerService timers;
    std::vector<Firing> log;
    TimerId self = 0;
    TimerId victim = 0;
    bool killedSelf = false;
    // A callback holding state of its own, destroyed by its own kill.
    auto owned = std::make_shared<int>(7);
    self = timers.setPeriodic(10, [&, owned] {
        log.emplace_back("self", timers.nowMicros());
        EXPECT_TRUE(timers.onTimerThread());
        killedSelf = timers.kill(self);
        EXPECT_EQ(*owned, 7) << "still alive while it runs";
        EXPECT_TRUE(timers.kill(victim));  // due at the same time, after this one
        timers.setPeriodic(5, [&] { log.emplace_back("new", timers.nowMicros()); });
    });
    victim = timers.setPeriodic(10, [&] { log.emplace_back("victim", timers.nowMicros()); });
    std::weak_ptr<int> watch = owned;
    owned.reset();

    EXPECT_FALSE(timers.onTimerThread());
    timers.advanceTo(22);
    EXPECT_TRUE(killedSelf);
    EXPECT_EQ(log, (std::vector<Firing>{{"self", 10}, {"new", 15}, {"new", 20}}));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(timers.liveTimers(), 1u);
}

TEST(VirtualTimerService, AdvancingFromInsideACallbackDoesNothing) {
    VirtualTimerService timers;
    int fired = 0;
    timers.setPeriodic(10, [&] {
        ++fired;
        timers.advanceTo(1000);
    });
    timers.advanceTo(30);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(timers.nowMicros(), 30u);
}

}  // namespace
}  // namespace tonvero
