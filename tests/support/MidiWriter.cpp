#include "MidiWriter.h"

#include <cstdio>

namespace tonvero::test {

namespace {

void put32(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put32le(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 24));
}

uint8_t u8(int v) { return static_cast<uint8_t>(v); }

}  // namespace

Bytes varLenBytes(uint32_t value) {
    Bytes groups{static_cast<uint8_t>(value & 0x7F)};
    while (value >>= 7) groups.insert(groups.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
    return groups;
}

MidiWriter::Track& MidiWriter::Track::delta(uint32_t ticks) { return raw(varLenBytes(ticks)); }

MidiWriter::Track& MidiWriter::Track::noteOn(uint32_t d, int channel, int key, int velocity) {
    return delta(d).raw({u8(0x90 | channel), u8(key), u8(velocity)});
}

MidiWriter::Track& MidiWriter::Track::noteOff(uint32_t d, int channel, int key, int velocity) {
    return delta(d).raw({u8(0x80 | channel), u8(key), u8(velocity)});
}

MidiWriter::Track& MidiWriter::Track::controller(uint32_t d, int channel, int number, int value) {
    return delta(d).raw({u8(0xB0 | channel), u8(number), u8(value)});
}

MidiWriter::Track& MidiWriter::Track::program(uint32_t d, int channel, int program) {
    return delta(d).raw({u8(0xC0 | channel), u8(program)});
}

MidiWriter::Track& MidiWriter::Track::pitchBend(uint32_t d, int channel, int value) {
    return delta(d).raw({u8(0xE0 | channel), u8(value & 0x7F), u8((value >> 7) & 0x7F)});
}

MidiWriter::Track& MidiWriter::Track::running(uint32_t d, std::initializer_list<uint8_t> data) {
    return delta(d).raw(data);
}

MidiWriter::Track& MidiWriter::Track::tempo(uint32_t d, uint32_t micros) {
    return meta(d, 0x51, {u8(micros >> 16), u8(micros >> 8), u8(micros)});
}

MidiWriter::Track& MidiWriter::Track::meta(uint32_t d, uint8_t type, const Bytes& data) {
    delta(d).raw({0xFF, type});
    raw(varLenBytes(static_cast<uint32_t>(data.size())));
    return raw(data);
}

MidiWriter::Track& MidiWriter::Track::sysex(uint32_t d, const Bytes& data) {
    delta(d).raw({0xF0});
    raw(varLenBytes(static_cast<uint32_t>(data.size())));
    return raw(data);
}

MidiWriter::Track& MidiWriter::Track::endOfTrack(uint32_t d) { return delta(d).raw({0xFF, 0x2F, 0x00}); }

MidiWriter::Track& MidiWriter::Track::raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

MidiWriter::Track& MidiWriter::track() {
    tracks_.emplace_back();
    order_.push_back({"MTrk", {}, static_cast<int>(tracks_.size()) - 1});
    return tracks_.back();
}

void MidiWriter::otherChunk(const char id[4], const Bytes& data) { order_.push_back({std::string(id, 4), data, -1}); }

Bytes MidiWriter::bytes() const {
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    out.push_back(static_cast<uint8_t>(format_ >> 8));
    out.push_back(static_cast<uint8_t>(format_));
    const int count = trackCount_ >= 0 ? trackCount_ : static_cast<int>(tracks_.size());
    out.push_back(static_cast<uint8_t>(count >> 8));
    out.push_back(static_cast<uint8_t>(count));
    out.push_back(static_cast<uint8_t>(division_ >> 8));
    out.push_back(static_cast<uint8_t>(division_));
    for (const Chunk& chunk : order_) {
        const Bytes& data = chunk.track >= 0 ? tracks_[static_cast<size_t>(chunk.track)].bytes() : chunk.data;
        const Bytes c = chunkBytes(chunk.id.c_str(), data);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

bool MidiWriter::write(const std::string& path) const { return writeBytes(path, bytes()); }

Bytes chunkBytes(const char id[4], const Bytes& data) {
    Bytes out(id, id + 4);
    put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes rmidFile(const Bytes& midi) {
    Bytes body{'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    put32le(body, static_cast<uint32_t>(midi.size()));
    body.insert(body.end(), midi.begin(), midi.end());
    if (midi.size() & 1) body.push_back(0);
    Bytes out{'R', 'I', 'F', 'F'};
    put32le(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool writeBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace tonvero::test
