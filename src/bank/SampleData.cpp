#include "bank/SampleData.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tonvero {

SampleData::SampleData(const std::vector<int16_t>& values) {
    *this = make(values.size(), [&](int16_t* out) { std::copy(values.begin(), values.end(), out); });
}

SampleData SampleData::fromLittleEndian(const uint8_t* bytes, size_t count) {
    return make(count, [&](int16_t* out) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, bytes, 2 * count);
        } else {
            for (size_t i = 0; i < count; ++i)
                out[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        }
    });
}

int32_t SampleData::peakOf(const int16_t* samples, size_t count) {
    int32_t low = 0, high = 0;
    for (size_t i = 0; i < count; ++i) {
        low = std::min<int32_t>(low, samples[i]);
        high = std::max<int32_t>(high, samples[i]);
    }
    return std::max(-low, high);
}

bool operator==(const SampleData& a, const SampleData& b) {
    return a.size_ == b.size_ && (a.storage_ == b.storage_ || std::equal(a.begin(), a.end(), b.begin()));
}

}  // namespace tonvero
