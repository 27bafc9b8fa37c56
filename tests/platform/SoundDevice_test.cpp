// The sound device on the offline backend: buffers, cursors, locks, the mix.

#include "platform/DeviceCore.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <future>
#include <numbers>
#include <thread>
#include <vector>

namespace tonvero {
namespace {

constexpr uint32_t kRate = 44100;

// A device on the offline backend, output format set, with helpers to let
// the output consume an exact number of frames.
class OfflineDevice : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceOpenResult opened = audio.deviceFactory()();
        ASSERT_TRUE(opened.device) << opened.error;
        device = std::move(opened.device);
        ASSERT_EQ(device->setCooperativeLevel(CooperativeLevel::Priority), SoundResult::Ok);
        BufferDesc desc;
        desc.flags = BufferFlags::PrimaryBuffer | BufferFlags::GetCurrentPosition2;
        ASSERT_EQ(device->createSoundBuffer(desc, primary), SoundResult::Ok);
        ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, kRate)), SoundResult::Ok);
    }

    // Lets the output consume `frames` more frames; returns them (interleaved stereo).
    std::vector<int16_t> consume(uint64_t frames) {
        audio.clearCaptured();
        const uint64_t target = audio.framesConsumed() + frames;
        // Frame n is due at n x 1e6 / rate microseconds; round up to reach it.
        audio.timers().advanceTo((target * 1000000 + kRate - 1) / kRate);
        EXPECT_EQ(audio.framesConsumed(), target);
        return audio.captured();
    }

    SoundBufferPtr makeBuffer(const WaveFormat& format, uint32_t bytes, uint32_t flags = 0) {
        WaveFormat f = format;
        BufferDesc desc;
        desc.flags = flags;
        desc.bufferBytes = bytes;
        desc.format = &f;
        SoundBufferPtr buffer;
        EXPECT_EQ(device->createSoundBuffer(desc, buffer), SoundResult::Ok);
        return buffer;
    }

    static void fill(const SoundBufferPtr& buffer, const std::vector<int16_t>& samples) {
        LockedRegions regions;
        ASSERT_EQ(buffer->lock(0, static_cast<uint32_t>(samples.size() * 2), regions), SoundResult::Ok);
        ASSERT_EQ(regions.secondBytes, 0u);
        std::memcpy(regions.first, samples.data(), regions.firstBytes);
        ASSERT_EQ(buffer->unlock(regions), SoundResult::Ok);
    }

    static uint32_t status(const SoundBufferPtr& buffer) {
        uint32_t s = 0;
        EXPECT_EQ(buffer->getStatus(s), SoundResult::Ok);
        return s;
    }

    static uint32_t cursor(const SoundBufferPtr& buffer) {
        uint32_t play = 0;
        uint32_t write = 0;
        EXPECT_EQ(buffer->getCurrentPosition(&play, &write), SoundResult::Ok);
        EXPECT_EQ(play, write);
        return play;
    }

    OfflineAudio audio;
    std::unique_ptr<SoundDevice> device;
    SoundBufferPtr primary;
};

// The software mixer's ring: half a second of output-format frames.
constexpr uint32_t kRingBytes = kRate * 2;
constexpr uint32_t kRingFrames = kRingBytes / 4;

std::vector<int16_t> rampFrames(uint32_t frames) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        v[2 * i] = static_cast<int16_t>(i % 30000);
        v[2 * i + 1] = static_cast<int16_t>(-static_cast<int32_t>(i % 30000));
    }
    return v;
}

TEST_F(OfflineDevice, PrimaryFormatSetsOutputRateAndSize) {
    EXPECT_EQ(device->outputRate(), kRate);
    EXPECT_STREQ(device->backendName(), "offline");
    uint32_t bytes = 0;
    ASSERT_EQ(primary->getCaps(bytes), SoundResult::Ok);
    EXPECT_EQ(bytes, kRate * 4);
    EXPECT_TRUE(primary->isPrimary());
    // Asking again gives the same primary buffer.
    BufferDesc desc;
    desc.flags = BufferFlags::PrimaryBuffer;
    SoundBufferPtr again;
    ASSERT_EQ(device->createSoundBuffer(desc, again), SoundResult::Ok);
    EXPECT_EQ(again, primary);
    EXPECT_EQ(device->liveBuffers(), 1u);
}

