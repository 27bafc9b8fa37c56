#include "bank/Wave.h"

#include <utility>

namespace tonvero {

void Wave::setSamples(std::vector<int16_t> newSamples) {
    // A device buffer made from the old samples would play stale sound.
    deviceBuffer.reset();
    samples = std::move(newSamples);
    sampleCount = static_cast<uint32_t>(samples.size());
}

}  // namespace tonvero
