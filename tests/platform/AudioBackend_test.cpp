// Choosing and opening backends by name; the offline backend's clock and sink.

#include "platform/AudioBackend.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tonvero {
namespace {

TEST(AudioBackend, NamesAndTheEnvironment) {
    EXPECT_TRUE(isBackendName("portaudio"));
    EXPECT_TRUE(isBackendName("null"));
    EXPECT_TRUE(isBackendName("offline"));
    EXPECT_FALSE(isBackendName("alsa"));
    EXPECT_FALSE(isBackendName(""));

    ASSERT_EQ(setenv("TONVERO_AUDIO", "null", 1), 0);
    EXPECT_EQ(chooseBackendName("offline"), "offline");
    EXPECT_EQ(chooseBackendName(""), "null");
    ASSERT_EQ(setenv("TONVERO_AUDIO", "", 1), 0);
    EXPECT_EQ(chooseBackendName(""), "portaudio");
    ASSERT_EQ(unsetenv("TONVERO_AUDIO"), 0);
    EXPECT_EQ(chooseBackendName("", "null"), "null");
}

TEST(AudioBackend, UnknownNameIsRefusedWithAReason) {
    std::string error;
    EXPECT_EQ(SoundDevice::open("alsa", error), nullptr);
    EXPECT_NE(error.find("alsa"), std::string::npos);
    DeviceOpenResult result = backendDeviceFactory("bogus")();
    EXPECT_EQ(result.device, nullptr);
    EXPECT_FALSE(result.error.empty());
}

TEST(AudioBackend, NullBackendStartsAndStopsWithItsDevice) {
    DeviceOpenResult result = backendDeviceFactory("null")();
    ASSERT_TRUE(result.device) << result.error;
    EXPECT_STREQ(result.device->backendName(), "null");
    BufferDesc desc;
    desc.flags = BufferFlags::PrimaryBuffer;
    SoundBufferPtr primary;
    ASSERT_EQ(result.device->createSoundBuffer(desc, primary), SoundResult::Ok);
    ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, 22050)), SoundResult::Ok);
    EXPECT_EQ(result.device->outputRate(), 22050u);
    // A new rate restarts the stream.
    ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, 44100)), SoundResult::Ok);
    EXPECT_EQ(result.device->outputRate(), 44100u);
    result.device.reset();
    EXPECT_EQ(primary->play(PlayFlags::Looping), SoundResult::Ok);
}

TEST(AudioBackend, OfflineDeviceOpenedByNameConsumesOnlyWhatIsRendered) {
    std::string error;
    std::unique_ptr<SoundDevice> device = SoundDevice::open("offline", error);
    ASSERT_TRUE(device) << error;
    BufferDesc desc;
    desc.flags = BufferFlags::PrimaryBuffer;
    SoundBufferPtr primary;
    ASSERT_EQ(device->createSoundBuffer(desc, primary), SoundResult::Ok);
    ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, 8000)), SoundResult::Ok);
    WaveFormat f = WaveFormat::pcm16(2, 8000);
    desc = BufferDesc{};
    desc.bufferBytes = 40;
    desc.format = &f;
    SoundBufferPtr ring;
    ASSERT_EQ(device->createSoundBuffer(desc, ring), SoundResult::Ok);
    ASSERT_EQ(ring->play(PlayFlags::Looping), SoundResult::Ok);
    int16_t out[2 * 3];
    device->render(out, 3);
    uint32_t cursor = 0;
    ASSERT_EQ(ring->getCurrentPosition(&cursor, nullptr), SoundResult::Ok);
    EXPECT_EQ(cursor, 12u);
}

TEST(OfflineAudio, ConsumesFramesAsTheVirtualClockMoves) {
    OfflineAudio audio;
    DeviceOpenResult result = audio.deviceFactory()();
    ASSERT_TRUE(result.device) << result.error;
    audio.timers().advanceTo(1000);
    EXPECT_EQ(audio.framesConsumed(), 0u) << "nothing before the stream starts";

    BufferDesc desc;
    desc.flags = BufferFlags::PrimaryBuffer;
    SoundBufferPtr primary;
    ASSERT_EQ(result.device->createSoundBuffer(desc, primary), SoundResult::Ok);
    ASSERT_EQ(primary->setFormat(WaveFormat::pcm16(2, 44100)), SoundResult::Ok);

    // Frame n is due at n x 1e6 / 44100 us: from 1000 us to 1 s exactly
    // 44100 - 44 frames, however the clock gets there.
    for (uint64_t t = 1000; t < 1000000; t += 777) audio.timers().advanceTo(t);
    audio.timers().advanceTo(1000000);
    EXPECT_EQ(audio.framesConsumed(), 44100u - 44u);
    EXPECT_EQ(audio.captured().size(), 2 * audio.framesConsumed());

    // A sink takes the frames instead.
    uint64_t sunk = 0;
    audio.setSink([&](const int16_t*, uint32_t frames) { sunk += frames; });
    audio.clearCaptured();
    audio.timers().advanceTo(2000000);
    EXPECT_EQ(sunk, 44100u);
    EXPECT_TRUE(audio.captured().empty());

    result.device.reset();
    audio.timers().advanceTo(3000000);
    EXPECT_EQ(sunk, 44100u) << "the stream ended with its device";
}

TEST(OfflineAudio, FailNextOpenFailsOnce) {
    OfflineAudio audio;
    audio.failNextOpen("no output device");
    SoundDeviceFactory factory = audio.deviceFactory();
    DeviceOpenResult first = factory();
    EXPECT_EQ(first.device, nullptr);
    EXPECT_EQ(first.error, "no output device");
    DeviceOpenResult second = factory();
    EXPECT_NE(second.device, nullptr);
    EXPECT_TRUE(second.error.empty());
}

TEST(SoundResult, EveryCodeHasAText) {
    for (SoundResult r : {SoundResult::Ok, SoundResult::Failed, SoundResult::InvalidParam, SoundResult::BufferLost,
                          SoundResult::OutOfMemory, SoundResult::NoDevice})
        EXPECT_GT(std::string(soundResultText(r)).size(), 1u);
    EXPECT_TRUE(succeeded(SoundResult::Ok));
    EXPECT_FALSE(succeeded(SoundResult::BufferLost));
}

}  // namespace
}  // namespace tonvero
