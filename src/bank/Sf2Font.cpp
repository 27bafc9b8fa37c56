#include "bank/Sf2Font.h"

#include "bank/FileUtil.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace tonvero {

namespace {

int16_t le16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }

}  // namespace

int16_t Sf2SampleData::operator[](size_t i) const {
    const size_t plain = plain_.size() / 2;
    return i < plain ? le16(plain_.data() + 2 * i) : decoded_[i - plain];
}

void Sf2SampleData::read(size_t start, size_t count, int16_t* out) const {
    const size_t plain = plain_.size() / 2;
    size_t i = start;
    const size_t end = start + count;
    if (i < plain) {
        const size_t stop = std::min(end, plain);
        const uint8_t* p = plain_.data() + 2 * i;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, p, 2 * (stop - i));
            out += stop - i;
            i = stop;
        } else {
            for (; i < stop; ++i, p += 2) *out++ = le16(p);
        }
    }
    if (i < end)
        std::copy(decoded_.begin() + static_cast<ptrdiff_t>(i - plain),
                  decoded_.begin() + static_cast<ptrdiff_t>(end - plain), out);
}

void Sf2SampleData::release(size_t start, size_t end) const {
    const size_t plain = plain_.size() / 2;
    if (!mapping_ || start >= std::min(end, plain)) return;
    mapping_->release(plain_.data() + 2 * start, 2 * (std::min(end, plain) - start));
}

void Sf2SampleData::setPlain(std::span<const uint8_t> bytes, std::shared_ptr<const void> owner,
                             const MappedFile* mapping) {
    plain_ = bytes;
    owner_ = std::move(owner);
    mapping_ = mapping;
}

}  // namespace tonvero
