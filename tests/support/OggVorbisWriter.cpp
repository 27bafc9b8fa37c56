#include "OggVorbisWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tonvero::test {
namespace {

// A file in memory that libsndfile writes (and reads back while it writes the headers).
struct MemoryFile {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

MemoryFile& fileOf(void* user) { return *static_cast<MemoryFile*>(user); }

sf_count_t length(void* user) { return static_cast<sf_count_t>(fileOf(user).bytes.size()); }

sf_count_t seek(sf_count_t offset, int whence, void* user) {
    MemoryFile& f = fileOf(user);
    const sf_count_t base = whence == SEEK_CUR ? f.position : whence == SEEK_END ? length(user) : 0;
    f.position = std::max<sf_count_t>(0, base + offset);
    return f.position;
}

sf_count_t read(void* destination, sf_count_t count, void* user) {
    MemoryFile& f = fileOf(user);
    const sf_count_t n = std::clamp<sf_count_t>(length(user) - f.position, 0, count);
    if (n > 0) std::memcpy(destination, f.bytes.data() + f.position, static_cast<size_t>(n));
    f.position += n;
    return n;
}

sf_count_t write(const void* source, sf_count_t count, void* user) {
    MemoryFile& f = fileOf(user);
    const size_t end = static_cast<size_t>(f.position + count);
    if (f.bytes.size() < end) f.bytes.resize(end);
    std::memcpy(f.bytes.data() + f.position, source, static_cast<size_t>(count));
    f.position += count;
    return count;
}

sf_count_t tell(void* user) { return fileOf(user).position; }

}  // namespace

std::vector<uint8_t> OggVorbisWriter::encode(const std::vector<int16_t>& samples, int32_t rate, double quality) {
    SF_VIRTUAL_IO io{length, seek, read, write, tell};
    MemoryFile file;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* sound = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!sound) return {};
    sf_command(sound, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    const sf_count_t written = sf_write_short(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
    if (written != static_cast<sf_count_t>(samples.size())) return {};
    return file.bytes;
}

}  // namespace tonvero::test