TEST_F(OfflineDevice, LoopingRingIsCopiedAndItsCursorAdvancesAndWraps) {
    SoundBufferPtr ring = makeBuffer(WaveFormat::pcm16(2, kRate), kRingBytes,
                                     BufferFlags::GetCurrentPosition2 | BufferFlags::GlobalFocus);
    const std::vector<int16_t> content = rampFrames(kRingFrames);
    fill(ring, content);
    ASSERT_EQ(ring->play(PlayFlags::Looping), SoundResult::Ok);
    EXPECT_EQ(cursor(ring), 0u);

    std::vector<int16_t> out = consume(1000);
    EXPECT_EQ(cursor(ring), 1000u * 4);
    ASSERT_EQ(out.size(), 2000u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin()));

    // Across the end: the cursor wraps and the output goes on from the start.
    out = consume(kRingFrames);
    EXPECT_EQ(cursor(ring), 1000u * 4);
    for (uint32_t i = 0; i < kRingFrames; ++i) {
        const uint32_t frame = (1000 + i) % kRingFrames;
        ASSERT_EQ(out[2 * i], content[2 * frame]) << "output frame " << i;
        ASSERT_EQ(out[2 * i + 1], content[2 * frame + 1]) << "output frame " << i;
    }

    // A stopped ring keeps its cursor and adds nothing.
    ASSERT_EQ(ring->stop(), SoundResult::Ok);
    out = consume(100);
    EXPECT_EQ(cursor(ring), 1000u * 4);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(OfflineDevice, LockGivesTwoRegionsAcrossTheEndAndTheWholeBufferOnRequest) {
    SoundBufferPtr ring = makeBuffer(WaveFormat::pcm16(2, kRate), kRingBytes);
    LockedRegions r;
    ASSERT_EQ(ring->lock(kRingBytes - 200, 1000, r), SoundResult::Ok);
    EXPECT_EQ(r.firstBytes, 200u);
    ASSERT_NE(r.second, nullptr);
    EXPECT_EQ(r.secondBytes, 800u);
    EXPECT_EQ(r.first - r.second, static_cast<ptrdiff_t>(kRingBytes - 200));
    EXPECT_EQ(ring->unlock(r), SoundResult::Ok);

    ASSERT_EQ(ring->lock(400, 1000, r), SoundResult::Ok);
    EXPECT_EQ(r.firstBytes, 1000u);
    EXPECT_EQ(r.second, nullptr);
    EXPECT_EQ(r.secondBytes, 0u);
    EXPECT_EQ(ring->unlock(r), SoundResult::Ok);

    ASSERT_EQ(ring->lock(12345, 0, r, LockFlags::EntireBuffer), SoundResult::Ok);
    EXPECT_EQ(r.firstBytes, kRingBytes);
    EXPECT_EQ(r.second, nullptr);
    EXPECT_EQ(ring->unlock(r), SoundResult::Ok);

    // The whole buffer from any offset wraps to end just before it.
    ASSERT_EQ(ring->lock(8, kRingBytes, r), SoundResult::Ok);
    EXPECT_EQ(r.firstBytes + r.secondBytes, kRingBytes);
    EXPECT_EQ(r.secondBytes, 8u);

    EXPECT_EQ(ring->lock(0, kRingBytes + 4, r), SoundResult::InvalidParam);
    EXPECT_EQ(ring->lock(kRingBytes, 4, r), SoundResult::InvalidParam);
    EXPECT_EQ(ring->lock(0, 0, r), SoundResult::InvalidParam);
    EXPECT_EQ(r.first, nullptr);
    EXPECT_EQ(ring->unlock(LockedRegions{}), SoundResult::InvalidParam);
}

