#pragma once
// Appends little-endian fields to a growing byte image: a file written in
// memory and then stored in one go, or, given a sink, a file written as it
// goes (the bytes are handed to the sink whenever a piece has gathered, so a
// large file never needs its whole image in memory).
//
// Threads: one writer belongs to one caller.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace tonvero {

// Takes the next bytes of a file; false when they could not be written.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(ByteSink sink) : sink_(std::move(sink)) {}

    void u8(uint8_t v) {
        out_.push_back(v);
        gathered();
    }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void bytes(const void* data, size_t count);
    void text(std::string_view s) { bytes(s.data(), s.size()); }
    // Signed 16-bit samples, two bytes each.
    void samples(std::span<const int16_t> values);

    // Without a sink: the image so far. With one: what has not been handed on yet.
    size_t size() const { return out_.size(); }
    const std::vector<uint8_t>& data() const { return out_; }
    std::vector<uint8_t> take() { return std::move(out_); }
    // Hands the rest to the sink; whether every byte was taken.
    bool finish();

private:
    // A piece this large goes to the sink.
    static constexpr size_t kPieceBytes = size_t{1} << 20;
    void gathered() {
        if (sink_ && out_.size() >= kPieceBytes) finish();
    }

    std::vector<uint8_t> out_;
    ByteSink sink_;
    bool failed_ = false;
};

}  // namespace tonvero
