#include "bank/ByteReader.h"

#include "bank/FileUtil.h"

#include <cstring>

namespace tonvero {

bool ByteReader::take(size_t count) {
    if (failed_ || count > size_ - pos_) {
        failed_ = true;
        return false;
    }
    return true;
}

uint8_t ByteReader::u8() {
    if (!take(1)) return 0;
    return data_[pos_++];
}

uint16_t ByteReader::u16() {
    if (!take(2)) return 0;
    const uint8_t* p = data_ + pos_;
    pos_ += 2;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ByteReader::u32() {
    if (!take(4)) return 0;
    const uint8_t* p = data_ + pos_;
    pos_ += 4;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool ByteReader::peekU32(uint32_t& value) const {
    if (failed_ || size_ - pos_ < 4) return false;
    const uint8_t* p = data_ + pos_;
    value = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
            (static_cast<uint32_t>(p[3]) << 24);
    return true;
}

bool ByteReader::bytes(void* out, size_t count) {
    if (!take(count)) return false;
    if (count > 0) std::memcpy(out, data_ + pos_, count);
    pos_ += count;
    return true;
}

std::string ByteReader::text(size_t count) {
    if (!take(count)) return {};
    const char* p = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += count;
    const void* nul = count > 0 ? std::memchr(p, 0, count) : nullptr;
    return std::string(p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : count);
}

const uint8_t* ByteReader::view(size_t count) {
    if (!take(count)) return nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += count;
    return p;
}

void ByteReader::release(const uint8_t* from, size_t count) const {
    if (mapping_) mapping_->release(from, count);
}

bool ByteReader::skip(size_t count) {
    if (!take(count)) return false;
    pos_ += count;
    return true;
}

}  // namespace tonvero
