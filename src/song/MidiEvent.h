#pragma once
// One event of a track, decoded in place from the file image: a channel
// message, a system-exclusive block, or a meta event. The sequencer and the
// tempo-map scan share this decoding, so both read a track the same way.
//
// Message kinds (the Track's runningKind), from a status byte's high nibble:
// 1 note on (0x9n), 2 note off (0x8n), 3 key pressure (0xAn), 4 control
// change (0xBn), 5 program change (0xCn), 6 channel pressure (0xDn), 7 pitch
// bend (0xEn), 8 system exclusive (0xF0, and 0xF7 for an escaped block: a
// length-prefixed block). 0xFF starts a meta event and never becomes a kind.
// The other system statuses (0xF1..0xF6, 0xF8..0xFE) have no place in a
// file: each is skipped with the data bytes MIDI gives it (0xF1 and 0xF3
// one, 0xF2 two, the others none), the running status untouched.

#include "song/TrackReader.h"

#include <cstdint>

namespace tonvero {

enum class MidiEventType {
    Channel,   // kind 1..7: channel, data1, data2 (data2 0 for kinds 5 and 6)
    SysEx,     // kind 8: the block was skipped (dataOffset, dataLength)
    Meta,      // metaType, metaLength, metaOffset
    Dropped,   // a data byte with no usable running status: the byte is dropped
    Illegal,   // a system status that has no place in a track, skipped with its data bytes
    Truncated  // the track's data ran out inside the event; the track has ended
};

struct MidiEvent {
    MidiEventType type = MidiEventType::Dropped;
    int32_t kind = 0;         // 1..8 for Channel and SysEx
    int32_t channel = 0;      // 0..15
    int32_t data1 = 0;        // 0..127
    int32_t data2 = 0;        // 0..127
    int32_t metaType = 0;     // 0..255
    uint32_t metaLength = 0;  // bytes of meta data
    int32_t metaOffset = 0;   // offset of the meta data in the file image
    int32_t dataOffset = 0;   // system exclusive: offset of the block in the file image
    uint32_t dataLength = 0;  // its length in bytes
};

// Reads the event at the Track's position and moves past it, using and
// updating the Track's running status. A status byte 0x80..0xFE sets the
// running kind and channel; a data byte reuses them and is itself the first
// data byte (for kind 8 it is dropped, and what follows is read as the
// block's length and contents). Data bytes are taken as their low 7 bits.
// Every meta event is skipped by its own length, whatever its type; meta
// events leave the running status alone.
inline MidiEvent readEvent(TrackReader& reader, Track& track) {
    MidiEvent event;
    const uint32_t s = reader.byte();
    if (reader.overran()) {
        event.type = MidiEventType::Truncated;
        return event;
    }
    if (s == 0xFF) {
        event.type = MidiEventType::Meta;
        event.metaType = static_cast<int32_t>(reader.byte());
        event.metaLength = reader.varLen();
        event.metaOffset = reader.offset();
        reader.skip(event.metaLength);
        if (reader.overran()) event.type = MidiEventType::Truncated;
        return event;
    }
    if (s > 0xF0 && s != 0xF7) {
        event.type = MidiEventType::Illegal;
        reader.skip(s == 0xF2 ? 2 : (s == 0xF1 || s == 0xF3) ? 1 : 0);
        if (reader.overran()) event.type = MidiEventType::Truncated;
        return event;
    }
    bool haveData1 = false;
    uint32_t data1 = 0;
    if (s >= 0x80) {
        track.runningKind = s >= 0xF0 ? 8 : (s < 0x90 ? 2 : s < 0xA0 ? 1 : static_cast<int32_t>((s >> 4) - 0x7));
        track.runningChannel = static_cast<int32_t>(s & 0x0F);
    } else {
        data1 = s;
        haveData1 = true;
    }
    event.kind = track.runningKind;
    event.channel = track.runningChannel;
    switch (event.kind) {
    case 8:
        event.type = MidiEventType::SysEx;
        event.dataLength = reader.varLen();
        event.dataOffset = reader.offset();
        reader.skip(event.dataLength);
        break;
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
        event.type = MidiEventType::Channel;
        event.data1 = static_cast<int32_t>((haveData1 ? data1 : reader.byte()) & 0x7F);
        event.data2 = static_cast<int32_t>(reader.byte() & 0x7F);
        break;
    case 5:
    case 6:
        event.type = MidiEventType::Channel;
        event.data1 = static_cast<int32_t>((haveData1 ? data1 : reader.byte()) & 0x7F);
        break;
    default: event.type = MidiEventType::Dropped; break;
    }
    if (reader.overran()) event.type = MidiEventType::Truncated;
    return event;
}

}  // namespace tonvero
