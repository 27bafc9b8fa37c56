// A lock on a buffer that plays. The software mixer locks its looping ring
// every 20 ms, and clears the whole of it at Stop and at an editor's Test,
// while the audio thread renders that same ring. The device goes on playing
// the bytes as they were until unlock, and unlock copies what was written
// under the device's own critical section: the audio thread never reads a
// byte while another thread writes it. (The thread stress test found the
// ring cleared while the null output's thread read it.)

#include "platform/SoundDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace tonvero {
namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = 64;  // the ring, in stereo frames
constexpr uint32_t kRingBytes = kFrames * 4;
constexpr int16_t kOld = 1000;   // every sample before the lock
constexpr int16_t kNew = -2000;  // every sample written under the lock

class PlayingRing : public ::testing::Test {
protected:
    void SetUp() override {
        // An offline device driven by nobody: render() is called here, on
        // whichever thread plays the audio thread's part.
        std::string error;
        device = SoundDevice::open("offline", error);
        ASSERT_TRUE(device) << error;
        ASSERT_EQ(device->setCooperativeLevel(CooperativeLevel::Priority), SoundResult::Ok);
        BufferDesc primaryDesc;
        primaryDesc.flags = BufferFlags::PrimaryBuffer;
        ASSERT_EQ(device->createSoundBuffer(primaryDesc, primary), SoundResult::Ok);
        ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, kRate)), SoundResult::Ok);

        const WaveFormat format = WaveFormat::pcm16(2, kRate);
        BufferDesc desc;
        desc.bufferBytes = kRingBytes;
        desc.format = &format;
        ASSERT_EQ(device->createSoundBuffer(desc, ring), SoundResult::Ok);
        // Filled while stopped, then played round and round.
        LockedRegions regions;
        ASSERT_EQ(ring->lock(0, 0, regions, LockFlags::EntireBuffer), SoundResult::Ok);
        fillSamples(regions.first, regions.firstBytes, kOld);
        ASSERT_EQ(ring->unlock(regions), SoundResult::Ok);
        ASSERT_EQ(ring->play(PlayFlags::Looping), SoundResult::Ok);
    }

    static void fillSamples(uint8_t* bytes, uint32_t count, int16_t value) {
        for (uint32_t i = 0; i + 1 < count; i += 2) std::memcpy(bytes + i, &value, 2);
    }

    // What the output hears over the next `frames` frames (interleaved stereo).
    std::vector<int16_t> render(uint32_t frames) {
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
        device->render(out.data(), frames);
        return out;
    }

    static std::vector<int16_t> all(int16_t value, uint32_t frames) {
        return std::vector<int16_t>(static_cast<size_t>(frames) * 2, value);
    }

    std::unique_ptr<SoundDevice> device;
    SoundBufferPtr primary;
    SoundBufferPtr ring;
};

TEST_F(PlayingRing, ARenderDuringTheLockHearsTheBytesAsTheyWere) {
    LockedRegions regions;
    ASSERT_EQ(ring->lock(0, 0, regions, LockFlags::EntireBuffer), SoundResult::Ok);
    ASSERT_EQ(regions.firstBytes, kRingBytes);
    // The regions start as the buffer is.
    int16_t first = 0;
    std::memcpy(&first, regions.first + 100, 2);
    EXPECT_EQ(first, kOld);

    fillSamples(regions.first, regions.firstBytes, kNew);
    EXPECT_EQ(render(16), all(kOld, 16)) << "the render read the bytes being written";
    ASSERT_EQ(ring->unlock(regions), SoundResult::Ok);
    EXPECT_EQ(render(16), all(kNew, 16)) << "unlock did not bring the written bytes";
}

TEST_F(PlayingRing, UnlockBringsOnlyTheBytesItNamesAcrossTheEnd) {
    // Two regions: the last 16 frames and the first 16, as a write-ahead
    // that wraps round the end of the ring.
    LockedRegions regions;
    ASSERT_EQ(ring->lock(kRingBytes - 64, 128, regions), SoundResult::Ok);
    ASSERT_EQ(regions.firstBytes, 64u);
    ASSERT_EQ(regions.secondBytes, 64u);
    fillSamples(regions.first, regions.firstBytes, kNew);
    fillSamples(regions.second, regions.secondBytes, kNew);
    // Only the first 8 frames after the end are said to be written.
    LockedRegions written = regions;
    written.secondBytes = 32;
    ASSERT_EQ(ring->unlock(written), SoundResult::Ok);

    std::vector<int16_t> expected = all(kNew, 8);
    const std::vector<int16_t> rest = all(kOld, kFrames - 24);
    expected.insert(expected.end(), rest.begin(), rest.end());
    const std::vector<int16_t> tail = all(kNew, 16);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(render(kFrames), expected);
}

TEST_F(PlayingRing, AStoppedBufferIsWrittenInPlace) {
    ASSERT_EQ(ring->stop(), SoundResult::Ok);
    LockedRegions regions;
    ASSERT_EQ(ring->lock(0, 0, regions, LockFlags::EntireBuffer), SoundResult::Ok);
    fillSamples(regions.first, regions.firstBytes, kNew);
    // Nothing is played from a stopped buffer, so nothing is kept aside:
    // what is written is the buffer, even before unlock.
    LockedRegions again;
    ASSERT_EQ(ring->lock(0, 4, again), SoundResult::Ok);
    EXPECT_EQ(again.first, regions.first);
    int16_t sample = 0;
    std::memcpy(&sample, again.first, 2);
    EXPECT_EQ(sample, kNew);
    ASSERT_EQ(ring->unlock(regions), SoundResult::Ok);
    ASSERT_EQ(ring->play(PlayFlags::Looping), SoundResult::Ok);
    EXPECT_EQ(render(16), all(kNew, 16));
}

TEST_F(PlayingRing, TheAudioThreadRendersWhileAnotherThreadWrites) {
    // The two threads take turns through relaxed atomics, which order no
    // memory for ThreadSanitizer: between the writes and the render there
    // are only the device's own critical sections, as between the mixer
    // timer and the audio thread.
    std::atomic<int> turn{0};
    std::vector<int16_t> heard;
    std::thread audio([&] {
        while (turn.load(std::memory_order_relaxed) != 1) std::this_thread::yield();
        heard = render(kFrames);
        turn.store(2, std::memory_order_relaxed);
    });

    LockedRegions regions;
    const bool locked = ring->lock(0, 0, regions, LockFlags::EntireBuffer) == SoundResult::Ok;
    EXPECT_TRUE(locked);
    if (locked) {
        fillSamples(regions.first, regions.firstBytes, kNew);
    }
    turn.store(1, std::memory_order_relaxed);
    while (turn.load(std::memory_order_relaxed) != 2) std::this_thread::yield();
    if (locked) {
        EXPECT_EQ(ring->unlock(regions), SoundResult::Ok);
    }
    audio.join();

    EXPECT_EQ(heard, all(kOld, kFrames));
    EXPECT_EQ(render(16), all(kNew, 16));
}

}  // namespace
}  // namespace tonvero
