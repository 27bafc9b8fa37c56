#include "live/MidiStream.h"

#include "engine/Midi.h"
#include "song/Sequencer.h"

namespace tonvero {

namespace {

constexpr uint8_t kSystemExclusive = 0xF0;
constexpr uint8_t kEndOfExclusive = 0xF7;
constexpr uint8_t kFirstRealTime = 0xF8;

// Data bytes of a channel message of this status byte.
uint8_t dataBytesOf(uint8_t status) {
    const uint8_t type = status & 0xF0;
    return type == midi::kProgramChange || type == midi::kChannelPressure ? 1 : 2;
}

// Data bytes of a system common message: time code quarter frame and song
// select one, song position two; tune request and the undefined F4, F5 none.
uint8_t dataBytesOfCommon(uint8_t status) {
    switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

}  // namespace

void MidiStreamReader::reset() {
    status_ = 0;
    have_ = 0;
    skip_ = 0;
    if (inBlock_) endBlock(false);
}

bool MidiStreamReader::endBlock(bool finished) {
    inBlock_ = false;
    const bool reset = finished && !blockLong_ && isSystemReset(block_, blockLength_);
    if (!reset) ++ignoredBlocks_;
    return reset;
}

bool MidiStreamReader::push(uint8_t byte, LiveMessage& out) {
    if (byte >= kFirstRealTime) return false;  // real time: no trace anywhere

    if (byte & 0x80) {
        // Any status byte ends a block under way; only F7 finishes it.
        if (inBlock_) {
            const bool finished = byte == kEndOfExclusive;
            if (endBlock(finished)) {
                out = LiveMessage{LiveMessage::Kind::SystemReset, 0, 0, 0};
                return true;
            }
            if (finished) return false;
        }
        have_ = 0;
        skip_ = 0;
        if (byte < kSystemExclusive) {
            status_ = byte;
            return false;
        }
        // System exclusive and system common cancel running status.
        status_ = 0;
        if (byte == kSystemExclusive) {
            inBlock_ = true;
            blockLong_ = false;
            blockLength_ = 0;
        } else {
            skip_ = dataBytesOfCommon(byte);
        }
        return false;
    }

    if (inBlock_) {
        if (blockLength_ < sizeof block_)
            block_[blockLength_++] = byte;
        else
            blockLong_ = true;
        return false;
    }
    if (skip_ > 0) {
        --skip_;
        return false;
    }
    if (status_ == 0) {
        ++droppedBytes_;
        return false;
    }
    data_[have_++] = byte;
    if (have_ < dataBytesOf(status_)) return false;
    have_ = 0;
    out.kind = LiveMessage::Kind::Channel;
    out.status = status_;
    out.data1 = data_[0];
    out.data2 = dataBytesOf(status_) == 2 ? data_[1] : 0;
    // A note-on of velocity 0 is a note-off.
    if ((status_ & 0xF0) == midi::kNoteOn && out.data2 == 0)
        out.status = static_cast<uint8_t>(midi::kNoteOff | (status_ & 0x0F));
    return true;
}

}  // namespace tonvero
