#pragma once
// Periodic timers, as the multimedia timer service offers them: every
// callback runs on the service's one timer thread (the virtual service runs
// them on the thread that advances its clock).
//
// Kill semantics: killing a timer from any thread other than the timer thread
// returns only after a callback of that timer that is running has returned;
// killing it from the timer thread (its own callback or another's) returns at
// once. After kill returns, the timer never fires again. Nobody may kill a
// timer while holding a lock that the timer's callback takes.

#include <cstdint>
#include <functional>

namespace tonvero {

using TimerId = uint32_t;  // 0 means none
using TimerCallback = std::function<void()>;

// The longest period a timer accepts: 2^40 us, about twelve and a half days.
constexpr uint64_t kMaxTimerPeriodMicros = uint64_t{1} << 40;

class TimerService {
public:
    virtual ~TimerService() = default;
    // Starts a periodic timer whose first event is one period from now.
    // Period in microseconds (1 .. kMaxTimerPeriodMicros). Returns its id,
    // never 0 on success, 0 on failure. Any thread.
    virtual TimerId setPeriodic(uint64_t periodMicros, TimerCallback callback) = 0;
    // Kills a timer; false if the id names no live timer. Any thread.
    virtual bool kill(TimerId id) = 0;
    // The service's clock, microseconds from an arbitrary origin.
    virtual uint64_t nowMicros() const = 0;
    // True on the thread that runs this service's callbacks.
    virtual bool onTimerThread() const = 0;
};

// The process-wide real timer service (made on first use, lives to exit).
TimerService& realTimerService();

}  // namespace tonvero
