#include "platform/OfflineBackend.h"

namespace tonvero {

OfflineBackend::OfflineBackend(std::shared_ptr<Link> link) : link_(link ? std::move(link) : std::make_shared<Link>()) {}

OfflineBackend::~OfflineBackend() { stop(); }

std::string OfflineBackend::start(uint32_t rate, RenderFunction render) {
    if (rate == 0 || !render) return "the offline audio output needs a rate and a source";
    link_->render = std::move(render);
    link_->rate = rate;
    link_->owner = this;
    return {};
}

void OfflineBackend::stop() {
    if (link_->owner != this) return;
    link_->render = nullptr;
    link_->rate = 0;
    link_->owner = nullptr;
}

}  // namespace tonvero
