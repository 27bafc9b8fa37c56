#pragma once
// A take: what was played live, kept as a format 0 Standard MIDI File. The
// file has a tempo and a division of its own, chosen for the output rate so
// that one tick lasts exactly one output frame where the rate allows it
// (44.1 kHz: 22050 ticks a quarter at 120 beats a minute; 96 kHz: 24000 at
// 240): every event keeps the frame it sounded on when the file is played
// back. A rate with no such pair (an odd one not divisible by 5, 44101 Hz
// say, shares no factor with a million) gets the nearest tick instead.
//
// Threads: one at a time (the thread that drains the live input queue);
// saving may take as long as the disk does and never runs on the audio thread.

#include "live/MidiStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

class TakeRecorder {
public:
    // A take at `outputRate` Hz whose time zero is output frame `startFrame`.
    TakeRecorder(int32_t outputRate, uint64_t startFrame);

    // Adds `message`, which sounded at output frame `frame` (frames before
    // the take's start count as its start; frames out of order as the last one).
    void add(uint64_t frame, const LiveMessage& message);
    size_t eventCount() const { return events_.size(); }

    // Microseconds per quarter note and ticks per quarter note of the file.
    uint32_t tempo() const { return tempo_; }
    uint16_t division() const { return division_; }

    // The file as it stands: header, tempo, the events (a reset as General
    // MIDI System On), end of track at the last event.
    std::vector<uint8_t> fileBytes() const;
    // Writes fileBytes() to `path` through a temporary file renamed over it,
    // so the file at `path` is always a whole take; false when that failed
    // (the file there is then as it was).
    bool save(const std::string& path) const;

private:
    struct Event {
        uint64_t tick;
        LiveMessage message;
    };
    uint64_t tickOf(uint64_t frame) const;

    int32_t rate_;
    uint64_t startFrame_;
    uint32_t tempo_ = 500000;
    uint16_t division_ = 0;
    bool exact_ = true;  // one tick is one frame
    std::vector<Event> events_;
};

}  // namespace tonvero
