#pragma once
// Standard MIDI Files written byte by byte, for tests. A MidiWriter holds the
// header fields and the tracks; each track is built event by event with the
// delta time before each event, and ends with an end-of-track event unless
// told otherwise. Raw bytes can go anywhere, for damaged files.

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

namespace tonvero::test {

using Bytes = std::vector<uint8_t>;

// The variable-length quantity for `value` (1 to 5 bytes).
Bytes varLenBytes(uint32_t value);

class MidiWriter {
public:
    class Track {
    public:
        // Channel messages: channel 0..15, data 0..127. Each writes its delta first.
        Track& noteOn(uint32_t delta, int channel, int key, int velocity);
        Track& noteOff(uint32_t delta, int channel, int key, int velocity = 0);
        Track& controller(uint32_t delta, int channel, int number, int value);
        Track& program(uint32_t delta, int channel, int program);
        // value 0..16383, 8192 centre.
        Track& pitchBend(uint32_t delta, int channel, int value);
        // A data-only event under running status: the delta, then the bytes.
        Track& running(uint32_t delta, std::initializer_list<uint8_t> data);
        // Set tempo, microseconds per quarter note.
        Track& tempo(uint32_t delta, uint32_t microsPerQuarter);
        // A meta event with its own length.
        Track& meta(uint32_t delta, uint8_t type, const Bytes& data);
        // A system-exclusive event: F0, length, data.
        Track& sysex(uint32_t delta, const Bytes& data);
        Track& endOfTrack(uint32_t delta = 0);
        // Bytes as they are.
        Track& raw(const Bytes& bytes);
        Track& raw(std::initializer_list<uint8_t> bytes) { return raw(Bytes(bytes)); }

        const Bytes& bytes() const { return bytes_; }

    private:
        Track& delta(uint32_t ticks);
        Bytes bytes_;
    };

    // `format` is written as the whole 16-bit field; `trackCount` -1 writes
    // the number of tracks added.
    MidiWriter(uint16_t format, uint16_t division, int trackCount = -1)
        : format_(format), division_(division), trackCount_(trackCount) {}

    Track& track();
    // A chunk of another kind, written between the track chunks in the order added.
    void otherChunk(const char id[4], const Bytes& data);

    // The whole file image.
    Bytes bytes() const;
    // Writes bytes() to `path`; false if it cannot.
    bool write(const std::string& path) const;

private:
    struct Chunk {
        std::string id;
        Bytes data;
        int track = -1;  // index into tracks_, or -1 for an other chunk
    };
    uint16_t format_;
    uint16_t division_;
    int trackCount_;
    std::deque<Track> tracks_;  // references stay valid as tracks are added
    std::vector<Chunk> order_;
};

// A chunk: 4-byte id, big-endian length, data.
Bytes chunkBytes(const char id[4], const Bytes& data);
// Wraps a Standard MIDI File image as a RIFF RMID file.
Bytes rmidFile(const Bytes& midi);
// Writes bytes to a file; false if it cannot.
bool writeBytes(const std::string& path, const Bytes& bytes);

}  // namespace tonvero::test
