#include "platform/OfflineBackend.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <algorithm>

namespace tonvero {

namespace {

constexpr uint32_t kChunkFrames = 4096;

// Index of the first frame due after `micros` at `rate`: frame n is due at
// n x 1e6 / rate microseconds. Split so the product cannot overflow.
uint64_t framesBefore(uint64_t micros, uint32_t rate) {
    return (micros / 1000000) * rate + (micros % 1000000) * rate / 1000000;
}

}  // namespace

struct OfflineAudio::Impl {
    // What the device factory needs; it may outlive the OfflineAudio.
    struct Shared {
        std::shared_ptr<OfflineBackend::Link> link = std::make_shared<OfflineBackend::Link>();
        std::string failNextOpen;
    };

    VirtualTimerService timers;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    Sink sink;
    std::vector<int16_t> captured;
    std::vector<int16_t> scratch = std::vector<int16_t>(static_cast<size_t>(kChunkFrames) * 2);
    uint64_t consumed = 0;
    int listener = 0;

    // The clock moved from `from` to `to`: the stream consumes the frames due in between.
    void consume(uint64_t from, uint64_t to) {
        OfflineBackend::Link& link = *shared->link;
        if (!link.render || link.rate == 0) return;
        uint64_t frames = framesBefore(to, link.rate) - framesBefore(from, link.rate);
        while (frames > 0 && link.render) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, kChunkFrames));
            link.render(scratch.data(), n);
            consumed += n;
            frames -= n;
            if (sink)
                sink(scratch.data(), n);
            else
                captured.insert(captured.end(), scratch.begin(), scratch.begin() + static_cast<ptrdiff_t>(n) * 2);
        }
    }
};

OfflineAudio::OfflineAudio() : impl_(std::make_unique<Impl>()) {
    Impl* impl = impl_.get();
    impl->listener = impl->timers.addListener([impl](uint64_t from, uint64_t to) { impl->consume(from, to); });
}

OfflineAudio::~OfflineAudio() { impl_->timers.removeListener(impl_->listener); }

VirtualTimerService& OfflineAudio::timers() { return impl_->timers; }

SoundDeviceFactory OfflineAudio::deviceFactory() {
    std::shared_ptr<Impl::Shared> shared = impl_->shared;
    return [shared]() {
        DeviceOpenResult result;
        if (!shared->failNextOpen.empty()) {
            result.error = std::move(shared->failNextOpen);
            shared->failNextOpen.clear();
            return result;
        }
        result.device = std::make_unique<SoundDevice>(std::make_unique<OfflineBackend>(shared->link));
        return result;
    };
}

void OfflineAudio::setSink(Sink sink) { impl_->sink = std::move(sink); }

const std::vector<int16_t>& OfflineAudio::captured() const { return impl_->captured; }

void OfflineAudio::clearCaptured() { impl_->captured.clear(); }

uint64_t OfflineAudio::framesConsumed() const { return impl_->consumed; }

void OfflineAudio::failNextOpen(std::string error) { impl_->shared->failNextOpen = std::move(error); }

}  // namespace tonvero
