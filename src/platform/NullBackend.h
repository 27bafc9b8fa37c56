#pragma once
// The "null" backend: a thread with a steady clock of its own consumes the
// device's output in real time and throws it away. For machines without a
// sound card (CI, headless runs): play cursors advance just as on a device.

#include "platform/AudioBackend.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tonvero {

class NullBackend final : public AudioBackend {
public:
    NullBackend() = default;
    ~NullBackend() override;
    NullBackend(const NullBackend&) = delete;
    NullBackend& operator=(const NullBackend&) = delete;

    const char* name() const override { return "null"; }
    std::string start(uint32_t rate, RenderFunction render) override;
    void stop() override;

private:
    void run(uint32_t rate, RenderFunction render);

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace tonvero
