#pragma once
// A live MIDI byte stream read into messages: what a keyboard or another
// program sends arrives a few bytes at a time, in packets that need not end
// where a message ends. The reader takes one byte at a time and says when a
// message is complete, so the packet boundaries do not matter.
//
// What it does with a live stream's particulars:
// - running status: data bytes after a channel message reuse its status;
// - real-time bytes (clock, start, stop, active sensing, reset: F8..FF) are
//   ignored wherever they fall, inside a message or a system exclusive block
//   too, and leave everything else as it was;
// - a note-on of velocity 0 is a note-off;
// - system exclusive blocks may be split over any number of packets; General
//   MIDI System On, the GS reset and the XG reset become a reset message,
//   every other block is ignored. A block ends at F7; any other status byte
//   ends it too, unfinished, and then it counts for nothing;
// - system common messages (F1..F6) are skipped with their data bytes and
//   cancel running status, as do system exclusive blocks;
// - data bytes that no status owns are dropped and counted.
// No allocation: the reader keeps a fixed few bytes.

#include <cstdint>

namespace tonvero {

struct LiveMessage {
    enum class Kind : uint8_t {
        Channel,      // a channel message: `status` (type in the high nibble, channel in the low), data1, data2
        SystemReset,  // General MIDI System On, GS or XG reset
    };
    Kind kind = Kind::Channel;
    uint8_t status = 0;
    uint8_t data1 = 0;  // 0..127
    uint8_t data2 = 0;  // 0..127; 0 for the one-byte messages (program, channel pressure)
};

class MidiStreamReader {
public:
    // Reads one byte; true when it completes a message, which is then in `out`.
    bool push(uint8_t byte, LiveMessage& out);
    // Forgets running status and any message half read (the stream was cut:
    // a port disconnected, a program died).
    void reset();

    // Data bytes no status owned, dropped since the reader was made.
    uint64_t droppedBytes() const { return droppedBytes_; }
    // System exclusive blocks ignored: not a reset, too long, or cut short.
    uint64_t ignoredBlocks() const { return ignoredBlocks_; }

private:
    // Ends the block under way (`finished`: at its F7); true when it was a reset.
    bool endBlock(bool finished);

    uint8_t status_ = 0;      // running status: the last channel message's status byte, 0 for none
    uint8_t data_[2] = {};    // the data bytes read so far of the message under way
    uint8_t have_ = 0;        // how many of them
    uint8_t skip_ = 0;        // data bytes of a system common message still to skip
    bool inBlock_ = false;    // inside a system exclusive block
    bool blockLong_ = false;  // the block outgrew `block_`: no reset is that long
    uint8_t blockLength_ = 0;
    uint8_t block_[16] = {};  // the block's bytes after F0 (the longest reset has 9)
    uint64_t droppedBytes_ = 0;
    uint64_t ignoredBlocks_ = 0;
};

}  // namespace tonvero
