#include "live/TakeRecorder.h"

#include "bank/FileUtil.h"

#include <algorithm>
#include <numeric>

namespace tonvero {

namespace {

constexpr uint64_t kMicrosPerSecond = 1000000;
constexpr uint32_t kMaxDivision = 0x7FFF;   // ticks per quarter; the top bit would mean SMPTE time
constexpr uint32_t kMaxDelta = 0x0FFFFFFF;  // the longest delta time a variable-length quantity holds

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

void putVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

// The delta from `from` to `to`; a gap too long for one delta is bridged by
// empty text events.
void putDelta(std::vector<uint8_t>& out, uint64_t from, uint64_t to) {
    uint64_t gap = to - from;
    while (gap > kMaxDelta) {
        putVarLen(out, kMaxDelta);
        out.insert(out.end(), {0xFF, 0x01, 0x00});
        gap -= kMaxDelta;
    }
    putVarLen(out, static_cast<uint32_t>(gap));
}

}  // namespace

TakeRecorder::TakeRecorder(int32_t outputRate, uint64_t startFrame)
    : rate_(std::max(outputRate, 1)), startFrame_(startFrame) {
    const uint64_t rate = static_cast<uint64_t>(rate_);
    // A tick of exactly one frame: division = rate x tempo / 1,000,000 in
    // whole ticks, at most kMaxDivision. First 120 beats a minute and its
    // doublings, then any tempo up to 500,000 microseconds that divides out.
    auto exactAt = [&](uint64_t tempo) {
        return tempo > 0 && rate * tempo % kMicrosPerSecond == 0 && rate * tempo / kMicrosPerSecond >= 1 &&
               rate * tempo / kMicrosPerSecond <= kMaxDivision;
    };
    uint64_t chosen = 0;
    for (uint64_t tempo = 500000; tempo >= 1 && !chosen; tempo /= 2)
        if (exactAt(tempo)) chosen = tempo;
    if (!chosen) {
        const uint64_t step = kMicrosPerSecond / std::gcd(rate, kMicrosPerSecond);
        for (uint64_t tempo = 500000 / step * step; tempo >= step && !chosen; tempo -= step)
            if (exactAt(tempo)) chosen = tempo;
    }
    if (chosen) {
        tempo_ = static_cast<uint32_t>(chosen);
        division_ = static_cast<uint16_t>(rate * chosen / kMicrosPerSecond);
    } else {
        exact_ = false;
        tempo_ = 500000;
        division_ = static_cast<uint16_t>(std::clamp<uint64_t>(rate / 2, 1, kMaxDivision));
    }
}

uint64_t TakeRecorder::tickOf(uint64_t frame) const {
    const uint64_t frames = frame > startFrame_ ? frame - startFrame_ : 0;
    if (exact_) return frames;
    // ticks = frames x division x 1,000,000 / (rate x tempo), to the nearest.
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames) * division_ * kMicrosPerSecond;
    const unsigned __int128 per = static_cast<unsigned __int128>(rate_) * tempo_;
    return static_cast<uint64_t>((scaled + per / 2) / per);
}

void TakeRecorder::add(uint64_t frame, const LiveMessage& message) {
    uint64_t tick = tickOf(frame);
    if (!events_.empty()) tick = std::max(tick, events_.back().tick);
    events_.push_back({tick, message});
}

std::vector<uint8_t> TakeRecorder::fileBytes() const {
    std::vector<uint8_t> track;
    track.reserve(16 + events_.size() * 5);
    // The tempo at tick 0.
    track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03});
    track.push_back(static_cast<uint8_t>(tempo_ >> 16));
    track.push_back(static_cast<uint8_t>(tempo_ >> 8));
    track.push_back(static_cast<uint8_t>(tempo_));
    uint64_t last = 0;
    for (const Event& e : events_) {
        putDelta(track, last, e.tick);
        last = e.tick;
        if (e.message.kind == LiveMessage::Kind::SystemReset) {
            track.insert(track.end(), {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
            continue;
        }
        const uint8_t type = e.message.status & 0xF0;
        track.push_back(e.message.status);
        track.push_back(e.message.data1 & 0x7F);
        if (type != 0xC0 && type != 0xD0) track.push_back(e.message.data2 & 0x7F);
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});

    std::vector<uint8_t> file{'M', 'T', 'h', 'd'};
    put32(file, 6);
    put16(file, 0);  // format 0
    put16(file, 1);  // one track
    put16(file, division_);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put32(file, static_cast<uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

bool TakeRecorder::save(const std::string& path) const {
    const std::vector<uint8_t> bytes = fileBytes();
    return replaceFileContents(path, bytes.data(), bytes.size());
}

}  // namespace tonvero
