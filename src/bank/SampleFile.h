#pragma once
// Reads a sound file of any kind libsndfile reads (WAV of 8, 16, 24 or 32
// bits or float, AIFF, FLAC, Ogg Vorbis, Opus, MP3...) into the 16-bit
// samples a Wave holds, with what the file says about its own loop and root
// note, for the Instrument Editor's sample import.
//
//  - Sources of at most 16 bits (8/16-bit PCM, 16-bit FLAC, the ADPCM and
//    law codecs) are read as libsndfile gives them in 16 bits, exactly: an
//    8-bit value v becomes v·256.
//  - Sources of more bits (24/32-bit PCM, float, double, the lossy codecs,
//    which decode to float) are scaled to 16 bits with TPDF dither of ±1 LSB:
//    the quantisation error is then noise, not distortion on quiet passages
//    and tails. Values already on the 16-bit grid (silence, a 24-bit file of
//    16-bit material) are kept as they are. The dither comes from a generator
//    with a fixed seed per file, so the same file always reads to the same
//    samples. Float values beyond ±1 are clipped.
//  - The mono mix is the average of all channels: it cannot clip, and a
//    stereo file of two equal channels mixes to that channel exactly (for
//    16-bit sources rounded to nearest, halves away from zero; deeper ones
//    averaged before they are dithered). A stereo file also gives its left
//    and right channels, so the caller can offer a mono mix or a linked
//    stereo pair; a file of more than two channels gives the mix alone and
//    says so (mixedDown).
//  - Loop and root note from the file's instrument data (a WAV "smpl" chunk,
//    AIFF INST/MARK chunks), through SFC_GET_INSTRUMENT, the first loop that
//    lies inside the samples (any direction: the bank plays loops forward).
//    libsndfile gives a loop's end one past its last sample: it adds one to
//    the "smpl" chunk's inclusive end, and an AIFF end marker sits after the
//    loop's last sample. So loopEnd here is that minus one, the last sample of
//    the loop, inclusive, as the bank keeps it. A root of 0 counts as none
//    (writers leave it so).
//  - An Ogg file is checked page by page before libsndfile decodes it (each
//    page whole with its checksum right, the last one ending the stream):
//    libsndfile's Vorbis decoder leaks its state on a damaged stream.
//
// A file that cannot be read, has no frames, claims or decodes to more than
// the frames allowed, or is damaged gives an error text and no samples.
//
// Threads: no shared state; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tonvero {

// What the editor says when a sample file cannot be imported.
constexpr const char* kUnreadableSampleFileMessage = "Unable to read this wav file!";

struct SampleFileOptions {
    // Files claiming or decoding to more frames are refused (2^31: a Wave's
    // loop points are 32-bit signed).
    uint64_t mostFrames = uint64_t{1} << 31;
    // The dither generator's seed; the default is fixed so imports repeat.
    uint64_t ditherSeed = 0x746f6e7665726fULL;
    // Off: sources of more than 16 bits are rounded to nearest instead.
    bool dither = true;
};

struct SampleFileLoop {
    int32_t begin = 0;  // first sample of the loop
    int32_t end = 0;    // last sample of the loop, inclusive
};

struct SampleFile {
    int32_t channels = 0;                // of the file
    int32_t sampleRate = 0;              // Hz
    uint32_t frames = 0;                 // samples per channel, mono.size()
    std::string format;                  // the file's kind, e.g. "WAV (Microsoft) Signed 24 bit PCM"
    bool dithered = false;               // the source had more than 16 bits and was dithered down
    bool mixedDown = false;              // more than two channels, mixed into mono only
    std::vector<int16_t> mono;           // the average of all channels
    std::vector<int16_t> left, right;    // stereo files only; empty otherwise
    std::optional<SampleFileLoop> loop;  // the file's first loop, inside the samples
    std::optional<int32_t> rootKey;      // MIDI key 0..127 the samples sound at
    int32_t detuneCents = 0;             // cents above rootKey (WAV files: 0..99)
};

struct SampleFileResult {
    std::string error;  // empty when the file was read; else why not (a phrase, e.g. "has no frames")
    SampleFile sound;   // empty on error
    bool ok() const { return error.empty(); }
};

// Reads the sound file at `path` (see above).
SampleFileResult readSampleFile(const std::string& path, const SampleFileOptions& options = {});

}  // namespace tonvero
