#include "bank/WaveImport.h"

#include "bank/ByteReader.h"
#include "bank/FileUtil.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tonvero {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The sub-format GUID of extensible PCM: 00000001-0000-0010-8000-00aa00389b71.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kMinFmtBytes = 14;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// Reads the body of an "fmt " chunk of `bodySize` bytes at `start`. Bodies of
// 14 or 15 bytes are the old WAVEFORMAT record without a bits-per-sample
// field: the sample size is then the block alignment per channel. Returns
// false when the body is not all inside the image or is not PCM.
bool readFormat(const uint8_t* image, size_t size, size_t start, uint32_t bodySize, WaveFormat& format) {
    if (start > size) return false;
    ByteReader in(image + start, std::min<size_t>(bodySize, size - start));
    if (in.size() < bodySize) return false;  // the chunk runs past the end of the file

    format.formatTag = in.u16();
    format.channels = in.u16();
    format.samplesPerSec = in.u32();
    format.avgBytesPerSec = in.u32();
    format.blockAlign = in.u16();
    if (bodySize >= 16) {
        format.bitsPerSample = in.u16();
    } else if (format.channels > 0 && format.blockAlign % format.channels == 0) {
        format.bitsPerSample = static_cast<uint16_t>(format.blockAlign / format.channels * 8);
    } else {
        format.bitsPerSample = 0;
    }
    format.extraSize = bodySize >= 18 ? in.u16() : 0;
    if (!in.ok()) return false;

    if (format.formatTag == kFormatExtensible) {
        // cbSize 22: valid bits (2), channel mask (4), sub-format GUID (16).
        if (format.extraSize < 22 || bodySize < 40) return false;
        in.skip(6);
        const uint8_t* guid = in.view(16);
        if (!guid || std::memcmp(guid, kPcmSubFormat, 16) != 0) return false;
        // The samples are plain PCM; the extension describes nothing the bank keeps.
        format.formatTag = kFormatPcm;
        format.extraSize = 0;
    }
    return format.formatTag == kFormatPcm;
}

}  // namespace

int findWaveChunks(const uint8_t* image, size_t size, size_t* fmtStart, size_t* dataStart, uint32_t* dataSize) {
    if (fmtStart) *fmtStart = 0;
    if (dataStart) *dataStart = 0;
    if (dataSize) *dataSize = 0;
    if (size < 12 || !isId(image, "RIFF") || !isId(image + 8, "WAVE")) return 0;

    const uint64_t claimedEnd = 8 + static_cast<uint64_t>(le32(image + 4));
    if (claimedEnd <= 12) return 0;
    // The walk never goes past the real end of the image.
    const uint64_t end = std::min<uint64_t>(claimedEnd, size);

    const bool wantFmt = fmtStart != nullptr;
    const bool wantData = dataStart != nullptr || dataSize != nullptr;
    bool foundFmt = false;
    bool foundData = false;
    uint64_t chunk = 12;
    while (chunk < end && chunk + 8 <= size) {
        const uint8_t* header = image + chunk;
        const uint32_t bodySize = le32(header + 4);
        const uint64_t body = chunk + 8;
        if (wantFmt && !foundFmt && isId(header, "fmt ")) {
            if (bodySize < kMinFmtBytes) return 0;
            *fmtStart = static_cast<size_t>(body);
            foundFmt = true;
            if (!wantData || foundData) return 1;
        } else if (wantData && !foundData && isId(header, "data")) {
            const uint64_t available = size > body ? size - body : 0;
            if (dataStart) *dataStart = static_cast<size_t>(body);
            if (dataSize) *dataSize = static_cast<uint32_t>(std::min<uint64_t>(bodySize, available));
            foundData = true;
            if (!wantFmt || foundFmt) return 1;
        }
        chunk = body + bodySize + (bodySize & 1u);  // bodies are padded to an even length
    }
    return 0;
}

int loadWaveImage(Wave& wave, const uint8_t* image, size_t size, const std::string& path) {
    size_t fmtStart = 0;
    size_t dataStart = 0;
    uint32_t dataSize = 0;
    if (!findWaveChunks(image, size, &fmtStart, &dataStart, &dataSize)) return 0;

    WaveFormat format;
    if (!readFormat(image, size, fmtStart, le32(image + fmtStart - 4), format)) return 0;
    if (format.channels == 0) return 0;

    // Copied value by value into the Wave's own aligned storage: the data
    // chunk may start at any byte offset of the file.
    const uint8_t* data = image + dataStart;
    std::vector<int16_t> values;
    if (format.bitsPerSample == 8) {
        values.assign(data, data + dataSize);
    } else {
        values.resize(dataSize / 2);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<int16_t>(static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
    }

    wave.setSamples(std::move(values));
    wave.format = format;
    wave.frequency = format.samplesPerSec;
    wave.name = path;
    return 1;
}

int loadWaveFile(Wave& wave, const std::string& path) {
    if (fileLength(path) < 0) return 0;
    std::vector<uint8_t> image;
    if (!readWholeFile(path, image)) return 0;
    return loadWaveImage(wave, image.data(), image.size(), path);
}

void convertToMono16(Wave& wave) {
    const WaveFormat old = wave.format;
    const bool eightBit = old.bitsPerSample == 8;
    if (!eightBit && old.channels != 2) return;  // already 16-bit mono, or nothing this can convert

    WaveFormat format = old;
    format.channels = 1;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.avgBytesPerSec = old.samplesPerSec * 2;
    format.extraSize = 0;

    const SampleData& in = wave.samples;
    std::vector<int16_t> out;
    if (eightBit && old.channels == 1) {
        out.resize(in.size());
        for (size_t i = 0; i < in.size(); ++i) out[i] = static_cast<int16_t>((in[i] - 128) * 256);
    } else if (old.channels == 2) {
        // Frame sums first, then one gain for the whole Wave if any sum is too loud.
        std::vector<int32_t> sums(in.size() / 2);
        int32_t greatest = 0;
        int32_t smallest = 0;
        for (size_t f = 0; f < sums.size(); ++f) {
            const int32_t left = in[2 * f];
            const int32_t right = in[2 * f + 1];
            sums[f] = eightBit ? (left + right - 256) * 256 : left + right;
            greatest = std::max(greatest, sums[f]);
            smallest = std::min(smallest, sums[f]);
        }
        const int32_t peak = std::max(std::abs(greatest), std::abs(smallest));
        out.resize(sums.size());
        if (peak < 32768) {
            for (size_t f = 0; f < sums.size(); ++f) out[f] = static_cast<int16_t>(sums[f]);
        } else {
            const float gain = static_cast<float>(32767.0 / peak);
            for (size_t f = 0; f < sums.size(); ++f) {
                const auto scaled = static_cast<int32_t>(static_cast<double>(gain) * sums[f]);
                out[f] = static_cast<int16_t>(std::clamp(scaled, -32768, 32767));
            }
        }
    }
    // Any other source (8 bits claiming 0 or more than 2 channels) yields no samples.

    wave.setSamples(std::move(out));
    wave.format = format;
}

}  // namespace tonvero