// Counts sign changes of one side of interleaved stereo.
int zeroCrossings(const std::vector<int16_t>& stereo, int side) {
    int crossings = 0;
    for (size_t i = 2 + side; i < stereo.size(); i += 2)
        if ((stereo[i - 2] < 0) != (stereo[i] < 0)) ++crossings;
    return crossings;
}

int peak(const std::vector<int16_t>& stereo, int side) {
    int p = 0;
    for (size_t i = side; i < stereo.size(); i += 2) p = std::max(p, std::abs(static_cast<int>(stereo[i])));
    return p;
}

TEST_F(OfflineDevice, StaticBufferAtHalfItsRateQuieterAndRightOnly) {
    // One second of a 441 Hz sine at 22050 Hz, amplitude 16000.
    constexpr uint32_t kWaveRate = 22050;
    std::vector<int16_t> sine(kWaveRate);
    for (uint32_t i = 0; i < kWaveRate; ++i)
        sine[i] = static_cast<int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * 441 * i / kWaveRate + 0.1)));
    const uint32_t flags = BufferFlags::Static | BufferFlags::LocSoftware | BufferFlags::CtrlFrequency |
                           BufferFlags::CtrlPan | BufferFlags::CtrlVolume | BufferFlags::StickyFocus |
                           BufferFlags::GetCurrentPosition2;
    SoundBufferPtr wave = makeBuffer(WaveFormat::pcm16(1, kWaveRate), kWaveRate * 2, flags);
    fill(wave, sine);
    uint32_t hz = 0;
    ASSERT_EQ(wave->getFrequency(hz), SoundResult::Ok);
    EXPECT_EQ(hz, kWaveRate);

    ASSERT_EQ(wave->setFrequency(kWaveRate / 2), SoundResult::Ok);
    ASSERT_EQ(wave->setVolume(-600), SoundResult::Ok);
    ASSERT_EQ(wave->setPan(kPanRight), SoundResult::Ok);
    ASSERT_EQ(wave->setCurrentPosition(0), SoundResult::Ok);
    ASSERT_EQ(wave->play(0), SoundResult::Ok);

    // One second of output plays half the Wave at half its pitch: 220.5 Hz,
    // 441 zero crossings.
    const std::vector<int16_t> out = consume(kRate);
    EXPECT_NEAR(zeroCrossings(out, 1), 441, 2);
    EXPECT_EQ(peak(out, 0), 0) << "pan +10000 silences the left side";
    EXPECT_NEAR(peak(out, 1), 16000 * std::pow(10.0, -600 / 2000.0), 16000 * 0.01);
    EXPECT_EQ(cursor(wave), kWaveRate / 2 * 2);
    EXPECT_EQ(status(wave), BufferStatus::Playing);

    // Played once, it stops at its end.
    consume(kRate);
    EXPECT_EQ(status(wave), 0u);
    const std::vector<int16_t> after = consume(100);
    EXPECT_EQ(peak(after, 1), 0);
}

TEST_F(OfflineDevice, NegativePanSilencesTheRightAndVolumeFloorSilencesAll) {
    SoundBufferPtr wave = makeBuffer(WaveFormat::pcm16(1, kRate), 400);
    fill(wave, std::vector<int16_t>(200, 10000));
    ASSERT_EQ(wave->setPan(kPanLeft), SoundResult::Ok);
    ASSERT_EQ(wave->play(PlayFlags::Looping), SoundResult::Ok);
    std::vector<int16_t> out = consume(10);
    EXPECT_EQ(out[0], 10000);
    EXPECT_EQ(out[1], 0);

    ASSERT_EQ(wave->setPan(-2000), SoundResult::Ok);  // the right side 20 dB down
    out = consume(10);
    EXPECT_EQ(out[0], 10000);
    EXPECT_EQ(out[1], 1000);

    // Values beyond the range are held at its ends.
    ASSERT_EQ(wave->setVolume(-12000), SoundResult::Ok);
    int32_t volume = 0;
    ASSERT_EQ(wave->getVolume(volume), SoundResult::Ok);
    EXPECT_EQ(volume, kVolumeMin);
    out = consume(10);
    EXPECT_EQ(peak(out, 0), 0);
    EXPECT_EQ(peak(out, 1), 0);
    int32_t pan = 0;
    ASSERT_EQ(wave->setPan(20000), SoundResult::Ok);
    ASSERT_EQ(wave->getPan(pan), SoundResult::Ok);
    EXPECT_EQ(pan, kPanRight);
}

