// Reading a live MIDI stream: running status, real-time bytes anywhere,
// split system exclusive blocks with the three resets, note-on velocity 0,
// system common messages and stray data bytes.

#include "live/MidiStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {
namespace {

// The messages a stream reads as, one line each: "90 3c 64", or "reset".
std::string read(MidiStreamReader& reader, const std::vector<uint8_t>& bytes) {
    std::string text;
    LiveMessage m;
    for (uint8_t b : bytes) {
        if (!reader.push(b, m)) continue;
        char line[16];
        if (m.kind == LiveMessage::Kind::SystemReset)
            std::snprintf(line, sizeof line, "reset\n");
        else
            std::snprintf(line, sizeof line, "%02x %02x %02x\n", m.status, m.data1, m.data2);
        text += line;
    }
    return text;
}

TEST(MidiStream, ChannelMessagesWithRunningStatusAndRealTimeBytesAnywhere) {
    MidiStreamReader reader;
    EXPECT_EQ(read(reader,
                   {
                       0x90, 0x3C, 0xF8, 0x64,  // a clock between a note-on's data bytes
                       0x40, 0xFE, 0x50,        // running status, active sensing inside
                       0x3C, 0x00,              // velocity 0: a note-off
                       0xFA, 0xFC,              // start, stop: nothing
                       0x43, 0x7F,              // the note-on's running status survives them
                       0xC5, 0x10, 0x11,        // a program change, then another by running status
                       0xE1, 0x00, 0x40,        // pitch bend centre
                       0xB1, 0x07, 0x64,        // volume
                   }),
              "90 3c 64\n90 40 50\n80 3c 00\n90 43 7f\nc5 10 00\nc5 11 00\ne1 00 40\nb1 07 64\n");
    EXPECT_EQ(reader.droppedBytes(), 0u);
}

TEST(MidiStream, SystemCommonAndStrayDataBytes) {
    MidiStreamReader reader;
    EXPECT_EQ(read(reader,
                   {
                       0x40, 0x41,        // no status yet: dropped
                       0x91, 0x3C, 0x64,  //
                       0xF2, 0x10, 0x20,  // song position, skipped with its two bytes
                       0x3C, 0x00,        // running status is gone: dropped
                       0xF3, 0x05, 0xF6,  // song select and its byte, tune request
                       0x92, 0x3C,        // half a message...
                       0x93, 0x3E, 0x70,  // ...forgotten when another status comes
                   }),
              "91 3c 64\n93 3e 70\n");
    EXPECT_EQ(reader.droppedBytes(), 4u);
    // A cut stream forgets the message under way and its running status.
    read(reader, {0x90, 0x3C});
    reader.reset();
    EXPECT_EQ(read(reader, {0x64, 0x3C, 0x64}), "");
    EXPECT_EQ(reader.droppedBytes(), 7u);
}

TEST(MidiStream, SplitSystemExclusiveBlocksAndTheResets) {
    MidiStreamReader reader;
    std::string text;
    // General MIDI System On in three packets, a clock inside it.
    text += read(reader, {0x90, 0x3C, 0x64, 0xF0, 0x7E});
    text += read(reader, {0x7F, 0x09, 0xF8});
    text += read(reader, {0x01, 0xF7});
    // Running status does not outlive a block.
    text += read(reader, {0x3C, 0x64});
    // GS reset, XG reset, GM2 System On (device 0x10).
    text += read(reader, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    text += read(reader, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    text += read(reader, {0xF0, 0x7E, 0x10, 0x09, 0x03, 0xF7});
    EXPECT_EQ(text, "90 3c 64\nreset\nreset\nreset\nreset\n");
    EXPECT_EQ(reader.ignoredBlocks(), 0u);

    // Ignored: another block (GM System Off), a reset cut short by a status
    // byte, which then takes effect, and a block longer than any reset that
    // begins like one.
    std::vector<uint8_t> longBlock{0xF0, 0x7E, 0x7F, 0x09, 0x01};
    longBlock.insert(longBlock.end(), 40, 0x00);
    longBlock.push_back(0xF7);
    EXPECT_EQ(read(reader, {0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}), "");
    EXPECT_EQ(read(reader, {0xF0, 0x7E, 0x7F, 0x09, 0x90, 0x3C, 0x64}), "90 3c 64\n");
    EXPECT_EQ(read(reader, longBlock), "");
    EXPECT_EQ(reader.ignoredBlocks(), 3u);
    EXPECT_EQ(reader.droppedBytes(), 2u);  // the two data bytes after the first block
}

}  // namespace
}  // namespace tonvero
