#pragma once
// A Standard MIDI File read and checked but not yet handed to the engine: the
// file image, the header fields, the Tracks and the tempo map. Loading builds
// one of these first, so a file that cannot be used leaves the engine's
// current Song exactly as it was.

#include "engine/Song.h"

#include <cstdint>
#include <vector>

namespace tonvero {

struct SongImage {
    std::vector<uint8_t> data;  // the Standard MIDI File image (the inside of an RMID file)
    int32_t format = 0;         // low byte of the header's format field
    int32_t trackCount = 0;     // the header's track count
    int32_t division = 0;       // the header's division, unsigned 16-bit
    TrackList tracks;           // one per track chunk used
    SongTiming timing;          // tempo map and length

    SongImage() { tracks.clear(); }
};

}  // namespace tonvero
