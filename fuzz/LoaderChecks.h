#pragma once
// The checks behind the fuzz targets, one per loader, as plain functions so
// that the libFuzzer programs (built with clang) and the corpus replay test
// of the normal suite (built with g++) run the very same code.
//
// Each takes any bytes. Input the loader refuses is fine; so is input it
// takes. What is not fine (a broken promise of the loader's header, such as a
// refused load that changed the bank, or a saved Patchmap that does not load
// again) ends the process through checkFailed with a line naming the fault,
// so libFuzzer records the input as a crash. Sanitizer reports end it too.
//
// Threads: one caller at a time (the song check makes an engine, and the
// engine is a process-wide singleton).

#include <cstddef>
#include <cstdint>
#include <string>

namespace tonvero::fuzz {

enum class Outcome {
    Refused,   // the loader gave a clear refusal
    Accepted,  // the loader took the input, and everything done with it after held
};

// Standard MIDI File: parseSong, and when it loads, installSong and a play on
// the offline backend with the virtual clock and a small bank built in code,
// to the song's end or to the limits of SongCheck.cpp (4 s of clock time;
// with the hardware mixer also 16 s of device buffers sounding in all). Once
// the clock is past the song's length by its tempo map, the sequencer must
// have reached its end. The low two bits of the last byte choose the mixer: 1 hardware, 2 the
// software mixer writing the primary buffer, 0 and 3 the software mixer on
// its own buffer.
Outcome checkSong(const uint8_t* data, size_t size);
// Patchmap: loadPatchmapImage into a bank that already holds one (a refusal
// must leave it exactly as it was); a loaded bank must save to a file, load
// back from it and give the same file image again.
Outcome checkPatchmap(const uint8_t* data, size_t size);
// WAV file: findWaveChunks with every combination of wanted results, then
// loadWaveImage and convertToMono16, with their results checked against
// what WaveImport.h promises.
Outcome checkWave(const uint8_t* data, size_t size);
// SoundFont 2: Sf2Reader::parse, the promises of Sf2Font.h on what it read,
// then buildBankFromSoundFont; a built bank must be savable as a Patchmap
// that loads again.
Outcome checkSoundFont(const uint8_t* data, size_t size);

// Output rate of the song check, Hz: low, so a second of song costs little.
constexpr int32_t kSongRate = 8000;

// Prints "fuzz check failed: <what>" (and the input's name, when one was
// given) to stderr and aborts.
[[noreturn]] void checkFailed(const std::string& what);
// Names the input the next checks run on, for checkFailed's line and for
// inputName(); the replay test names each corpus file so.
void setInputName(const std::string& name);
const std::string& inputName();

// A directory of this process's own for files a loader wants a path for:
// made on first use under /dev/shm (else $TMPDIR, else /tmp) and removed,
// with anything left in it, when the process exits.
const std::string& scratchDirectory();

}  // namespace tonvero::fuzz
