#include "WavWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tonvero::test {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<uint8_t> formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    const auto blockAlign = static_cast<uint16_t>(channels * (bits / 8));
    std::vector<uint8_t> body;
    put16(body, tag);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * blockAlign);
    put16(body, blockAlign);
    put16(body, bits);
    return body;
}

}  // namespace

std::vector<uint8_t> WavWriter::pcm16(const std::vector<int16_t>& values, uint16_t channels, uint32_t rate) {
    return WavWriter().fmt(1, channels, rate, 16).data16(values).image();
}

std::vector<uint8_t> WavWriter::pcm8(const std::vector<uint8_t>& bytes, uint16_t channels, uint32_t rate) {
    return WavWriter().fmt(1, channels, rate, 8).data8(bytes).image();
}

WavWriter& WavWriter::fmt(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t bodySize) {
    std::vector<uint8_t> body = formatBody(formatTag, channels, rate, bits);
    if (bodySize >= 18) {
        put16(body, static_cast<uint16_t>(bodySize - 18));
        body.resize(bodySize, 0);
    } else {
        body.resize(bodySize, 0);
    }
    return chunk("fmt ", body);
}

WavWriter& WavWriter::fmtExtensible(uint16_t channels, uint32_t rate, uint16_t bits, bool pcmSubFormat) {
    std::vector<uint8_t> body = formatBody(0xFFFE, channels, rate, bits);
    put16(body, 22);                       // extension size
    put16(body, bits);                     // valid bits per sample
    put32(body, channels == 2 ? 3u : 4u);  // channel mask
    const uint8_t guid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.insert(body.end(), std::begin(guid), std::end(guid));
    if (!pcmSubFormat) body[24] = 0x03;  // IEEE float
    return chunk("fmt ", body);
}

WavWriter& WavWriter::data16(const std::vector<int16_t>& values) {
    std::vector<uint8_t> body;
    for (int16_t v : values) put16(body, static_cast<uint16_t>(v));
    return chunk("data", body);
}

WavWriter& WavWriter::chunk(std::string_view id, const std::vector<uint8_t>& body,
                            std::optional<uint32_t> claimedSize) {
    if (id.size() != 4) throw std::invalid_argument("a chunk identifier has 4 characters");
    chunks_.insert(chunks_.end(), id.begin(), id.end());
    put32(chunks_, claimedSize.value_or(static_cast<uint32_t>(body.size())));
    chunks_.insert(chunks_.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) chunks_.push_back(0);
    return *this;
}

WavWriter& WavWriter::riffSize(uint32_t size) {
    riffSize_ = size;
    return *this;
}

std::vector<uint8_t> WavWriter::image() const {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put32(out, riffSize_.value_or(static_cast<uint32_t>(4 + chunks_.size())));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), chunks_.begin(), chunks_.end());
    return out;
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file.flush());
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string tempPath(const std::string& name) {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tonvero-test-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
        static std::string made;
        made = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return pattern;
    }();
    return dir + "/" + name;
}

}  // namespace tonvero::test
