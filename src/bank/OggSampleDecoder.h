#pragma once
// Decodes one compressed sample of a SoundFont 3 file: a whole Ogg stream
// (Ogg Vorbis, or any other codec in an Ogg stream that libsndfile decodes),
// read from memory through libsndfile, into 16-bit mono samples.
//
// Before anything is decoded the stream's pages are checked: each must start
// where the one before it ends, carry a valid checksum, belong to the one
// stream that the first page begins and follow its page sequence, and the
// stream must end with its last page inside the bytes given (zero bytes after
// it are allowed as padding). A damaged stream (cut short, changed bytes,
// bytes of something else) is refused with a message saying what is wrong,
// never decoded with holes. Channels beyond one are mixed into mono.
//
// Threads: no shared state; any thread.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tonvero {

class OggSampleDecoder {
public:
    // No sample of a SoundFont decodes to more than this many frames (25 minutes at 44.1 kHz).
    static constexpr uint64_t kMostFrames = uint64_t{1} << 26;

    // Appends the decoded sound of `stream` to `out` and returns true; or
    // returns false with `error` saying why it cannot be decoded (a phrase
    // such as "is cut short in page 3") and `out` unchanged. A stream that
    // claims or decodes to more than `mostFrames` frames (at most kMostFrames)
    // is refused before those are held.
    static bool decode(std::span<const uint8_t> stream, std::vector<int16_t>& out, std::string& error,
                       uint64_t mostFrames = kMostFrames);
    // Checks the page structure of `stream` as described above; on success
    // `lastGranule` is the last page's granule position (the stream's length
    // in frames), else `error` says what is wrong ("is cut short in page 3").
    static bool checkPages(std::span<const uint8_t> stream, uint64_t& lastGranule, std::string& error);
};

}  // namespace tonvero
