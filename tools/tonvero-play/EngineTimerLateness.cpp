#include "EngineTimerLateness.h"

namespace tonvero {

TimerId EngineTimerLateness::setPeriodic(uint64_t periodMicros, TimerCallback callback) {
    if (!callback) return 0;
    auto entry = std::make_shared<Entry>();
    TimerCallback counted = [this, entry, callback = std::move(callback)] {
        if (entry->use.load() == Unknown) learnUse(*entry);
        callback();
    };
    const TimerId id = timers_.setPeriodic(periodMicros, std::move(counted));
    if (id == 0) return 0;
    // The engine starts its timers with its mutex held and stores the id
    // before releasing it; learnUse takes that mutex, so it sees both ids.
    entry->id.store(id);
    std::lock_guard<std::mutex> lock(mutex_);
    live_[id] = std::move(entry);
    return id;
}

bool EngineTimerLateness::kill(TimerId id) {
    TimerLateness last;
    const bool killed = timers_.kill(id, &last);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(id);
    if (it == live_.end()) return killed;
    const int use = it->second->use.load();
    live_.erase(it);
    if (killed && (use == Mixer || use == Sequencer)) killed_[use - Mixer].merge(last);
    return killed;
}

void EngineTimerLateness::learnUse(Entry& entry) {
    const TimerId id = entry.id.load();
    if (id == 0 || engine_ == nullptr) return;  // learnt at a later event
    int use = Other;
    {
        EngineLock lock(engine_->mutex);
        if (id == engine_->mixerTimer)
            use = Mixer;
        else if (id == engine_->sequencerTimer && engine_->playing)
            use = Sequencer;  // (while a song ends, that field holds the timer watching the end)
    }
    entry.use.store(use);
}

TimerLateness EngineTimerLateness::total(Use use) const {
    std::lock_guard<std::mutex> lock(mutex_);
    TimerLateness sum = killed_[use - Mixer];
    for (const auto& [id, entry] : live_)
        if (entry->use.load() == use) sum.merge(timers_.lateness(id));
    return sum;
}

TimerLateness EngineTimerLateness::mixer() const { return total(Mixer); }

TimerLateness EngineTimerLateness::sequencer() const { return total(Sequencer); }

}  // namespace tonvero
