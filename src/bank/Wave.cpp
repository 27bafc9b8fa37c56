#include "bank/Wave.h"

#include <utility>

namespace tonvero {

void Wave::setSamples(SampleData shared) {
    // A device buffer made from the old samples would play stale sound.
    deviceBuffer.reset();
    samples = std::move(shared);
    sampleCount = static_cast<uint32_t>(samples.size());
}

}  // namespace tonvero
