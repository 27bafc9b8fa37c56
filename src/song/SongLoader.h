#pragma once
// Loading a Standard MIDI File (*.mid, or a RIFF RMID file holding one) into
// the engine as its Song: the whole file image, the header fields and one
// Track per track chunk. Events are decoded later, in place, by the sequencer.
//
// What a file must be: an "MThd" header chunk of at least 6 bytes, then
// chunks; "MTrk" chunks are the tracks (format 0 uses the first one, format 1
// the first trackCount of them; format 2 as many, each an independent
// sequence that plays after the one before it, from its own beginning at
// the default tempo) and chunks of any other kind are skipped. A format
// above 2 is refused. A track chunk that runs past the end of the
// file is cut at the end of the file. A division of 0 (or an SMPTE division
// with no ticks per frame) is refused, as is a header that does not fit in
// the file or a format 0 or 1 file that promises tracks but holds none.

#include "engine/MixerEngine.h"
#include "song/SongImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

enum class SongLoadResult {
    Loaded,         // the Song was replaced
    CannotOpen,     // the file cannot be opened or read
    NotMidi,        // no "MThd" header (or a RIFF file with no MIDI data inside)
    Damaged,        // a MIDI file whose header or tracks cannot be used
    UnknownFormat,  // a header format other than 0, 1 or 2
};

// Words for the user about a result ("Song loaded." for Loaded). For
// UnknownFormat they name the format of the last file this thread refused.
const char* songLoadResultText(SongLoadResult result);

// Checks a file image and builds the Song from it into `image`, which is
// changed only when the result is Loaded. Any thread.
SongLoadResult parseSong(std::vector<uint8_t> bytes, SongImage& image);
// Reads the file at `path` and parses it. Any thread; touches no engine.
SongLoadResult readSongFile(const std::string& path, SongImage& image);

// Replaces the engine's Song with `image` (which is left empty). Call with
// the engine mutex held and the song stopped (stop() first), so no
// sequencer callback reads the Song while it is replaced.
void installSong(MixerEngine& engine, SongImage&& image) REQUIRES(engine.mutex);

// readSongFile, then installSong if it loaded. On any other result the
// engine's Song is exactly as it was. User-interface thread, engine mutex
// held, song stopped. (Reading the file while holding the mutex briefly
// holds up the mixer; readSongFile before taking the lock avoids that.)
SongLoadResult loadSong(MixerEngine& engine, const std::string& path) REQUIRES(engine.mutex);

// The song time after which the loaded song's data cannot be trusted: where
// a track's chunk runs past the end of the file, or its data breaks off inside an event. Below 0 when every
// track is whole. Mutex held.
double songDamagedAfterSeconds(const MixerEngine& engine) REQUIRES(engine.mutex);

// Deletes every Track and releases the Track storage and the file image.
// Engine mutex held, song stopped.
void freeSong(MixerEngine& engine) REQUIRES(engine.mutex);

// The variable-length quantity at the Track's position in the engine's song
// image, moving the position past it. A quantity that runs off the end of
// the track's data ends the track. Mutex held (timer thread or user interface).
uint32_t readVarLen(MixerEngine& engine, Track& track) REQUIRES(engine.mutex);

}  // namespace tonvero
