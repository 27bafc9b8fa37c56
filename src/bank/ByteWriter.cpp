#include "bank/ByteWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tonvero {

void ByteWriter::u16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
    gathered();
}

void ByteWriter::u32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out_.push_back(static_cast<uint8_t>(v >> shift));
    gathered();
}

void ByteWriter::bytes(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + count);
    gathered();
}

void ByteWriter::samples(std::span<const int16_t> values) {
    // In pieces, so that a sink never waits for a whole block to gather.
    constexpr size_t kPieceSamples = kPieceBytes / 2;
    for (size_t first = 0; first < values.size(); first += kPieceSamples) {
        const std::span<const int16_t> piece = values.subspan(first, std::min(kPieceSamples, values.size() - first));
        const size_t at = out_.size();
        out_.resize(at + 2 * piece.size());
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out_.data() + at, piece.data(), 2 * piece.size());
        } else {
            for (size_t i = 0; i < piece.size(); ++i) {
                const auto v = static_cast<uint16_t>(piece[i]);
                out_[at + 2 * i] = static_cast<uint8_t>(v);
                out_[at + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        gathered();
    }
}

bool ByteWriter::finish() {
    if (!sink_) return true;
    if (!failed_ && !out_.empty() && !sink_(out_.data(), out_.size())) failed_ = true;
    out_.clear();
    return !failed_;
}

}  // namespace tonvero
