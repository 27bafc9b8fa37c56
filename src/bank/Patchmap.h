#pragma once
// The Patchmap file (*.map): the whole bank in one little-endian file.
//
//   offset 0    256 bytes  patchmapHeader (byte 0: format version 0; bytes 4..9: "Tonver")
//   offset 256  516 bytes  ProgramMap, 129 signed 32-bit entries
//   offset 772  4 bytes    instrument count K
//   offset 776             K Instrument records, each followed by its Zones and their Waves
//
// Every older Instrument (0..3) and Wave (0, 1) record version is read; saving
// always writes Instrument version 3 and Wave version 1.
//
// Threads: these functions touch only the Bank they are given. The engine's
// bank is read by the timer thread, so a caller loading into it holds the
// engine mutex and has cut every voice playing one of its Waves; loading into
// a Bank of its own first and moving it in under the lock keeps that short.

#include "bank/Bank.h"
#include "bank/ByteReader.h"
#include "bank/ByteWriter.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

enum LoadResult : int32_t {
    LoadOk = 0,              // the file was read; the bank holds it
    LoadUnknownVersion = 1,  // byte 0 of the header is not 0
    LoadNotFound = 2,        // the file cannot be opened or read
    LoadNotPatchmap = 3,     // no "Tonver" mark, or the contents are damaged or impossible
};

// The message the program shows for a load result ("Patchmap loaded." for LoadOk).
const char* loadResultMessage(int32_t result);

// The 256 bytes every Patchmap file starts with.
extern const std::array<uint8_t, 256> patchmapHeader;

// Limits of what a file may hold; larger values are refused as damage.
constexpr int32_t kMaxStoredNameLength = 4096;

// Reads the Patchmap at `path` into `bank`. On LoadOk the bank holds exactly
// the file's ProgramMap and Instruments; on any other result `bank` (its
// Instruments, ProgramMap and count) is exactly as it was.
LoadResult loadPatchmap(Bank& bank, const std::string& path);
// The same from a file image in memory.
LoadResult loadPatchmapImage(Bank& bank, const uint8_t* data, size_t size);

// Writes `bank` to `path`. Returns false, leaving any file already at `path`
// as it was, when the file cannot be written whole. Also false, writing
// nothing, for a bank whose ProgramMap holds an entry outside 0..127 or whose
// instrument count is outside 0..128: the file would not load again.
bool savePatchmap(const Bank& bank, const std::string& path);
// The file image savePatchmap writes (valid only when savePatchmap would write).
std::vector<uint8_t> patchmapImage(const Bank& bank);
// Whether `bank` can be written as a file that loads again.
bool isSavable(const Bank& bank);

// One Instrument record with its Zones and Waves, at the reader's position.
// Returns false (the reader failed) for a record that runs past the end of the
// image or holds an impossible value (a name length or zone count that cannot be).
bool readInstrument(ByteReader& in, Instrument& instrument);
// One Wave record. Returns false as readInstrument does.
bool readWave(ByteReader& in, Wave& wave);
// Writes `instrument` as an Instrument record of version 3.
void writeInstrument(ByteWriter& out, const Instrument& instrument);
// Writes `wave` as a Wave record of version 1; the samples written are
// wave.samples (whose size is the stored sample count).
void writeWave(ByteWriter& out, const Wave& wave);

}  // namespace tonvero
