#pragma once
// Timers on a steady clock, one thread for all callbacks. Deadlines are
// absolute (start + n x period), so a late event does not push later ones
// back: the period holds on average, with no drift.

#include "platform/TimerService.h"

#include <memory>

namespace tonvero {

// Lateness of one timer's events: how far after its deadline each callback
// started, in microseconds.
struct TimerLateness {
    uint64_t events = 0;
    double meanMicros = 0;
    uint64_t worstMicros = 0;
};

class RealTimerService final : public TimerService {
public:
    RealTimerService();
    ~RealTimerService() override;  // kills every timer and joins the thread

    TimerId setPeriodic(uint64_t periodMicros, TimerCallback callback) override;
    bool kill(TimerId id) override;
    uint64_t nowMicros() const override;
    bool onTimerThread() const override;

    // Lateness of a live timer's events so far (zeros for an unknown id).
    TimerLateness lateness(TimerId id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tonvero
