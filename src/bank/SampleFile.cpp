#include "bank/SampleFile.h"

#include "bank/FileUtil.h"
#include "bank/OggSampleDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tonvero {
namespace {

using SoundFile = std::unique_ptr<SNDFILE, decltype(&sf_close)>;

// Frames read per call: a bounded buffer whatever the channel count.
constexpr size_t kChunkValues = 1 << 16;
// Reserved before decoding at most this many frames (a header may lie).
constexpr size_t kMostReserved = size_t{1} << 22;

// libsndfile's Vorbis decoder leaks its state on a stream cut short or
// changed, so an Ogg file's pages are checked first (as a SoundFont 3's
// compressed samples are). Empty when it is sound, else why not. Files that
// do not start with "OggS" pass.
std::string checkOggPages(const std::string& path) {
    const std::unique_ptr<MappedFile> file = MappedFile::open(path, SIZE_MAX);
    if (!file || file->size() < 4 || std::memcmp(file->data(), "OggS", 4) != 0) return {};
    uint64_t frames = 0;
    std::string error;
    if (OggSampleDecoder::checkPages({file->data(), file->size()}, frames, error)) return {};
    return "is a damaged Ogg stream: it " + error;
}

// splitmix64: small, fast and the same on every platform and library.
class DitherNoise {
public:
    explicit DitherNoise(uint64_t seed) : state_(seed) {}
    // Triangular noise on (-1, 1): the sum of two uniform values minus one.
    double next() { return uniform() + uniform() - 1.0; }

private:
    double uniform() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
    uint64_t state_;
};

// A normalised value (±1 full scale) as a 16-bit sample: clipped, values on
// the 16-bit grid exactly, others dithered (or rounded when `noise` is null).
int16_t toSample16(double value, DitherNoise* noise) {
    if (std::isnan(value)) value = 0;
    double scaled = std::clamp(value, -1.0, 1.0) * 32768.0;
    if (scaled != std::floor(scaled)) {
        if (noise) scaled += noise->next();
        scaled = std::round(scaled);
    }
    return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

// Whether libsndfile's 16-bit reading of this encoding loses bits.
bool hasMoreThan16Bits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_DWVW_N:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III: return true;
    default: return false;
    }
}

std::string formatName(int format) {
    std::string name;
    for (int part : {format & SF_FORMAT_TYPEMASK, format & SF_FORMAT_SUBMASK}) {
        SF_FORMAT_INFO info{};
        info.format = part;
        if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
            if (!name.empty()) name += ' ';
            name += info.name;
        }
    }
    return name;
}

// The file's root note and first usable loop, from its instrument data.
void readInstrument(SNDFILE* file, SampleFile& sound) {
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE) return;
    // A root of 0 is what writers leave when they set none.
    const int root = static_cast<unsigned char>(instrument.basenote);
    if (root > 0 && root <= 127) {
        sound.rootKey = root;
        sound.detuneCents = static_cast<signed char>(instrument.detune);
    }
    const int loops = std::clamp(instrument.loop_count, 0, static_cast<int>(std::size(instrument.loops)));
    for (int i = 0; i < loops; ++i) {
        const auto& loop = instrument.loops[i];
        if (loop.mode == SF_LOOP_NONE || loop.start >= loop.end || loop.end > sound.frames) continue;
        sound.loop = SampleFileLoop{static_cast<int32_t>(loop.start), static_cast<int32_t>(loop.end - 1)};
        return;
    }
}

}  // namespace

