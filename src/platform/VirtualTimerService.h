#pragma once
// Timers on a virtual clock that only the caller advances: callbacks fire in
// deadline order (creation order among equal deadlines) on the advancing
// thread, at exactly their virtual times. The offline sound backend listens
// to the same clock and consumes sound as it moves, so the engine runs
// deterministically and faster than real time.
//
// One thread uses a virtual service. Callbacks may create and kill timers,
// their own included; kill never waits (there is no other thread to wait
// for). advanceTo from inside a callback or a listener does nothing.

#include "platform/TimerService.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace tonvero {

class VirtualTimerService final : public TimerService {
public:
    // Told of every stretch of time the clock passes, before the callbacks
    // due at its end run.
    using AdvanceListener = std::function<void(uint64_t fromMicros, uint64_t toMicros)>;

    VirtualTimerService() = default;

    TimerId setPeriodic(uint64_t periodMicros, TimerCallback callback) override;
    bool kill(TimerId id) override;
    uint64_t nowMicros() const override { return now_; }
    bool onTimerThread() const override;

    // Moves the clock to `micros` (never backwards), firing every timer event
    // due up to and including it, in deadline order.
    void advanceTo(uint64_t micros);
    void advanceBy(uint64_t micros) { advanceTo(now_ + micros); }
    // The earliest pending deadline, if any timer is live.
    std::optional<uint64_t> nextDeadline() const;
    // Moves to the next deadline and fires what is due there; false if no timer is live.
    bool advanceToNextDeadline();
    size_t liveTimers() const { return timers_.size(); }

    // Registers a listener; returns a token for removeListener.
    int addListener(AdvanceListener listener);
    void removeListener(int token);

private:
    struct Timer {
        uint64_t period;
        uint64_t deadline;
        TimerCallback callback;
    };
    void moveClock(uint64_t to);
    // The live timer with the earliest deadline not after `limit` (the
    // lowest id among equal deadlines), or 0.
    TimerId earliestDue(uint64_t limit) const;

    uint64_t now_ = 0;
    TimerId nextId_ = 1;
    std::map<TimerId, Timer> timers_;
    std::map<int, AdvanceListener> listeners_;
    int nextListener_ = 1;
    bool firing_ = false;      // advancing: callbacks and listeners run
    bool inCallback_ = false;  // a timer callback is running
    std::thread::id advancingThread_;
};

}  // namespace tonvero
