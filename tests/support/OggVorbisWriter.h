#pragma once
// Encodes 16-bit mono samples as an Ogg Vorbis stream in memory through
// libsndfile, for the compressed samples of SoundFont 3 files in tests.

#include <cstdint>
#include <vector>

namespace tonvero::test {

class OggVorbisWriter {
public:
    // The Ogg Vorbis stream of `samples` at `rate` Hz, encoded at `quality`
    // (0 smallest .. 1 best); empty if libsndfile cannot encode it.
    static std::vector<uint8_t> encode(const std::vector<int16_t>& samples, int32_t rate, double quality = 0.9);
};

}  // namespace tonvero::test
