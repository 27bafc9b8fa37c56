#pragma once
// Appends little-endian fields to a growing byte image (a file written in
// memory and then stored in one go).
//
// Threads: one writer belongs to one caller.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace tonvero {

class ByteWriter {
public:
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void bytes(const void* data, size_t count);
    void text(std::string_view s) { bytes(s.data(), s.size()); }

    size_t size() const { return out_.size(); }
    const std::vector<uint8_t>& data() const { return out_; }
    std::vector<uint8_t> take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
};

}  // namespace tonvero
