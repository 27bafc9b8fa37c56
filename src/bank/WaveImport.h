#pragma once
// Importing a RIFF WAVE file into a Wave, and turning 8-bit or stereo samples
// into the 16-bit mono samples every Wave of the bank holds.
//
// After loadWaveFile the Wave describes the file as it is: `format` holds the
// file's "fmt " values and `samples` one entry per stored value, sampleCount
// of them: for 16 bits the signed values (a stereo file's interleaved, left
// first), for 8 bits the unsigned bytes 0..255. A 16-bit mono file is then
// ready to play; any other file goes through convertToMono16 (or is refused
// by the caller) before it reaches the bank.
//
// Threads: any thread; only the given Wave is touched.

#include "bank/Wave.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tonvero {

// Reads the WAV file at `path` into `wave` (see above); `name` becomes the
// path and `frequency` the file's sample rate. Returns 1, or 0 when the file
// cannot be read, is no RIFF WAVE file, lacks an "fmt " or "data" chunk, has a
// first "fmt " chunk shorter than 14 bytes, claims 0 channels, or is not PCM
// (format tag 1, or the extensible tag with the PCM sub-format). On 0 the
// Wave is unchanged.
int loadWaveFile(Wave& wave, const std::string& path);
// The same from a file image in memory; `path` only becomes the name.
int loadWaveImage(Wave& wave, const uint8_t* image, size_t size, const std::string& path);

// Walks the chunks of a RIFF WAVE image. Each result pointer may be null (not
// requested): the offset of the first "fmt " chunk's body, the offset of the
// first "data" chunk's body, and that chunk's size in bytes, cut to the bytes
// the image really holds. Returns 1 when every requested result was found, 0
// otherwise (and also when the first "fmt " body is shorter than 14 bytes).
// Every chunk header read lies inside the image, whatever the sizes claim.
int findWaveChunks(const uint8_t* image, size_t size, size_t* fmtStart, size_t* dataStart, uint32_t* dataSize);

// Makes a Wave whose format says 8 bits or 2 channels into 16-bit mono: 8-bit
// values become (byte - 128) * 256; the two channels are added, and the whole
// Wave is scaled by 32767 / peak (in single precision, truncated toward zero)
// only when a sum leaves the 16-bit range. The format becomes 16-bit mono at
// the same rate and format tag. A format of 0 channels with 8 bits yields no
// samples; a 16-bit mono Wave is left as it is.
void convertToMono16(Wave& wave);

}  // namespace tonvero
