#pragma once
// The Patchmap file (*.map): the whole bank in one little-endian file.
//
//   offset 0    256 bytes  patchmapHeader (byte 0: format version 0; bytes 4..9: "Tonver")
//   offset 256  516 bytes  ProgramMap, 129 signed 32-bit entries
//   offset 772  4 bytes    instrument count K
//   offset 776             K Instrument records, each followed by its Zones and their Waves
//
// Every older Instrument (0..3) and Wave (0, 1) record version is read. A bank
// without articulation or kits (Bank::hasArticulation false) whose Waves each
// hold samples of their own is saved as it always was: Instrument records of
// version 3 with Wave records of version 1, the samples inline, and nothing
// after the last record.
//
// Version 4, written for every other bank (so that shared samples are stored
// once), keeps the first 776 bytes and adds
// what the older records cannot hold:
//
//   K Instrument records of version 4
//   4 bytes    "KITS", the section tag
//   4 bytes    kit count J (0..128)
//   J times    the kit's program number (0..127, each at most once), then its
//              Instrument record of version 4
//   4 bytes    "SMPL", the section tag
//   4 bytes    block count B
//   B times    a sample block: its sample count n, then n signed 16-bit samples
//
// Instrument record of version 4: version (4), name (a signed 32-bit length
// and that many bytes), loop, sustain and cutoff fading, index, zone count Z;
// then per Zone its range start, range end and basic note, a Wave record of
// version 2 and an articulation block.
//
// Wave record of version 2: version (2), sample count, loop begin, loop end,
// hold position, frequency, looped, the reserved byte, name, and the index of
// the sample block holding its samples, whose sample count must be the Wave's.
// The writer gives each sample storage one block, numbered in the order the
// Waves naming it are first written, so Waves that share their samples in
// memory name one block; the reader gives all the Waves naming one block the
// same storage again. A block that no Wave names is skipped.
//
// Articulation block: a 32-bit byte count L (0: the Zone has no
// articulation), then L bytes: the ZoneArticulation's fields as signed 32-bit
// values in the order of ArticulationField.h, each in the range given there
// (a stereo link names a Zone of the same Instrument). A block shorter than
// all of them leaves the missing trailing fields at their defaults; bytes
// past the fields a reader knows are skipped, so fields appended later keep
// version 4 readable. A field cut in the middle is damage.
//
// Telling version 4 from the older ones: every Instrument and kit record of a
// version 4 file is of version 4, and the "KITS" tag follows the last
// Instrument record even when there is none. An older file has neither (no
// writer made an Instrument record of version 4, and older files end after
// their last record); a file mixing the two is refused. Bytes after the
// sample table are not read.
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
#include <functional>
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
// The longest articulation block of version 4, in bytes (room for a thousand fields).
constexpr uint32_t kMaxArticulationBytes = 4096;

// Record versions and section tags of version 4 (tags as the 32-bit word of
// their four bytes read in file order).
constexpr uint32_t kInstrumentRecordVersion4 = 4;
constexpr uint32_t kWaveRecordVersion2 = 2;
constexpr uint32_t kKitsTag = 0x5354494Bu;     // "KITS"
constexpr uint32_t kSamplesTag = 0x4C504D53u;  // "SMPL"

// Reads the Patchmap at `path` into `bank`. On LoadOk the bank holds exactly
// the file's ProgramMap, Instruments and kits; on any other result `bank` (its
// Instruments, kits, ProgramMap and count) is exactly as it was.
LoadResult loadPatchmap(Bank& bank, const std::string& path);
// The same from a file image in memory.
LoadResult loadPatchmapImage(Bank& bank, const uint8_t* data, size_t size);

// Writes `bank` to `path`. Returns false, leaving any file already at `path`
// as it was, when the file cannot be written whole. Also false, writing
// nothing, for a bank whose ProgramMap holds an entry outside 0..127, whose
// instrument count is outside 0..128, or with an articulation value outside
// its range (ArticulationField.h, a stereo link naming no Zone of its
// Instrument included): the file would not load again.
bool savePatchmap(const Bank& bank, const std::string& path);
// The file image savePatchmap writes (valid only when savePatchmap would write).
std::vector<uint8_t> patchmapImage(const Bank& bank);
// Whether `bank` can be written as a file that loads again.
bool isSavable(const Bank& bank);

// One Instrument record of version 0..3 with its Zones and Waves, at the
// reader's position. Returns false (the reader failed) for a record that runs
// past the end of the image or holds an impossible value (a name length or
// zone count that cannot be), and for a record of version 4, which only a
// whole file can be read with (its samples are in the file's sample table).
// A record of any later version ends after its version word.
bool readInstrument(ByteReader& in, Instrument& instrument);
// One Wave record. Returns false as readInstrument does.
bool readWave(ByteReader& in, Wave& wave);
// Writes `instrument` as an Instrument record of version 3.
void writeInstrument(ByteWriter& out, const Instrument& instrument);
// What Instrument records of version 3 and later share: `version`, the name,
// the three fadings, the index and the Zone count, then each Zone's key range
// and basic note followed by what `writeZone` writes of it (a missing Zone is
// written as an empty one).
void writeInstrumentRecord(ByteWriter& out, const Instrument& instrument, uint32_t version,
                           const std::function<void(const Zone&)>& writeZone);
// Writes `wave` as a Wave record of version 1; the samples written are
// wave.samples (whose size is the stored sample count).
void writeWave(ByteWriter& out, const Wave& wave);

// A stored name: a signed 32-bit length and that many bytes. Reading refuses
// (fails the reader on) a length outside 0..kMaxStoredNameLength and keeps the
// bytes before the first NUL; writing stores `name` up to its first NUL and at
// most kMaxStoredNameLength bytes of it, all the reader takes.
bool readStoredName(ByteReader& in, std::string& name);
void writeStoredName(ByteWriter& out, const std::string& name);

}  // namespace tonvero
