#pragma once
// Reads a SoundFont 2 or 3 file (RIFF form "sfbk") into Sf2Font records.
//
// Every chunk size, record count, bag, generator, instrument and sample index
// and every sample header's extent is checked against the file before it is
// used; a file that fails a check is refused with a message naming the fault.
// The compressed samples of a SoundFont 3 file (sample type bit 0x10: an Ogg
// Vorbis stream in the sample data) are decoded into 16-bit mono samples
// added to Sf2Font::sampleData (see OggSampleDecoder.h); damaged compressed
// data is refused like any other damage. Loop points are not checked here:
// the importer decides whether a loop can be played.
//
// Threads: no shared state; any thread may call these.

#include "bank/Sf2Font.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tonvero {

class Sf2Reader {
public:
    // Parses the bytes of a whole file. On success fills `font` and returns
    // true; otherwise returns false with `error` set and `font` unchanged.
    static bool parse(std::span<const uint8_t> bytes, Sf2Font& font, std::string& error);
    // Reads the file at `path` and parses it; a file that cannot be opened or
    // read is refused with a message, like a damaged one.
    static bool readFile(const std::string& path, Sf2Font& font, std::string& error);
};

}  // namespace tonvero
