// The real timer service: what its kill promises, on real threads. Nothing
// here asserts how long anything takes; speed and jitter are measured in
// bench/timer_bench.cpp.

#include "platform/RealTimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tonvero {
namespace {

// A flag one thread raises and others wait for.
class Signal {
public:
    void raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = true;
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return raised_; });
    }
    bool raised() {
        std::lock_guard<std::mutex> lock(mutex_);
        return raised_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool raised_ = false;
};

TEST(RealTimerService, KillFromAnotherThreadWaitsForTheRunningCallback) {
    RealTimerService service;
    Signal entered;
    Signal release;
    std::atomic<bool> callbackFinished{false};
    std::atomic<int> calls{0};
    const TimerId id = service.setPeriodic(1000, [&] {
        if (calls.fetch_add(1) > 0) return;
        entered.raise();
        release.wait();
        callbackFinished = true;
    });
    ASSERT_NE(id, 0u);
    entered.wait();

    Signal killing;
    bool finishedWhenKillReturned = false;
    bool killResult = false;
    std::thread killer([&] {
        killing.raise();
        killResult = service.kill(id);
        finishedWhenKillReturned = callbackFinished.load();
    });
    killing.wait();
    // Give the killer time to block inside kill; the outcome does not depend on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release.raise();
    killer.join();

    EXPECT_TRUE(killResult);
    EXPECT_TRUE(finishedWhenKillReturned);
    const int callsAfterKill = calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(calls.load(), callsAfterKill) << "a killed timer fired again";
    EXPECT_FALSE(service.kill(id));
}

TEST(RealTimerService, KillFromItsOwnCallbackReturns) {
    RealTimerService service;
    Signal done;
    std::atomic<int> calls{0};
    std::atomic<bool> killResult{false};
    std::atomic<bool> onTimerThread{false};
    TimerId id = 0;
    std::mutex idMutex;
    {
        std::lock_guard<std::mutex> lock(idMutex);
        id = service.setPeriodic(500, [&] {
            ++calls;
            onTimerThread = service.onTimerThread();
            TimerId own;
            {
                std::lock_guard<std::mutex> lock(idMutex);
                own = id;
            }
            killResult = service.kill(own);
            done.raise();
        });
    }
    done.wait();
    EXPECT_TRUE(killResult);
    EXPECT_TRUE(onTimerThread);
    EXPECT_FALSE(service.onTimerThread());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(service.lateness(id).events, 0u) << "a killed timer is unknown";
}

TEST(RealTimerService, CallbacksOfSeveralTimersRunOnOneThreadAndCountTheirLateness) {
    RealTimerService service;
    std::mutex mutex;
    std::condition_variable cv;
    int a = 0;
    int b = 0;
    std::thread::id threadA;
    std::thread::id threadB;
    const TimerId idA = service.setPeriodic(700, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++a;
        threadA = std::this_thread::get_id();
        cv.notify_all();
    });
    const TimerId idB = service.setPeriodic(1100, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++b;
        threadB = std::this_thread::get_id();
        cv.notify_all();
    });
    ASSERT_NE(idA, idB);
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return a >= 3 && b >= 3; });
        EXPECT_EQ(threadA, threadB);
        EXPECT_NE(threadA, std::this_thread::get_id());
    }
    EXPECT_GE(service.lateness(idA).events, 3u);
    EXPECT_GE(service.lateness(idA).worstMicros, static_cast<uint64_t>(service.lateness(idA).meanMicros));
    EXPECT_TRUE(service.kill(idA));
    EXPECT_TRUE(service.kill(idB));
    EXPECT_EQ(service.setPeriodic(0, [] {}), 0u);
    EXPECT_EQ(service.setPeriodic(kMaxTimerPeriodMicros + 1, [] {}), 0u);
}

TEST(RealTimerService, DestroyingWithLiveTimersStopsThem) {
    std::atomic<int> calls{0};
    {
        RealTimerService service;
        service.setPeriodic(200, [&] { ++calls; });
        while (calls.load() == 0) std::this_thread::yield();
    }
    const int after = calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(calls.load(), after);
}

TEST(RealTimerService, ProcessWideServiceIsOne) {
    EXPECT_EQ(&realTimerService(), &realTimerService());
    EXPECT_FALSE(realTimerService().onTimerThread());
}

}  // namespace
}  // namespace tonvero