TEST_F(OfflineDevice, StatusReportsPlayingLoopingAndLost) {
    SoundBufferPtr wave = makeBuffer(WaveFormat::pcm16(1, kRate), 2000);
    fill(wave, std::vector<int16_t>(1000, 1234));
    EXPECT_EQ(status(wave), 0u);
    ASSERT_EQ(wave->play(PlayFlags::Looping), SoundResult::Ok);
    EXPECT_EQ(status(wave), BufferStatus::Playing | BufferStatus::Looping);
    consume(2500);  // loops past its end
    EXPECT_EQ(status(wave), BufferStatus::Playing | BufferStatus::Looping);
    EXPECT_EQ(cursor(wave), 500u * 2);

    // Played again without the flag it plays on to its end and stops.
    ASSERT_EQ(wave->play(0), SoundResult::Ok);
    EXPECT_EQ(status(wave), BufferStatus::Playing);
    std::vector<int16_t> out = consume(600);
    EXPECT_EQ(status(wave), 0u);
    EXPECT_EQ(out[2 * 499], 1234);
    EXPECT_EQ(out[2 * 500], 0);

    ASSERT_EQ(wave->play(PlayFlags::Looping), SoundResult::Ok);
    wave->simulateLoss();
    EXPECT_EQ(status(wave), BufferStatus::BufferLost);
    LockedRegions r;
    EXPECT_EQ(wave->lock(0, 2, r), SoundResult::BufferLost);
    EXPECT_EQ(wave->play(0), SoundResult::BufferLost);
    out = consume(10);
    EXPECT_EQ(peak(out, 0), 0);

    // Restored: usable again, silent and stopped.
    ASSERT_EQ(wave->restore(), SoundResult::Ok);
    EXPECT_EQ(status(wave), 0u);
    ASSERT_EQ(wave->lock(0, 0, r, LockFlags::EntireBuffer), SoundResult::Ok);
    EXPECT_TRUE(std::all_of(r.first, r.first + r.firstBytes, [](uint8_t b) { return b == 0; }));
    ASSERT_EQ(wave->unlock(r), SoundResult::Ok);
}

TEST_F(OfflineDevice, DeviceLossReachesEveryBuffer) {
    SoundBufferPtr a = makeBuffer(WaveFormat::pcm16(1, kRate), 200);
    SoundBufferPtr b = makeBuffer(WaveFormat::pcm16(2, kRate), 400);
    ASSERT_EQ(a->play(PlayFlags::Looping), SoundResult::Ok);
    device->simulateLoss();
    EXPECT_EQ(status(a), BufferStatus::BufferLost);
    EXPECT_EQ(status(b), BufferStatus::BufferLost);
    EXPECT_EQ(status(primary), BufferStatus::BufferLost);
    SoundBufferPtr dup;
    EXPECT_EQ(device->duplicateSoundBuffer(a, dup), SoundResult::BufferLost);
    EXPECT_EQ(dup, nullptr);
}

