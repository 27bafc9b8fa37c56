// Live input on its way to the Studio mixer: a flood held without
// allocation, the overflow counted; held notes let go when the source goes.

#include "bank/Bank.h"
#include "engine/StudioMixer.h"
#include "live/LiveInput.h"

#include <gtest/gtest.h>

#include <vector>

namespace tonvero {
namespace {

// 10,000 messages in one go (a second's flood arriving before the renderer
// runs): the queue keeps its capacity's worth, counts the rest, and the
// renderer then applies every one it kept; the take's queue keeps them all.
TEST(LiveInput, AFloodIsHeldUpToTheQueueAndTheRestCounted) {
    Bank bank;
    StudioMixer mixer(48000, StudioSettings{}, bank, StudioMixer::Caller::DeviceCallback);
    LiveInput input(48000);
    input.attach(&mixer);
    for (int k = 0; k < 10000; ++k) {
        const uint8_t message[3] = {static_cast<uint8_t>(k % 2 ? 0x80 : 0x90), static_cast<uint8_t>(k % 128), 100};
        LiveInput::fromDevice(&input, static_cast<uint32_t>(k % 256), message, 3);
    }
    EXPECT_EQ(input.messages(), 10000u);
    EXPECT_EQ(input.dropped(), 10000u - StudioMixer::kQueueCapacity);
    EXPECT_EQ(mixer.counters().droppedEvents, 10000u - StudioMixer::kQueueCapacity);
    size_t taken = 0;
    input.takeMessages([&taken](const LiveInput::Stamped&) { ++taken; });
    EXPECT_EQ(taken, 10000u);  // the take's queue holds more than the renderer's
    std::vector<int16_t> out(2 * 256);
    mixer.renderInCallback(out.data(), 256);
    // The queue is free again: the next message is kept.
    const uint8_t one[3] = {0x90, 60, 100};
    LiveInput::fromDevice(&input, 0, one, 3);
    EXPECT_EQ(input.dropped(), 10000u - StudioMixer::kQueueCapacity);
}

// A source that goes away (its last connection dropped) has its notes and
// pedals let go: note-offs for the keys it held, the pedals up.
TEST(LiveInput, AGoneSourceLetsGoOfWhatItHeld) {
    Bank bank;
    StudioMixer mixer(48000, StudioSettings{}, bank, StudioMixer::Caller::DeviceCallback);
    LiveInput input(48000);
    input.attach(&mixer);
    const std::vector<std::vector<uint8_t>> played = {
        {0x90, 60, 100}, {0x91, 64, 90}, {0xB0, 64, 127}, {0x90, 67, 80}, {0x80, 67, 0}, {0x90, 72}};
    for (const auto& m : played) LiveInput::fromDevice(&input, 0, m.data(), m.size());
    EXPECT_EQ(input.heldNotes(), 2);  // 60 and 64; 67 let go, 72 half read
    input.takeMessages([](const LiveInput::Stamped&) {});
    LiveInput::fromDevice(&input, 0, nullptr, 0);
    std::vector<LiveMessage> sent;
    input.takeMessages([&sent](const LiveInput::Stamped& s) { sent.push_back(s.message); });
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].status, 0xB0);  // channel 1's sustain up
    EXPECT_EQ(sent[0].data2, 0);
    EXPECT_EQ(sent[1].status, 0x80);
    EXPECT_EQ(sent[1].data1, 60);
    EXPECT_EQ(sent[2].status, 0x81);
    EXPECT_EQ(sent[2].data1, 64);
    EXPECT_EQ(input.heldNotes(), 0);
    // The half-read message was forgotten: a data byte alone now is dropped.
    const uint8_t stray[1] = {50};
    LiveInput::fromDevice(&input, 0, stray, 1);
    EXPECT_EQ(input.heldNotes(), 0);
}

}  // namespace
}  // namespace tonvero
