#include "song/TempoMap.h"

#include "engine/Midi.h"
#include "song/MidiEvent.h"
#include "song/TrackReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tonvero {

double smpteTicksPerSecond(int32_t division) {
    if (!isSmpteDivision(division)) return 0;
    const int32_t framesCode = -static_cast<int32_t>(static_cast<int8_t>((division >> 8) & 0xFF));
    const int32_t ticksPerFrame = division & 0xFF;
    // Code 29 is 30-frame drop-frame time code: 29.97 frames per second.
    const double framesPerSecond = framesCode == 29 ? 30000.0 / 1001.0 : framesCode;
    return framesPerSecond * ticksPerFrame;
}

double microsPerTick(int32_t division, int32_t tempo) {
    if (isSmpteDivision(division)) {
        const double ticksPerSecond = smpteTicksPerSecond(division);
        return ticksPerSecond > 0 ? 1e6 / ticksPerSecond : 0;
    }
    if (division <= 0) return 0;
    return static_cast<double>(tempo) / division;
}

namespace {

struct TempoChange {
    uint64_t tick;
    int32_t tempo;
};

// A marker's text is `name`, in any case.
bool markerIs(const std::vector<uint8_t>& songData, const MidiEvent& event, const char* name) {
    const size_t length = std::strlen(name);
    if (event.metaLength != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (std::tolower(songData[static_cast<size_t>(event.metaOffset) + i]) != std::tolower(name[i])) return false;
    return true;
}

constexpr int32_t kMarker = 0x06;
constexpr int32_t kEndOfTrack = 0x2F;
constexpr int32_t kSetTempo = 0x51;

// Reads one track to its end; returns the tick at which it ends and adds
// its tempo changes and loop marks to `timing`'s scan.
uint64_t scanTrack(const std::vector<uint8_t>& songData, Track track, std::vector<TempoChange>& changes,
                   SongTiming& timing, uint64_t& loopController) {
    const bool cut = track.cut != 0;
    track.position = 0;
    track.ended = 0;
    track.runningKind = 0;
    track.runningChannel = 0;
    TrackReader reader(songData.data(), track);
    uint64_t tick = reader.varLen();
    if (track.ended) return 0;
    bool whole = !cut;
    for (;;) {
        const MidiEvent event = readEvent(reader, track);
        if (event.type == MidiEventType::Truncated) {
            whole = false;
            break;
        }
        if (event.type == MidiEventType::Meta) {
            if (event.metaType == kEndOfTrack && event.metaLength == 0) break;
            if (event.metaType == kSetTempo && event.metaLength == 3) {
                const uint8_t* b = songData.data() + event.metaOffset;
                const int32_t tempo = (b[0] << 16) | (b[1] << 8) | b[2];
                if (tempo > 0) changes.push_back({tick, tempo});
            }
            if (event.metaType == kMarker && markerIs(songData, event, "loopStart"))
                timing.loopStartTick = std::min(timing.loopStartTick, tick);
            if (event.metaType == kMarker && markerIs(songData, event, "loopEnd"))
                timing.loopEndTick = std::min(timing.loopEndTick, tick);
        } else if (event.type == MidiEventType::Channel && event.kind == midi::kind::kControlChange &&
                   event.data1 == midi::cc::kLoopStart) {
            loopController = std::min(loopController, tick);
        }
        const uint32_t delta = reader.varLen();
        if (reader.overran()) break;
        tick += delta;
    }
    if (!whole) timing.damagedTick = std::min(timing.damagedTick, tick);
    return tick;
}

}  // namespace

SongTiming scanSongTiming(const std::vector<uint8_t>& songData, TrackList& tracks, int32_t division, int32_t format) {
    SongTiming timing;
    std::vector<TempoChange> changes;
    uint64_t loopController = kNoTick;
    for (int32_t t = 0; t < tracks.size(); ++t) {
        Track& track = *tracks.at(t);
        if (format != 2) {
            track.startTick = 0;
            timing.endTick = std::max(timing.endTick, scanTrack(songData, track, changes, timing, loopController));
            continue;
        }
        // One sequence after another, each from the default tempo.
        track.startTick = timing.endTick;
        if (t > 0) changes.push_back({track.startTick, kDefaultTempo});
        const size_t before = changes.size();
        SongTiming own;
        uint64_t ownController = kNoTick;
        const uint64_t length = scanTrack(songData, track, changes, own, ownController);
        for (size_t k = before; k < changes.size(); ++k) changes[k].tick += track.startTick;
        // A sequence's loop marks and damage count from its own beginning.
        auto shifted = [&](uint64_t tick) { return tick == kNoTick ? kNoTick : tick + track.startTick; };
        timing.loopStartTick = std::min(timing.loopStartTick, shifted(own.loopStartTick));
        timing.loopEndTick = std::min(timing.loopEndTick, shifted(own.loopEndTick));
        timing.damagedTick = std::min(timing.damagedTick, shifted(own.damagedTick));
        loopController = std::min(loopController, shifted(ownController));
        timing.endTick = track.startTick + length;
    }
    // Markers name a loop only when they make one; controller 111 starts a
    // loop that ends with the song.
    if (timing.loopStartTick == kNoTick || timing.loopEndTick == kNoTick ||
        timing.loopEndTick <= timing.loopStartTick) {
        timing.loopStartTick = kNoTick;
        timing.loopEndTick = kNoTick;
        if (loopController < timing.endTick) {
            timing.loopStartTick = loopController;
            timing.loopEndTick = timing.endTick;
        }
    }

    timing.division = division;
    const double defaultSeconds = microsPerTick(division, kDefaultTempo) * 1e-6;
    timing.tempoMap.push_back({0, 0.0, defaultSeconds, static_cast<uint32_t>(kDefaultTempo), 0});
    if (!isSmpteDivision(division)) {
        // Track by track, then file order: at one tick the last change wins,
        // as it does when the sequencer dispatches them in that order.
        std::stable_sort(changes.begin(), changes.end(),
                         [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
        for (const TempoChange& change : changes) {
            TempoPoint& last = timing.tempoMap.back();
            const double secondsPerTick = microsPerTick(division, change.tempo) * 1e-6;
            if (change.tick == last.tick) {
                last.secondsPerTick = secondsPerTick;
                last.tempo = static_cast<uint32_t>(change.tempo);
                continue;
            }
            const double seconds = last.seconds + static_cast<double>(change.tick - last.tick) * last.secondsPerTick;
            const TickTempoSum tickTempo = last.tickTempo + TickTempoSum{change.tick - last.tick} * last.tempo;
            timing.tempoMap.push_back(
                {change.tick, seconds, secondsPerTick, static_cast<uint32_t>(change.tempo), tickTempo});
        }
    }
    timing.lengthSeconds = secondsAtTick(timing, timing.endTick);
    return timing;
}

uint64_t frameAtTick(const SongTiming& timing, uint64_t tick, int32_t rate) {
    if (rate <= 0 || timing.tempoMap.empty() || timing.division == 0) return 0;
    const TickTempoSum r = static_cast<TickTempoSum>(rate);
    TickTempoSum frame = 0;
    if (isSmpteDivision(timing.division)) {
        const int32_t framesCode = -static_cast<int32_t>(static_cast<int8_t>((timing.division >> 8) & 0xFF));
        const uint64_t ticksPerFrame = static_cast<uint64_t>(timing.division & 0xFF);
        if (framesCode <= 0 || ticksPerFrame == 0) return 0;
        // Code 29 is 30000/1001 frames per second.
        if (framesCode == 29)
            frame = TickTempoSum{tick} * r * 1001 / (TickTempoSum{30000} * static_cast<TickTempoSum>(ticksPerFrame));
        else
            frame = TickTempoSum{tick} * r /
                    (static_cast<TickTempoSum>(framesCode) * static_cast<TickTempoSum>(ticksPerFrame));
    } else {
        auto after = std::upper_bound(timing.tempoMap.begin(), timing.tempoMap.end(), tick,
                                      [](uint64_t t, const TempoPoint& p) { return t < p.tick; });
        const TempoPoint& p = after == timing.tempoMap.begin() ? timing.tempoMap.front() : *(after - 1);
        const uint64_t ticks = tick > p.tick ? tick - p.tick : 0;
        const TickTempoSum sum = p.tickTempo + TickTempoSum{ticks} * static_cast<TickTempoSum>(p.tempo);
        frame = sum * r / (static_cast<TickTempoSum>(timing.division) * 1000000u);
    }
    return frame > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(frame);
}

uint64_t tickAtFrame(const SongTiming& timing, uint64_t frame, int32_t rate) {
    uint64_t low = 0;
    uint64_t high = timing.endTick;
    if (frameAtTick(timing, high, rate) < frame) return high;
    // Frames never fall as ticks rise: the first tick at or past `frame`.
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (frameAtTick(timing, middle, rate) >= frame)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

double secondsAtTick(const SongTiming& timing, uint64_t tick) {
    if (timing.tempoMap.empty()) return 0;
    auto after = std::upper_bound(timing.tempoMap.begin(), timing.tempoMap.end(), tick,
                                  [](uint64_t t, const TempoPoint& p) { return t < p.tick; });
    const TempoPoint& p = after == timing.tempoMap.begin() ? timing.tempoMap.front() : *(after - 1);
    if (tick < p.tick) return p.seconds;
    return p.seconds + static_cast<double>(tick - p.tick) * p.secondsPerTick;
}

}  // namespace tonvero
