#pragma once
// The timer service tonvero-play gives its engine: every call goes to a real
// timer service, and the lateness of the engine's timers is summed by what
// they do, over all the timers that did it: the mixer timers (one per start
// of the output) and the sequencer timers (one per play and per tempo
// change). The timer that watches the end of a song is counted apart.
//
// A timer's use is learnt at its first event, from the engine field that
// holds its id (taking the engine mutex once in that timer's life); its
// figures are taken whole when it is killed, or from the live timer when
// asked. Construct before the engine and destroy after it.

#include "engine/MixerEngine.h"
#include "platform/RealTimerService.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace tonvero {

class EngineTimerLateness final : public TimerService {
public:
    explicit EngineTimerLateness(RealTimerService& timers) : timers_(timers) {}
    EngineTimerLateness(const EngineTimerLateness&) = delete;
    EngineTimerLateness& operator=(const EngineTimerLateness&) = delete;

    // The engine whose timers these are; set before it starts any timer.
    void watch(MixerEngine& engine) { engine_ = &engine; }

    TimerId setPeriodic(uint64_t periodMicros, TimerCallback callback) override;
    bool kill(TimerId id) override;
    uint64_t nowMicros() const override { return timers_.nowMicros(); }
    bool onTimerThread() const override { return timers_.onTimerThread(); }

    // Lateness of every event of the engine's mixer timers, and of its
    // sequencer timers, so far (killed and live timers together). Any thread
    // but the timer thread's callbacks.
    TimerLateness mixer() const;
    TimerLateness sequencer() const;

private:
    enum Use : int { Unknown, Mixer, Sequencer, Other };
    struct Entry {
        std::atomic<TimerId> id{0};
        std::atomic<int> use{Unknown};
    };
    void learnUse(Entry& entry);
    TimerLateness total(Use use) const;

    RealTimerService& timers_;
    MixerEngine* engine_ = nullptr;
    mutable std::mutex mutex_;  // guards live_ and killed_
    std::map<TimerId, std::shared_ptr<Entry>> live_;
    TimerLateness killed_[2];  // Mixer, Sequencer
};

}  // namespace tonvero
