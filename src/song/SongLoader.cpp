#include "song/SongLoader.h"

#include "bank/FileUtil.h"
#include "engine/MixerEngine.h"
#include "song/TempoMap.h"
#include "song/TrackReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tonvero {

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint32_t littleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

bool hasId(const std::vector<uint8_t>& bytes, size_t offset, const char* id) {
    return offset + 4 <= bytes.size() && std::memcmp(bytes.data() + offset, id, 4) == 0;
}

// A RIFF RMID file carries the Standard MIDI File as the body of its "data"
// chunk: replaces `bytes` with that body. False when it is a RIFF file with
// no such chunk. Files that are not RIFF files are left alone.
bool unwrapRiff(std::vector<uint8_t>& bytes) {
    if (!hasId(bytes, 0, "RIFF")) return true;
    if (!hasId(bytes, 8, "RMID")) return false;
    size_t offset = 12;
    while (offset + 8 <= bytes.size()) {
        const uint64_t length = littleEndian32(bytes.data() + offset + 4);
        const size_t body = offset + 8;
        if (hasId(bytes, offset, "data")) {
            const size_t end = static_cast<size_t>(std::min<uint64_t>(body + length, bytes.size()));
            bytes = std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(body),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(end));
            return true;
        }
        const uint64_t next = body + length + (length & 1);  // chunks are padded to even length
        if (next > bytes.size()) break;
        offset = static_cast<size_t>(next);
    }
    return false;
}

struct Chunk {
    int32_t offset;  // of the data, just after the 8-byte chunk header
    int32_t length;  // clipped to the file
    bool cut;        // the chunk runs past the end of the file
};

}  // namespace

namespace {
// The format of the last file this thread refused for it, for the message.
thread_local uint32_t refusedFormat = 0;
thread_local char refusedFormatText[128];
}  // namespace

const char* songLoadResultText(SongLoadResult result) {
    switch (result) {
    case SongLoadResult::UnknownFormat:
        std::snprintf(refusedFormatText, sizeof refusedFormatText,
                      "This MIDI file has format %u; only formats 0, 1 and 2 can be played.", refusedFormat);
        return refusedFormatText;
    case SongLoadResult::Loaded: return "Song loaded.";
    case SongLoadResult::CannotOpen: return "Unable to open the song file.";
    case SongLoadResult::NotMidi: return "This file is not a Standard MIDI File.";
    case SongLoadResult::Damaged: return "This MIDI file is damaged and cannot be played.";
    }
    return "Unable to load the song.";
}

SongLoadResult parseSong(std::vector<uint8_t> bytes, SongImage& image) {
    if (!unwrapRiff(bytes)) return SongLoadResult::NotMidi;
    if (!hasId(bytes, 0, "MThd")) return SongLoadResult::NotMidi;
    if (bytes.size() < 14 || bytes.size() > static_cast<size_t>(INT32_MAX)) return SongLoadResult::Damaged;
    const uint64_t headerLength = bigEndian32(bytes.data() + 4);
    if (headerLength < 6 || 8 + headerLength > bytes.size()) return SongLoadResult::Damaged;

    SongImage song;
    song.format = bytes[9];  // the low byte of the format field only
    if (song.format > 2) {
        refusedFormat = (uint32_t{bytes[8]} << 8) | bytes[9];
        return SongLoadResult::UnknownFormat;
    }
    song.trackCount = (bytes[10] << 8) | bytes[11];
    song.division = (bytes[12] << 8) | bytes[13];
    if (song.division == 0) return SongLoadResult::Damaged;
    if (isSmpteDivision(song.division) && smpteTicksPerSecond(song.division) <= 0) return SongLoadResult::Damaged;

    // The track chunks, in file order; other chunks are skipped.
    const size_t wanted = song.format == 0 ? 1 : static_cast<size_t>(song.trackCount);
    std::vector<Chunk> trackChunks;
    uint64_t offset = 8 + headerLength;
    while (trackChunks.size() < wanted && offset + 8 <= bytes.size()) {
        const uint64_t length = bigEndian32(bytes.data() + offset + 4);
        const uint64_t body = offset + 8;
        if (hasId(bytes, static_cast<size_t>(offset), "MTrk")) {
            const uint64_t clipped = std::min<uint64_t>(length, bytes.size() - body);
            trackChunks.push_back({static_cast<int32_t>(body), static_cast<int32_t>(clipped), clipped < length});
        }
        offset = body + length;
    }
    if (wanted > 0 && trackChunks.empty()) return SongLoadResult::Damaged;

    for (const Chunk& chunk : trackChunks) {
        auto track = std::make_unique<Track>();
        track->dataOffset = chunk.offset;
        track->dataLength = chunk.length;
        track->cut = chunk.cut ? 1 : 0;
        song.tracks.append(std::move(track));
    }
    song.data = std::move(bytes);
    song.timing = scanSongTiming(song.data, song.tracks, song.division, song.format);
    image = std::move(song);
    return SongLoadResult::Loaded;
}

SongLoadResult readSongFile(const std::string& path, SongImage& image) {
    if (fileLength(path) < 0) return SongLoadResult::CannotOpen;
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes)) return SongLoadResult::CannotOpen;
    return parseSong(std::move(bytes), image);
}

void freeSong(MixerEngine& engine) {
    engine.song.tracks.clear();
    engine.song.songData.clear();
    engine.song.songData.shrink_to_fit();
    engine.song.songTiming = SongTiming{};
}

void installSong(MixerEngine& engine, SongImage&& image) {
    freeSong(engine);
    engine.song.songData = std::move(image.data);
    engine.song.format = image.format;
    engine.song.trackCount = image.trackCount;
    engine.song.division = image.division;
    engine.song.tracks = std::move(image.tracks);
    engine.song.songTiming = std::move(image.timing);
    image.tracks.clear();
    image.data.clear();
}

SongLoadResult loadSong(MixerEngine& engine, const std::string& path) {
    SongImage image;
    const SongLoadResult result = readSongFile(path, image);
    if (result == SongLoadResult::Loaded) installSong(engine, std::move(image));
    return result;
}

double songDamagedAfterSeconds(const MixerEngine& engine) {
    const SongTiming& timing = engine.song.songTiming;
    if (engine.song.songData.empty() || timing.damagedTick == kNoTick) return -1;
    return secondsAtTick(timing, timing.damagedTick);
}

uint32_t readVarLen(MixerEngine& engine, Track& track) {
    TrackReader reader(engine.song.songData.data(), track);
    return reader.varLen();
}

}  // namespace tonvero
