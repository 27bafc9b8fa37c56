#include "platform/VirtualTimerService.h"

namespace tonvero {

TimerId VirtualTimerService::setPeriodic(uint64_t periodMicros, TimerCallback callback) {
    if (periodMicros == 0 || periodMicros > kMaxTimerPeriodMicros || !callback) return 0;
    if (nextId_ == 0)  // after wrapping round, 0 stays "none"
        nextId_ = 1;
    const TimerId id = nextId_++;
    timers_.emplace(id, Timer{periodMicros, now_ + periodMicros, std::move(callback)});
    return id;
}

bool VirtualTimerService::kill(TimerId id) {
    // Erasing is safe even for the timer whose callback runs now: the firing
    // loop holds that callback in a local while it runs.
    return timers_.erase(id) != 0;
}

bool VirtualTimerService::onTimerThread() const {
    return inCallback_ && std::this_thread::get_id() == advancingThread_;
}

TimerId VirtualTimerService::earliestDue(uint64_t limit) const {
    TimerId best = 0;
    uint64_t bestDeadline = 0;
    for (const auto& [id, timer] : timers_) {  // ids ascend: the first of equal deadlines wins
        if (timer.deadline <= limit && (best == 0 || timer.deadline < bestDeadline)) {
            best = id;
            bestDeadline = timer.deadline;
        }
    }
    return best;
}

void VirtualTimerService::moveClock(uint64_t to) {
    if (to <= now_) return;
    const uint64_t from = now_;
    now_ = to;
    // Listeners may add or remove listeners: walk by token, and call a copy so
    // a listener that removes itself is not destroyed while it runs.
    std::vector<int> tokens;
    tokens.reserve(listeners_.size());
    for (const auto& entry : listeners_) tokens.push_back(entry.first);
    for (int token : tokens) {
        auto it = listeners_.find(token);
        if (it == listeners_.end()) continue;
        AdvanceListener listener = it->second;
        listener(from, to);
    }
}

void VirtualTimerService::advanceTo(uint64_t micros) {
    if (firing_ || micros < now_) return;
    firing_ = true;
    advancingThread_ = std::this_thread::get_id();
    for (TimerId id = earliestDue(micros); id != 0; id = earliestDue(micros)) {
        auto it = timers_.find(id);
        moveClock(it->second.deadline);
        // A listener may have killed it.
        it = timers_.find(id);
        if (it == timers_.end()) continue;
        it->second.deadline += it->second.period;
        TimerCallback callback = std::move(it->second.callback);
        inCallback_ = true;
        callback();
        inCallback_ = false;
        // Hand the callback back unless the timer was killed meanwhile.
        it = timers_.find(id);
        if (it != timers_.end()) it->second.callback = std::move(callback);
    }
    moveClock(micros);
    firing_ = false;
}

std::optional<uint64_t> VirtualTimerService::nextDeadline() const {
    std::optional<uint64_t> earliest;
    for (const auto& entry : timers_)
        if (!earliest || entry.second.deadline < *earliest) earliest = entry.second.deadline;
    return earliest;
}

bool VirtualTimerService::advanceToNextDeadline() {
    const std::optional<uint64_t> deadline = nextDeadline();
    if (!deadline) return false;
    advanceTo(*deadline);
    return true;
}

int VirtualTimerService::addListener(AdvanceListener listener) {
    const int token = nextListener_++;
    listeners_.emplace(token, std::move(listener));
    return token;
}

void VirtualTimerService::removeListener(int token) { listeners_.erase(token); }

}  // namespace tonvero
