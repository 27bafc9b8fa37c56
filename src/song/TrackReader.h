#pragma once
// Reads one Track's bytes out of the song's file image, never past the end
// of the track's data: a read beyond it returns 0 and ends the track (a track
// that runs off its end without an end-of-track event ends there).
//
// Used on the timer thread by the sequencer and on the loading thread by the
// tempo-map scan; it touches only the Track and the bytes it is given.

#include "engine/Song.h"

#include <cstddef>
#include <cstdint>

namespace tonvero {

class TrackReader {
public:
    // `songData` is the whole file image; the Track's dataOffset and
    // dataLength lie inside it (the loader makes sure of that).
    TrackReader(const uint8_t* songData, Track& track) : data_(songData), track_(track) {}

    // True once a read has gone past the end of the track's data.
    bool overran() const { return overran_; }
    int32_t remaining() const { return track_.dataLength - track_.position; }
    // Offset in the file image of the next unread byte.
    int32_t offset() const { return track_.dataOffset + track_.position; }

    // The next byte, 0..255; 0 past the end.
    uint32_t byte() {
        if (track_.position >= track_.dataLength) {
            runOut();
            return 0;
        }
        return data_[static_cast<size_t>(track_.dataOffset + track_.position++)];
    }

    // A variable-length quantity: 7 bits per byte, most significant first,
    // until a byte with the top bit clear; accumulated in 32 bits (wrapping),
    // with no limit on the number of bytes.
    uint32_t varLen() {
        uint32_t b = byte();
        if (b < 0x80) return b;
        uint32_t value = b & 0x7F;
        do {
            b = byte();
            value = (value << 7) + (b & 0x7F);
        } while ((b & 0x80) && !overran_);
        return value;
    }

    // Skips `count` bytes; past the end it stops there and ends the track.
    void skip(uint32_t count) {
        if (count > static_cast<uint32_t>(remaining())) {
            track_.position = track_.dataLength;
            runOut();
            return;
        }
        track_.position += static_cast<int32_t>(count);
    }

private:
    void runOut() {
        overran_ = true;
        track_.ended = 1;
    }

    const uint8_t* data_;
    Track& track_;
    bool overran_ = false;
};

}  // namespace tonvero