TEST_F(OfflineDevice, DuplicatePlaysTheSameSamplesAtItsOwnSettings) {
    std::vector<int16_t> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[i] = static_cast<int16_t>(i * 20);
    SoundBufferPtr original = makeBuffer(WaveFormat::pcm16(1, kRate), 2000);
    fill(original, ramp);
    SoundBufferPtr dup;
    ASSERT_EQ(device->duplicateSoundBuffer(original, dup), SoundResult::Ok);
    EXPECT_EQ(device->liveBuffers(), 3u);

    ASSERT_EQ(dup->setPan(kPanLeft), SoundResult::Ok);
    ASSERT_EQ(dup->setVolume(-2000), SoundResult::Ok);  // a tenth
    ASSERT_EQ(original->setCurrentPosition(200), SoundResult::Ok);
    EXPECT_EQ(cursor(dup), 0u);
    ASSERT_EQ(dup->play(0), SoundResult::Ok);
    EXPECT_EQ(status(original), 0u);
    std::vector<int16_t> out = consume(1000);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(out[2 * i], ramp[i] / 10) << "frame " << i;
        ASSERT_EQ(out[2 * i + 1], 0) << "frame " << i;
    }
    EXPECT_EQ(status(dup), 0u);

    // Both play at once, each from its own position; writes reach both.
    ASSERT_EQ(original->setVolume(0), SoundResult::Ok);
    ASSERT_EQ(dup->setCurrentPosition(0), SoundResult::Ok);
    ASSERT_EQ(original->play(0), SoundResult::Ok);
    ASSERT_EQ(dup->play(0), SoundResult::Ok);
    out = consume(1);
    EXPECT_EQ(out[0], ramp[100] + ramp[0] / 10);
    EXPECT_EQ(out[1], ramp[100]);
    fill(original, std::vector<int16_t>(1000, 5000));
    out = consume(1);
    EXPECT_EQ(out[0], 5000 + 500);
}

TEST_F(OfflineDevice, ReleasedBufferIsGoneFromTheDeviceAndTheMix) {
    SoundBufferPtr ring = makeBuffer(WaveFormat::pcm16(2, kRate), 400);
    fill(ring, std::vector<int16_t>(200, 3000));
    SoundBufferPtr dup;
    ASSERT_EQ(device->duplicateSoundBuffer(ring, dup), SoundResult::Ok);
    ASSERT_EQ(ring->play(PlayFlags::Looping), SoundResult::Ok);
    EXPECT_EQ(device->liveBuffers(), 3u);
    EXPECT_EQ(consume(1)[0], 3000);

    ring.reset();
    EXPECT_EQ(device->liveBuffers(), 2u);
    EXPECT_EQ(peak(consume(10), 0), 0);
    // The duplicate still holds the samples.
    ASSERT_EQ(dup->play(0), SoundResult::Ok);
    EXPECT_EQ(consume(1)[0], 3000);
    dup.reset();
    primary.reset();
    EXPECT_EQ(device->liveBuffers(), 0u);
}

TEST_F(OfflineDevice, MixSaturatesInsteadOfWrapping) {
    SoundBufferPtr a = makeBuffer(WaveFormat::pcm16(2, kRate), 8);
    SoundBufferPtr b = makeBuffer(WaveFormat::pcm16(2, kRate), 8);
    fill(a, {30000, -30000, 30000, -30000});
    fill(b, {30000, -30000, 30000, -30000});
    ASSERT_EQ(a->play(PlayFlags::Looping), SoundResult::Ok);
    ASSERT_EQ(b->play(PlayFlags::Looping), SoundResult::Ok);
    const std::vector<int16_t> out = consume(4);
    for (size_t i = 0; i < out.size(); i += 2) {
        EXPECT_EQ(out[i], 32767);
        EXPECT_EQ(out[i + 1], -32768);
    }
}

TEST_F(OfflineDevice, EightBitBuffersAreCentredOn128) {
    WaveFormat f8 = WaveFormat::pcm16(1, kRate);
    f8.bitsPerSample = 8;
    f8.blockAlign = 1;
    f8.avgBytesPerSec = kRate;
    SoundBufferPtr wave = makeBuffer(f8, 4);
    LockedRegions r;
    ASSERT_EQ(wave->lock(0, 4, r), SoundResult::Ok);
    const uint8_t bytes[4] = {192, 64, 128, 255};
    std::memcpy(r.first, bytes, 4);
    ASSERT_EQ(wave->unlock(r), SoundResult::Ok);
    ASSERT_EQ(wave->play(0), SoundResult::Ok);
    const std::vector<int16_t> out = consume(4);
    EXPECT_EQ(out[0], 16384);
    EXPECT_EQ(out[2], -16384);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[6], 127 * 256);
}

