#pragma once
// The loaded Standard MIDI File's read state: one Track per track chunk,
// reading events straight out of the file image held by the engine.

#include <cstdint>
#include <memory>
#include <vector>

namespace tonvero {

struct Track {
    int32_t position = 0;        // next unread byte, relative to dataOffset
    int32_t dataOffset = 0;      // offset in songData of the first event byte
    int32_t dataLength = 0;      // bytes of event data in the file image (clipped to the file)
    int32_t nextEventTick = 0;   // absolute tick of the next event
    int32_t runningKind = 0;     // running status: message kind 1..8 of the last message
    int32_t runningChannel = 0;  // its channel 0..15
    int32_t ended = 0;           // end of track reached
};

// A growable list of owned Tracks: capacity 1 at first, then size + 5 when full.
class TrackList {
public:
    int32_t size() const { return static_cast<int32_t>(tracks_.size()); }
    int32_t capacity() const { return capacity_; }
    // The Track at `index`, or null outside 0 .. size - 1.
    Track* at(int32_t index) const {
        return index >= 0 && index < size() ? tracks_[static_cast<size_t>(index)].get() : nullptr;
    }
    void append(std::unique_ptr<Track> track) {
        if (size() == capacity_) capacity_ = size() + 5;
        tracks_.push_back(std::move(track));
    }
    void clear() {
        tracks_.clear();
        capacity_ = 1;
    }

private:
    std::vector<std::unique_ptr<Track>> tracks_;
    int32_t capacity_ = 1;
};

}  // namespace tonvero
