#include "platform/RealTimerService.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <sys/prctl.h>

namespace tonvero {

using Clock = std::chrono::steady_clock;

namespace {

uint64_t microsSince(Clock::time_point earlier, Clock::time_point later) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(later - earlier).count());
}

}  // namespace

struct RealTimerService::Impl {
    struct Timer {
        Clock::duration period;
        Clock::time_point deadline;
        TimerCallback callback;
        uint64_t events = 0;
        uint64_t skipped = 0;
        uint64_t totalLateMicros = 0;
        uint64_t worstLateMicros = 0;
        LatenessHistogram histogram;
    };

    mutable std::mutex mutex;
    std::condition_variable wake;      // a timer was added or the service stops
    std::condition_variable finished;  // a callback returned
    std::map<TimerId, std::shared_ptr<Timer>> timers;
    TimerId nextId = 1;
    TimerId running = 0;  // the timer whose callback runs now, or 0
    bool stopping = false;
    std::thread thread;

    void run();
    static TimerLateness latenessOf(const Timer& timer);
};

void RealTimerService::Impl::run() {
    // Linux may defer a sleeping thread's wake-up by its timer slack (50 us
    // by default) to batch wake-ups; the timer thread wants its deadlines.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // A timer's callback is destroyed only with this mutex released (it may
    // hold objects whose destructors call back into the service).
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        // The live timer with the earliest deadline; the lowest id among equals.
        auto earliest = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it)
            if (earliest == timers.end() || it->second->deadline < earliest->second->deadline) earliest = it;
        if (earliest == timers.end()) {
            wake.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now < earliest->second->deadline) {
            // Woken early by a new timer, a kill or the end: choose again.
            // (A copy: a kill may free the timer while this waits.)
            const Clock::time_point deadline = earliest->second->deadline;
            wake.wait_until(lock, deadline);
            continue;
        }
        const TimerId dueId = earliest->first;
        std::shared_ptr<Timer> due = earliest->second;  // keeps the callback alive through a kill
        while (now - due->deadline > due->period) {
            due->deadline += due->period;
            ++due->skipped;
        }
        const uint64_t late = microsSince(due->deadline, now);
        ++due->events;
        due->totalLateMicros += late;
        if (late > due->worstLateMicros) due->worstLateMicros = late;
        due->histogram.add(late);
        due->deadline += due->period;

        running = dueId;
        lock.unlock();
        due->callback();
        due.reset();
        lock.lock();
        running = 0;
        finished.notify_all();
    }
}

RealTimerService::RealTimerService() : impl_(std::make_unique<Impl>()) {
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

RealTimerService::~RealTimerService() {
    std::map<TimerId, std::shared_ptr<Impl::Timer>> left;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
        left.swap(impl_->timers);
    }
    impl_->wake.notify_all();
    impl_->thread.join();
}

TimerId RealTimerService::setPeriodic(uint64_t periodMicros, TimerCallback callback) {
    if (periodMicros == 0 || periodMicros > kMaxTimerPeriodMicros || !callback) return 0;
    auto timer = std::make_shared<Impl::Timer>();
    timer->period = std::chrono::microseconds(periodMicros);
    timer->deadline = Clock::now() + timer->period;
    timer->callback = std::move(callback);
    TimerId id;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->stopping) return 0;
        do {
            id = impl_->nextId++;
        } while (id == 0 || impl_->timers.count(id) != 0);
        impl_->timers.emplace(id, std::move(timer));
    }
    impl_->wake.notify_all();
    return id;
}

bool RealTimerService::kill(TimerId id) { return kill(id, nullptr); }

bool RealTimerService::kill(TimerId id, TimerLateness* lastLateness) {
    std::shared_ptr<Impl::Timer> killed;  // destroyed after the lock is released
    std::unique_lock<std::mutex> lock(impl_->mutex);
    auto it = impl_->timers.find(id);
    if (it == impl_->timers.end()) return false;
    killed = std::move(it->second);
    impl_->timers.erase(it);
    // Out of the table it fires no more: its lateness is final. (A callback
    // still running was counted when it started.)
    if (lastLateness) *lastLateness = Impl::latenessOf(*killed);
    // From another thread, wait until a running callback of this timer has
    // returned; on the timer thread that callback is our caller.
    if (!onTimerThread()) impl_->finished.wait(lock, [&] { return impl_->running != id; });
    lock.unlock();
    impl_->wake.notify_all();
    return true;
}

uint64_t RealTimerService::nowMicros() const { return microsSince(Clock::time_point{}, Clock::now()); }

bool RealTimerService::onTimerThread() const { return std::this_thread::get_id() == impl_->thread.get_id(); }

TimerLateness RealTimerService::Impl::latenessOf(const Timer& timer) {
    TimerLateness result;
    result.events = timer.events;
    result.worstMicros = timer.worstLateMicros;
    result.skipped = timer.skipped;
    if (timer.events > 0)
        result.meanMicros = static_cast<double>(timer.totalLateMicros) / static_cast<double>(timer.events);
    result.histogram = timer.histogram;
    return result;
}

TimerLateness RealTimerService::lateness(TimerId id) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->timers.find(id);
    if (it == impl_->timers.end()) return TimerLateness{};
    return Impl::latenessOf(*it->second);
}

uint64_t TimerLateness::percentileMicros(double percent) const {
    return std::min(histogram.percentile(percent), worstMicros);
}

void TimerLateness::merge(const TimerLateness& other) {
    const uint64_t total = events + other.events;
    if (total > 0)
        meanMicros = (meanMicros * static_cast<double>(events) + other.meanMicros * static_cast<double>(other.events)) /
                     static_cast<double>(total);
    events = total;
    worstMicros = std::max(worstMicros, other.worstMicros);
    skipped += other.skipped;
    histogram.merge(other.histogram);
}

TimerService& realTimerService() {
    static RealTimerService service;
    return service;
}

}  // namespace tonvero
