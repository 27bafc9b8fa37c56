#pragma once
// Timers on a steady clock, one thread for all callbacks. Deadlines are
// absolute (start + n x period), so a late event does not push later ones
// back: the period holds on average, with no drift.
//
// A late event still fires, at once, as long as it is at most one whole
// period late; when the thread was held up longer (a stalled machine, a
// callback that ran for several periods) the events more than a period late
// are skipped instead of fired back to back, so the next event fires for the
// latest deadline passed and the timer goes on on its grid.
//
// Callbacks run with the service's own mutex released. The service must not
// be destroyed from one of its callbacks.

#include "platform/LatenessHistogram.h"
#include "platform/TimerService.h"

#include <memory>

namespace tonvero {

// Lateness of one timer's events: how far after its deadline each callback
// started, in microseconds.
struct TimerLateness {
    uint64_t events = 0;
    double meanMicros = 0;
    uint64_t worstMicros = 0;
    uint64_t skipped = 0;         // events dropped for being more than a period late
    LatenessHistogram histogram;  // every event's lateness

    // The lateness `percent` % of the events did not exceed (see
    // LatenessHistogram::percentile), never more than the worst.
    uint64_t percentileMicros(double percent) const;
    // Adds another timer's events (for the lateness of several timers together).
    void merge(const TimerLateness& other);
};

class RealTimerService final : public TimerService {
public:
    RealTimerService();
    ~RealTimerService() override;  // kills every timer and joins the thread

    TimerId setPeriodic(uint64_t periodMicros, TimerCallback callback) override;
    bool kill(TimerId id) override;
    // Kills as kill(id) does and, when it killed a timer, stores its lateness
    // up to its last event in `*lastLateness` (if not null).
    bool kill(TimerId id, TimerLateness* lastLateness);
    uint64_t nowMicros() const override;
    bool onTimerThread() const override;

    // Lateness of a live timer's events so far (zeros for an unknown id).
    TimerLateness lateness(TimerId id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tonvero
