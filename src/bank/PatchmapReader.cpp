// Reading a Patchmap file: every record version the format has had, each
// read bounded by the file image; impossible values refuse the whole file.
// What only version 4 has is read by PatchmapV4Reader.

#include "bank/FileUtil.h"
#include "bank/Patchmap.h"
#include "bank/PatchmapV4Reader.h"

#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace tonvero {

namespace {

constexpr size_t kHeaderBytes = 256;
constexpr size_t kMarkOffset = 4;
constexpr size_t kMarkBytes = 6;  // "Tonver"

// The fewest bytes one Zone takes in a file: three keys and a Wave version
// (a Wave of an unknown version ends after it).
constexpr size_t kMinZoneBytes = 16;

// Versions 0 and 1 stored keys as offsets from 60. Added without overflow:
// a damaged value wraps like the 32-bit field it is.
int32_t fromOffset(int32_t stored) { return static_cast<int32_t>(static_cast<uint32_t>(stored) + 60u); }

}  // namespace

bool readStoredName(ByteReader& in, std::string& name) {
    const int32_t length = in.i32();
    if (!in.ok()) return false;
    if (length < 0 || length > kMaxStoredNameLength) {
        in.fail();
        return false;
    }
    name = in.text(static_cast<size_t>(length));
    return in.ok();
}

bool readWave(ByteReader& in, Wave& wave) {
    // Whatever the Wave held goes first, its device buffer with it.
    wave.setSamples(SampleData());

    const uint32_t version = in.u32();
    if (!in.ok()) return false;
    uint32_t count = 0;
    if (version == 0) {
        count = in.u32();
        wave.loopBegin = in.i32();
        wave.loopEnd = in.i32();
        wave.holdPos = 0;
    } else if (version == 1) {
        count = in.u32();
        wave.loopBegin = in.i32();
        wave.loopEnd = in.i32();
        wave.holdPos = in.i32();
    } else {
        return true;  // an unknown version: the record ends here and the Wave stays empty
    }
    wave.frequency = in.u32();
    wave.looped = in.i32();
    in.skip(4);  // spare bytes
    wave.reserved = in.u8();
    if (!readStoredName(in, wave.name)) return false;

    if (count > in.remaining() / 2) {  // the samples would run past the end of the file
        in.fail();
        return false;
    }
    const uint8_t* bytes = in.view(static_cast<size_t>(count) * 2);
    if (!bytes) return false;
    wave.setSamples(SampleData::fromLittleEndian(bytes, count));
    in.release(bytes, static_cast<size_t>(count) * 2);
    wave.updateFormat();
    return true;
}

bool readInstrument(ByteReader& in, Instrument& instrument) {
    const uint32_t version = in.u32();
    if (!in.ok()) return false;
    if (version == kInstrumentRecordVersion4) {  // read only with its file's sample table
        in.fail();
        return false;
    }
    if (version > 3) return true;  // an unknown version: the record ends after it

    if (version == 0) {
        instrument.loopFading = 0x4000;
        instrument.sustainFading = 0x8000;
        instrument.cutoffFading = 0;
    } else if (version <= 2) {
        instrument.cutoffFading = 0;
    }
    if (!readStoredName(in, instrument.name)) return false;
    if (version >= 1) {
        instrument.loopFading = in.u32();
        instrument.sustainFading = in.u32();
    }
    if (version == 3) instrument.cutoffFading = in.u32();
    instrument.index = in.i32();
    const int32_t zoneCount = in.i32();
    if (!in.ok()) return false;
    if (zoneCount < 0 || static_cast<size_t>(zoneCount) > in.remaining() / kMinZoneBytes) {
        in.fail();
        return false;
    }

    for (int32_t z = 0; z < zoneCount; ++z) {
        Zone* zone = instrument.zones.append(std::make_unique<Zone>());
        zone->rangeStart = in.i32();
        zone->rangeEnd = in.i32();
        zone->basicNote = in.i32();
        if (version <= 1) {
            zone->rangeStart = fromOffset(zone->rangeStart);
            zone->rangeEnd = fromOffset(zone->rangeEnd);
            zone->basicNote = fromOffset(zone->basicNote);
        }
        zone->wave = std::make_unique<Wave>();
        if (!readWave(in, *zone->wave)) return false;
    }
    return in.ok();
}

namespace {

// Reads the image of a whole file; `mapping`, when the image is a mapped file,
// gets back the memory of the sample data once it is in its Waves.
LoadResult loadImage(Bank& bank, const uint8_t* data, size_t size, const MappedFile* mapping) {
    if (size < kMarkOffset + kMarkBytes ||
        std::memcmp(data + kMarkOffset, patchmapHeader.data() + kMarkOffset, kMarkBytes) != 0)
        return LoadNotPatchmap;
    if (data[0] != 0) return LoadUnknownVersion;

    ByteReader in(data, size, mapping);
    in.skip(kHeaderBytes);
    // Everything is read into a bank of its own; the caller's bank changes
    // only once the whole file has been read.
    Bank fresh;
    for (int32_t& entry : fresh.programMap) {
        entry = in.i32();
        if (entry < 0 || entry >= Bank::kInstrumentSlots) return LoadNotPatchmap;
    }
    const int32_t count = in.i32();
    if (!in.ok() || count < 0 || count > Bank::kInstrumentSlots) return LoadNotPatchmap;

    // Version 4 shows in its first Instrument record, or, for a bank of kits
    // alone, in the section tag after the instrument count; the two kinds of
    // record never mix in one file.
    std::optional<PatchmapV4Reader> v4;
    for (int32_t slot = 0; slot < count; ++slot) {
        uint32_t version = 0;
        if (!in.peekU32(version)) return LoadNotPatchmap;
        const bool recordV4 = version == kInstrumentRecordVersion4;
        if (slot > 0 && recordV4 != v4.has_value()) return LoadNotPatchmap;
        if (recordV4 && !v4) v4.emplace(in);
        auto instrument = std::make_unique<Instrument>("will be loaded!", 0);
        if (!(v4 ? v4->readInstrument(*instrument) : readInstrument(in, *instrument))) return LoadNotPatchmap;
        fresh.instruments[static_cast<size_t>(slot)] = std::move(instrument);
        fresh.instrumentCount = slot + 1;
    }
    uint32_t tag = 0;
    const bool sections = in.peekU32(tag) && tag == kKitsTag;
    if (sections && count == 0) v4.emplace(in);
    if (sections != v4.has_value()) return LoadNotPatchmap;
    if (v4 && !v4->readKitsAndSamples(fresh)) return LoadNotPatchmap;
    bank = std::move(fresh);
    return LoadOk;
}

}  // namespace

LoadResult loadPatchmapImage(Bank& bank, const uint8_t* data, size_t size) {
    return loadImage(bank, data, size, nullptr);
}

LoadResult loadPatchmap(Bank& bank, const std::string& path) {
    // Mapped rather than read whole: each sample block goes once from the
    // file into its Wave's storage, and the file's pages are given back.
    const std::unique_ptr<MappedFile> file = MappedFile::open(path, kMaxFileBytes);
    if (!file) return LoadNotFound;
    return loadImage(bank, file->data(), file->size(), file.get());
}

}  // namespace tonvero
