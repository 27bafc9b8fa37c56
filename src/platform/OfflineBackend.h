#pragma once
// The "offline" backend: no thread and no clock of its own. Its stream is a
// link that someone else drives: OfflineAudio pulls frames through it as its
// virtual clock advances. Opened by name, nothing drives it, and the device
// consumes only what SoundDevice::render is asked for.

#include "platform/AudioBackend.h"

#include <memory>
#include <string>

namespace tonvero {

class OfflineBackend final : public AudioBackend {
public:
    // The stream as its driver sees it: the render function and rate of the
    // backend started last, until it stops. Used on one thread only.
    struct Link {
        RenderFunction render;
        uint32_t rate = 0;
        const OfflineBackend* owner = nullptr;
    };

    explicit OfflineBackend(std::shared_ptr<Link> link = nullptr);
    ~OfflineBackend() override;
    OfflineBackend(const OfflineBackend&) = delete;
    OfflineBackend& operator=(const OfflineBackend&) = delete;

    const char* name() const override { return "offline"; }
    std::string start(uint32_t rate, RenderFunction render) override;
    void stop() override;
    bool realTime() const override { return false; }

private:
    std::shared_ptr<Link> link_;
};

}  // namespace tonvero
