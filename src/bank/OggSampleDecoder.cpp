#include "bank/OggSampleDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tonvero {
namespace {

constexpr size_t kPageHeaderBytes = 27;
constexpr uint8_t kFirstPage = 0x02;
constexpr uint8_t kLastPage = 0x04;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, most significant
// bit first, starting from 0, over the page with its checksum field as zeros.
constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        table[i] = r;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

uint32_t pageChecksum(const uint8_t* page, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = (i >= 22 && i < 26) ? 0 : page[i];
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ byte) & 0xFF];
    }
    return crc;
}

// The stream in memory as libsndfile's virtual file.
struct MemoryFile {
    std::span<const uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(file.bytes.size());
    const sf_count_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? size : 0;
    file.position = std::clamp<sf_count_t>(base + offset, 0, size);
    return file.position;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(file.bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, size - file.position);
    if (n > 0) std::memcpy(destination, file.bytes.data() + file.position, static_cast<size_t>(n));
    file.position += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

}  // namespace

bool OggSampleDecoder::checkPages(std::span<const uint8_t> stream, uint64_t& lastGranule, std::string& error) {
    size_t at = 0;
    uint32_t serial = 0, sequence = 0;
    for (size_t page = 1;; ++page) {
        const std::string which = "page " + std::to_string(page);
        const size_t left = stream.size() - at;
        if (left < kPageHeaderBytes) {
            error = left == 0 && page == 1 ? "is empty" : "is cut short in " + which;
            return false;
        }
        const uint8_t* p = stream.data() + at;
        if (std::memcmp(p, "OggS", 4) != 0) {
            error = page == 1 ? "is not an Ogg stream"
                              : "has no " + which + " where page " + std::to_string(page - 1) + " ends";
            return false;
        }
        if (p[4] != 0) {
            error = "has " + which + " of an unknown Ogg version " + std::to_string(p[4]);
            return false;
        }
        const uint8_t flags = p[5];
        const size_t segments = p[26];
        if (left < kPageHeaderBytes + segments) {
            error = "is cut short in " + which;
            return false;
        }
        size_t body = 0;
        for (size_t s = 0; s < segments; ++s) body += p[kPageHeaderBytes + s];
        const size_t size = kPageHeaderBytes + segments + body;
        if (left < size) {
            error = "is cut short in " + which;
            return false;
        }
        if (pageChecksum(p, size) != le32(p + 22)) {
            error = "fails the checksum of " + which;
            return false;
        }
        const bool first = (flags & kFirstPage) != 0;
        if (first != (page == 1) || (page > 1 && (le32(p + 14) != serial || le32(p + 18) != sequence + 1))) {
            error = "has " + which + " out of its stream's order";
            return false;
        }
        serial = le32(p + 14);
        sequence = le32(p + 18);
        at += size;
        if ((flags & kLastPage) != 0) {
            lastGranule = le64(p + 6);
            if (std::any_of(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end(),
                            [](uint8_t b) { return b != 0; })) {
                error = "has data after the last page of its stream";
                return false;
            }
            return true;
        }
    }
}

bool OggSampleDecoder::decode(std::span<const uint8_t> stream, std::vector<int16_t>& out, std::string& error,
                              uint64_t mostFrames) {
    mostFrames = std::min(mostFrames, kMostFrames);
    uint64_t frames = 0;
    if (!checkPages(stream, frames, error)) return false;
    if (frames > mostFrames) {
        error = "claims " + std::to_string(frames) + " samples, more than the " + std::to_string(mostFrames) +
                " it may hold";
        return false;
    }

    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile file{stream, 0};
    SF_INFO info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sound) {
        error = std::string("cannot be decoded (") + sf_strerror(nullptr) + ")";
        return false;
    }
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_OGG || info.channels < 1) {
        sf_close(sound);
        error = "is not a sound in an Ogg stream";
        return false;
    }
    sf_command(sound, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    const size_t channels = static_cast<size_t>(info.channels);
    constexpr size_t kChunkFrames = 1024;
    std::vector<float> chunk(kChunkFrames * channels);
    std::vector<int16_t> decoded;
    decoded.reserve(static_cast<size_t>(frames));
    bool tooLong = false;
    for (;;) {
        const sf_count_t got = sf_readf_float(sound, chunk.data(), static_cast<sf_count_t>(kChunkFrames));
        if (got <= 0) break;
        if (decoded.size() + static_cast<uint64_t>(got) > mostFrames) {
            tooLong = true;
            break;
        }
        for (size_t f = 0; f < static_cast<size_t>(got); ++f) {
            double sum = 0;
            for (size_t c = 0; c < channels; ++c) sum += chunk[f * channels + c];
            const double value = std::round(sum / static_cast<double>(channels) * 32768.0);
            decoded.push_back(static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0)));
        }
    }
    const int failure = sf_error(sound);
    const std::string failureText = failure != SF_ERR_NO_ERROR ? sf_strerror(sound) : "";
    sf_close(sound);
    if (tooLong) {
        error = "decodes to more than the " + std::to_string(mostFrames) + " samples it may hold";
        return false;
    }
    if (failure != SF_ERR_NO_ERROR) {
        error = "cannot be decoded (" + failureText + ")";
        return false;
    }
    if (decoded.empty()) {
        error = "decodes to no sound";
        return false;
    }
    out.insert(out.end(), decoded.begin(), decoded.end());
    return true;
}

}  // namespace tonvero