TEST_F(OfflineDevice, WritePrimaryModePlaysThePrimaryBuffer) {
    LockedRegions r;
    EXPECT_EQ(primary->lock(0, 16, r), SoundResult::InvalidParam) << "only in write-primary mode";
    ASSERT_EQ(device->setCooperativeLevel(CooperativeLevel::WritePrimary), SoundResult::Ok);
    uint32_t bytes = 0;
    ASSERT_EQ(primary->getCaps(bytes), SoundResult::Ok);
    ASSERT_EQ(primary->lock(bytes - 8, 16, r), SoundResult::Ok);
    ASSERT_EQ(r.firstBytes, 8u);
    ASSERT_EQ(r.secondBytes, 8u);
    const int16_t tail[4] = {1, 2, 3, 4};
    const int16_t head[4] = {5, 6, 7, 8};
    std::memcpy(r.first, tail, 8);
    std::memcpy(r.second, head, 8);
    ASSERT_EQ(primary->unlock(r), SoundResult::Ok);
    ASSERT_EQ(primary->setCurrentPosition(bytes - 8), SoundResult::Ok);
    ASSERT_EQ(primary->play(PlayFlags::Looping), SoundResult::Ok);
    const std::vector<int16_t> out = consume(4);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(cursor(primary), 8u);
}

TEST_F(OfflineDevice, RefusesBadDescriptionsAndHonoursTheBufferLimit) {
    SoundBufferPtr b;
    WaveFormat f = WaveFormat::pcm16(1, kRate);
    BufferDesc desc;
    desc.bufferBytes = 100;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::InvalidParam) << "no format";
    desc.format = &f;
    desc.size = 36;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::InvalidParam) << "wrong size";
    desc.size = 20;
    desc.bufferBytes = 0;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::InvalidParam) << "empty";
    desc.bufferBytes = 101;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::InvalidParam) << "half a frame";
    WaveFormat f24 = f;
    f24.bitsPerSample = 24;
    f24.blockAlign = 3;
    desc.format = &f24;
    desc.bufferBytes = 99;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::InvalidParam) << "24-bit";
    BufferDesc primaryWithSize;
    primaryWithSize.flags = BufferFlags::PrimaryBuffer;
    primaryWithSize.bufferBytes = 100;
    EXPECT_EQ(device->createSoundBuffer(primaryWithSize, b), SoundResult::InvalidParam);
    EXPECT_EQ(b, nullptr);

    SoundBufferPtr wave = makeBuffer(f, 100);
    EXPECT_EQ(wave->setFormat(f), SoundResult::InvalidParam) << "secondary buffers keep their format";
    EXPECT_EQ(primary->setFrequency(1000), SoundResult::InvalidParam);
    EXPECT_EQ(wave->setCurrentPosition(100), SoundResult::InvalidParam);
    EXPECT_EQ(primary->setFormat(WaveFormat::pcm16(3, kRate)), SoundResult::InvalidParam);
    EXPECT_EQ(device->setCooperativeLevel(static_cast<CooperativeLevel>(9)), SoundResult::InvalidParam);
    SoundBufferPtr none;
    EXPECT_EQ(device->duplicateSoundBuffer(none, b), SoundResult::InvalidParam);
    EXPECT_EQ(device->duplicateSoundBuffer(primary, b), SoundResult::InvalidParam);

    device->setBufferLimit(2);
    SoundBufferPtr second = makeBuffer(f, 100);
    desc.format = &f;
    desc.bufferBytes = 100;
    EXPECT_EQ(device->createSoundBuffer(desc, b), SoundResult::OutOfMemory);
    EXPECT_EQ(device->duplicateSoundBuffer(wave, b), SoundResult::OutOfMemory);
    second.reset();
    EXPECT_EQ(device->duplicateSoundBuffer(wave, b), SoundResult::Ok);
}