SampleFileResult readSampleFile(const std::string& path, const SampleFileOptions& options) {
    SampleFileResult result;
    if (std::string damage = checkOggPages(path); !damage.empty()) {
        result.error = std::move(damage);
        return result;
    }
    SF_INFO info{};
    SoundFile file(sf_open(path.c_str(), SFM_READ, &info), &sf_close);
    if (!file) {
        result.error = std::string("cannot be opened (") + sf_strerror(nullptr) + ")";
        return result;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        result.error = "has no channels or no sample rate";
        return result;
    }
    if (info.frames <= 0) {
        result.error = "has no frames";
        return result;
    }
    if (static_cast<uint64_t>(info.frames) > options.mostFrames) {
        result.error = "claims " + std::to_string(info.frames) + " frames, more than the " +
                       std::to_string(options.mostFrames) + " a sample may hold";
        return result;
    }

    SampleFile& sound = result.sound;
    sound.channels = info.channels;
    sound.sampleRate = info.samplerate;
    sound.format = formatName(info.format);
    sound.dithered = hasMoreThan16Bits(info.format) && options.dither;
    sound.mixedDown = info.channels > 2;
    const bool stereo = info.channels == 2;
    const size_t channels = static_cast<size_t>(info.channels);
    const size_t reserve = std::min(static_cast<size_t>(info.frames), kMostReserved);
    sound.mono.reserve(reserve);
    if (stereo) {
        sound.left.reserve(reserve);
        sound.right.reserve(reserve);
    }

    const size_t chunkFrames = std::max<size_t>(1, kChunkValues / channels);
    bool tooLong = false;
    if (hasMoreThan16Bits(info.format)) {
        sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
        DitherNoise monoNoise(options.ditherSeed), leftNoise(options.ditherSeed ^ 0x6c656674ULL),
            rightNoise(options.ditherSeed ^ 0x7269676874ULL);
        DitherNoise* mono = options.dither ? &monoNoise : nullptr;
        DitherNoise* left = options.dither ? &leftNoise : nullptr;
        DitherNoise* right = options.dither ? &rightNoise : nullptr;
        std::vector<double> chunk(chunkFrames * channels);
        for (;;) {
            const sf_count_t got = sf_readf_double(file.get(), chunk.data(), static_cast<sf_count_t>(chunkFrames));
            if (got <= 0) break;
            if (sound.mono.size() + static_cast<uint64_t>(got) > options.mostFrames) {
                tooLong = true;
                break;
            }
            for (size_t f = 0; f < static_cast<size_t>(got); ++f) {
                const double* frame = chunk.data() + f * channels;
                double sum = 0;
                for (size_t c = 0; c < channels; ++c)
                    sum += std::clamp(std::isnan(frame[c]) ? 0.0 : frame[c], -1.0, 1.0);
                sound.mono.push_back(toSample16(sum / static_cast<double>(channels), mono));
                if (stereo) {
                    sound.left.push_back(toSample16(frame[0], left));
                    sound.right.push_back(toSample16(frame[1], right));
                }
            }
        }
    } else {
        std::vector<int16_t> chunk(chunkFrames * channels);
        for (;;) {
            const sf_count_t got = sf_readf_short(file.get(), chunk.data(), static_cast<sf_count_t>(chunkFrames));
            if (got <= 0) break;
            if (sound.mono.size() + static_cast<uint64_t>(got) > options.mostFrames) {
                tooLong = true;
                break;
            }
            for (size_t f = 0; f < static_cast<size_t>(got); ++f) {
                const int16_t* frame = chunk.data() + f * channels;
                if (channels == 1) {
                    sound.mono.push_back(frame[0]);
                    continue;
                }
                int64_t sum = 0;
                for (size_t c = 0; c < channels; ++c) sum += frame[c];
                sound.mono.push_back(
                    static_cast<int16_t>(std::lround(static_cast<double>(sum) / static_cast<double>(channels))));
                if (stereo) {
                    sound.left.push_back(frame[0]);
                    sound.right.push_back(frame[1]);
                }
            }
        }
    }

    if (tooLong) {
        result = SampleFileResult{};
        result.error = "decodes to more than the " + std::to_string(options.mostFrames) + " frames a sample may hold";
        return result;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        const std::string why = sf_strerror(file.get());
        result = SampleFileResult{};
        result.error = "is damaged (" + why + ")";
        return result;
    }
    if (sound.mono.empty()) {
        result = SampleFileResult{};
        result.error = "has no frames";
        return result;
    }
    sound.frames = static_cast<uint32_t>(sound.mono.size());
    readInstrument(file.get(), sound);
    return result;
}

}  // namespace tonvero
