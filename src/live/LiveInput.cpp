#include "live/LiveInput.h"

#include "engine/Midi.h"
#include "engine/StudioMixer.h"
#include "song/Sequencer.h"

#include <algorithm>
#include <bit>

namespace tonvero {

LiveInput::LiveInput(int32_t outputRate)
    : rate_(std::max(1, outputRate)), pending_(kTakeCapacity), take_(kTakeCapacity) {}

void LiveInput::attachPolled() {
    mixer_.store(nullptr, std::memory_order_release);
    polledSince_.store(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count(),
        std::memory_order_relaxed);
    polled_.store(true, std::memory_order_release);
}

uint64_t LiveInput::nowFrame() const { return frameFor(std::chrono::steady_clock::now()); }

void LiveInput::fromDevice(void* self, uint32_t offset, const uint8_t* bytes, size_t size) {
    auto* input = static_cast<LiveInput*>(self);
    if (size == 0) {
        input->releaseHeld();
        return;
    }
    StudioMixer* mixer = input->mixer_.load(std::memory_order_acquire);
    if (!mixer) {
        // Not the device's own renderer: the frame its arrival makes.
        input->receive(bytes, size, input->frameFor(std::chrono::steady_clock::now()) + offset);
        return;
    }
    // The renderer's own thread, just before it renders this period: its next frame is the period's first.
    input->receive(bytes, size, mixer->nextFrame() + offset);
}

void LiveInput::fromPort(void* self, const uint8_t* bytes, size_t size, std::chrono::steady_clock::time_point arrival) {
    auto* input = static_cast<LiveInput*>(self);
    input->receive(bytes, size, input->frameFor(arrival));
}

uint64_t LiveInput::frameFor(std::chrono::steady_clock::time_point arrival) const {
    StudioMixer* mixer = mixer_.load(std::memory_order_acquire);
    if (!mixer) {
        if (!polled_.load(std::memory_order_acquire)) return 0;
        const int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(arrival.time_since_epoch()).count() -
                              polledSince_.load(std::memory_order_relaxed);
        return since > 0 ? static_cast<uint64_t>(static_cast<double>(since) * rate_ / 1e9) : 0;
    }
    uint64_t frame = 0;
    int64_t nanos = 0;
    uint32_t period = 0;
    if (!mixer->lastCallback(frame, nanos, period)) return mixer->nextFrame();
    const int64_t since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(arrival.time_since_epoch()).count() - nanos;
    // Arrivals before that callback began (a late one) count from its start.
    const uint64_t into = since > 0 ? static_cast<uint64_t>(static_cast<double>(since) * rate_ / 1e9) : 0;
    return frame + into + period;
}

void LiveInput::receive(const uint8_t* bytes, size_t size, uint64_t frame) {
    LiveMessage message;
    for (size_t k = 0; k < size; ++k)
        if (reader_.push(bytes[k], message)) deliver(message, frame);
}

void LiveInput::deliver(const LiveMessage& message, uint64_t frame) {
    messages_.fetch_add(1, std::memory_order_relaxed);
    StudioEvent e;
    e.frame = frame;
    if (message.kind == LiveMessage::Kind::SystemReset) {
        e.kind = StudioEvent::Kind::SystemReset;
        for (auto& keys : held_) keys[0] = keys[1] = 0;
        sustained_ = sostenuto_ = 0;
        heldCount_.store(0, std::memory_order_relaxed);
    } else {
        const int32_t channel = message.status & 0x0F;
        e.kind = StudioEvent::Kind::Midi;
        e.type = static_cast<uint8_t>(message.status & 0xF0);
        e.channel = static_cast<uint8_t>(channel);
        e.data1 = message.data1;
        e.data2 = message.data2;
        uint64_t& keys = held_[channel][message.data1 >> 6];
        const uint64_t bit = uint64_t{1} << (message.data1 & 63);
        const uint16_t channelBit = static_cast<uint16_t>(1u << channel);
        if (e.type == midi::kNoteOn && !(keys & bit)) {
            keys |= bit;
            heldCount_.fetch_add(1, std::memory_order_relaxed);
        } else if (e.type == midi::kNoteOff && (keys & bit)) {
            keys &= ~bit;
            heldCount_.fetch_sub(1, std::memory_order_relaxed);
        } else if (e.type == midi::kControlChange && message.data1 == midi::cc::kSustain) {
            sustained_ = message.data2 >= midi::kPedalDown ? sustained_ | channelBit : sustained_ & ~channelBit;
        } else if (e.type == midi::kControlChange && message.data1 == midi::cc::kSostenuto) {
            sostenuto_ = message.data2 >= midi::kPedalDown ? sostenuto_ | channelBit : sostenuto_ & ~channelBit;
        }
    }
    bool queued = false;
    if (StudioMixer* mixer = mixer_.load(std::memory_order_acquire))
        queued = mixer->postLive(e);
    else if (polled_.load(std::memory_order_acquire))
        // The Custom and hardware mixers hear no resets, from a song or live.
        queued = e.kind != StudioEvent::Kind::Midi || pending_.push(message);
    if (!queued) dropped_.fetch_add(1, std::memory_order_relaxed);
    if (!take_.push({frame, message})) takeDropped_.fetch_add(1, std::memory_order_relaxed);
}

void LiveInput::playPending(MixerEngine& engine) {
    while (const LiveMessage* m = pending_.front()) {
        playLiveMessage(engine, m->status, m->data1, m->data2);
        pending_.pop();
    }
}

void LiveInput::releaseHeld() {
    reader_.reset();
    StudioMixer* mixer = mixer_.load(std::memory_order_acquire);
    const uint64_t now = mixer ? mixer->nextFrame() : nowFrame();
    auto send = [&](uint8_t status, uint8_t data1, uint8_t data2) {
        LiveMessage m;
        m.status = status;
        m.data1 = data1;
        m.data2 = data2;
        deliver(m, now);
    };
    for (int32_t c = 0; c < 16; ++c) {
        const uint16_t bit = static_cast<uint16_t>(1u << c);
        if (sustained_ & bit) send(static_cast<uint8_t>(midi::kControlChange | c), midi::cc::kSustain, 0);
        if (sostenuto_ & bit) send(static_cast<uint8_t>(midi::kControlChange | c), midi::cc::kSostenuto, 0);
        for (int32_t half = 0; half < 2; ++half)
            for (uint64_t keys = held_[c][half]; keys != 0; keys &= keys - 1)
                send(static_cast<uint8_t>(midi::kNoteOff | c), static_cast<uint8_t>(half * 64 + std::countr_zero(keys)),
                     0);
    }
}

}  // namespace tonvero
