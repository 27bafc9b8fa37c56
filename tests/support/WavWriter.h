#pragma once
// Builds RIFF WAVE files in memory for tests: whole PCM files in one call, or
// chunk by chunk for damaged and unusual files (short "fmt " chunks, odd
// bodies, chunks in any order, a RIFF size that lies).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonvero::test {

class WavWriter {
public:
    // A complete PCM file: a 16-byte "fmt " chunk, then the "data" chunk.
    static std::vector<uint8_t> pcm16(const std::vector<int16_t>& values, uint16_t channels, uint32_t rate);
    static std::vector<uint8_t> pcm8(const std::vector<uint8_t>& bytes, uint16_t channels, uint32_t rate);

    // An "fmt " chunk whose body has `bodySize` bytes of the WAVEFORMATEX
    // layout: cut short below 16 (14: no bits-per-sample field) and, from 18
    // on, with an extra-size field of bodySize - 18 followed by zero bytes.
    // Block alignment and byte rate are derived from channels and bits.
    WavWriter& fmt(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t bodySize = 16);
    // A 40-byte extensible "fmt " chunk with the PCM sub-format, or another one.
    WavWriter& fmtExtensible(uint16_t channels, uint32_t rate, uint16_t bits, bool pcmSubFormat = true);
    WavWriter& data8(const std::vector<uint8_t>& bytes) { return chunk("data", bytes); }
    WavWriter& data16(const std::vector<int16_t>& values);
    // Any chunk; an odd body is followed by one pad byte. `claimedSize`
    // replaces the size field (the body written stays `body`).
    WavWriter& chunk(std::string_view id, const std::vector<uint8_t>& body,
                     std::optional<uint32_t> claimedSize = std::nullopt);
    // Replaces the RIFF size field (otherwise the true size, file length - 8).
    WavWriter& riffSize(uint32_t size);

    std::vector<uint8_t> image() const;

private:
    std::vector<uint8_t> chunks_;
    std::optional<uint32_t> riffSize_;
};

// Writes `bytes` to `path`; false when the file cannot be written whole.
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// The contents of `path`, empty when it cannot be read.
std::vector<uint8_t> readFileBytes(const std::string& path);
// A path named `name` in a fresh directory made for this test process.
std::string tempPath(const std::string& name);

}  // namespace tonvero::test