TEST_F(OfflineDevice, FrequencyZeroRestoresTheFormatRateAndOthersAreHeldInRange) {
    SoundBufferPtr wave = makeBuffer(WaveFormat::pcm16(1, 22050), 100);
    uint32_t hz = 0;
    ASSERT_EQ(wave->setFrequency(5), SoundResult::Ok);
    ASSERT_EQ(wave->getFrequency(hz), SoundResult::Ok);
    EXPECT_EQ(hz, kFrequencyMin);
    ASSERT_EQ(wave->setFrequency(5000000), SoundResult::Ok);
    ASSERT_EQ(wave->getFrequency(hz), SoundResult::Ok);
    EXPECT_EQ(hz, kFrequencyMax);
    ASSERT_EQ(wave->setFrequency(0), SoundResult::Ok);
    ASSERT_EQ(wave->getFrequency(hz), SoundResult::Ok);
    EXPECT_EQ(hz, 22050u);
}

TEST_F(OfflineDevice, BuffersOutliveTheirDeviceSilently) {
    SoundBufferPtr wave = makeBuffer(WaveFormat::pcm16(1, kRate), 100);
    device.reset();
    EXPECT_EQ(wave->play(PlayFlags::Looping), SoundResult::Ok);
    EXPECT_EQ(wave->setVolume(-100), SoundResult::Ok);
    const uint64_t before = audio.framesConsumed();
    audio.timers().advanceBy(10000);
    EXPECT_EQ(audio.framesConsumed(), before) << "the stream stopped with its device";
    wave.reset();
}

// A real-time backend that hands its render function to the test.
class HandOverBackend final : public AudioBackend {
public:
    explicit HandOverBackend(RenderFunction& pull) : pull_(pull) {}
    const char* name() const override { return "hand-over"; }
    std::string start(uint32_t, RenderFunction render) override {
        pull_ = std::move(render);
        return {};
    }
    void stop() override { pull_ = nullptr; }

private:
    RenderFunction& pull_;
};

TEST(RealTimeRender, TheAudioThreadNeverWaitsForTheDeviceLockAndCountsTheSilenceInstead) {
    RenderFunction pull;
    DeviceCore core(std::make_unique<HandOverBackend>(pull));
    DeviceCore::State primary;
    primary.primary = true;
    ASSERT_EQ(core.setPrimaryFormat(primary, WaveFormat::pcm16(2, kRate)), SoundResult::Ok);
    ASSERT_TRUE(pull);
    {
        MutexLock lock(core.mutex());
        core.level = CooperativeLevel::WritePrimary;
    }
    primary.playing = true;
    primary.looping = true;
    std::fill(primary.data->begin(), primary.data->end(), uint8_t{0x10});  // every sample 0x1010
    {
        MutexLock lock(core.mutex());
        core.add(&primary);
    }

    std::vector<int16_t> out(128, 7);
    {
        // Another thread holds the lock for longer than the audio thread tries
        // it: this period is silence, and the play cursor stays.
        std::promise<void> holding, done;
        std::thread holder([&] {
            MutexLock held(core.mutex());
            holding.set_value();
            done.get_future().wait();
        });
        holding.get_future().wait();
        pull(out.data(), 64);
        done.set_value();
        holder.join();
    }
    EXPECT_EQ(out, std::vector<int16_t>(128, 0));
    EXPECT_EQ(core.silentPeriods(), 1u);
    EXPECT_EQ(primary.position, 0u);
    pull(out.data(), 64);
    EXPECT_EQ(out, std::vector<int16_t>(128, 0x1010));
    EXPECT_EQ(core.silentPeriods(), 1u);
    EXPECT_EQ(primary.position >> 16, 64u);
    {
        MutexLock lock(core.mutex());
        core.remove(&primary);
    }
    core.shutdown();
}

}  // namespace
}  // namespace tonvero
