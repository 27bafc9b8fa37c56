#include "platform/NullBackend.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace tonvero {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr uint32_t kChunkFrames = 1024;
}  // namespace

NullBackend::~NullBackend() { stop(); }

std::string NullBackend::start(uint32_t rate, RenderFunction render) {
    stop();
    if (rate == 0 || !render) return "the null audio output needs a rate and a source";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this, rate, render = std::move(render)] { run(rate, render); });
    return {};
}

void NullBackend::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void NullBackend::run(uint32_t rate, RenderFunction render) {
    using Clock = std::chrono::steady_clock;
    std::vector<int16_t> scratch(static_cast<size_t>(kChunkFrames) * 2);
    const Clock::time_point origin = Clock::now();
    uint64_t consumed = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kPollInterval, [this] { return stopping_; })) {
        lock.unlock();
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin).count();
        const uint64_t due = static_cast<uint64_t>(elapsed) * rate / 1000000;
        // After a long stall (a suspended machine) skip ahead rather than
        // rendering more than a second at once.
        if (due > consumed + rate) consumed = due - rate;
        while (consumed < due) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(due - consumed, kChunkFrames));
            render(scratch.data(), n);
            consumed += n;
        }
        lock.lock();
    }
}

}  // namespace tonvero
