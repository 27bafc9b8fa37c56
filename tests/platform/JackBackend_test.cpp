// The "jack" backend against a JACK server of the test's own: MIDI messages
// reach the render call covering their frame at the right offset, the output
// follows period changes without a gap, ports are named and connected as the
// options say, and a server that goes away (or was never there) is reported.
//
// The render function writes a frame counter (15 bits on each side), so the
// recorder can tell which rendered frame the server played at each frame time.

#include "platform/JackBackend.h"
#include "platform/SoundDevice.h"
#include "support/JackClients.h"
#include "support/JackServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tonvero {
namespace {

constexpr uint32_t kRate = 48000;

// What the backend's audio thread did: frames rendered, the largest render
// call, and each MIDI message with the counter of the call it came before.
struct Probe {
    struct Arrival {
        uint32_t offset = 0;
        uint64_t callStart = 0;  // counter of the first frame of the render call that follows
        std::array<uint8_t, 16> bytes{};
        size_t size = 0;
    };
    std::atomic<uint64_t> rendered{0};
    std::atomic<uint32_t> largestCall{0};
    std::array<Arrival, 64> arrivals{};
    std::atomic<size_t> arrivalCount{0};

    RenderFunction render() {
        return [this](int16_t* out, uint32_t frames) {
            const uint64_t first = rendered.load(std::memory_order_relaxed);
            for (uint32_t i = 0; i < frames; ++i) {
                const uint64_t value = first + i;
                out[2 * i] = static_cast<int16_t>(value & 0x7FFF);
                out[2 * i + 1] = static_cast<int16_t>((value >> 15) & 0x7FFF);
            }
            if (frames > largestCall.load(std::memory_order_relaxed)) largestCall.store(frames);
            rendered.store(first + frames, std::memory_order_release);
        };
    }
    static void onMidi(void* context, uint32_t offset, const uint8_t* bytes, size_t size) {
        auto* self = static_cast<Probe*>(context);
        const size_t index = self->arrivalCount.load(std::memory_order_relaxed);
        if (index == self->arrivals.size()) return;
        Arrival& arrival = self->arrivals[index];
        arrival.offset = offset;
        arrival.callStart = self->rendered.load(std::memory_order_relaxed);
        arrival.size = std::min(size, arrival.bytes.size());
        std::copy(bytes, bytes + arrival.size, arrival.bytes.begin());
        self->arrivalCount.store(index + 1, std::memory_order_release);
    }
    std::vector<uint8_t> bytesOf(size_t index) const {
        const Arrival& arrival = arrivals[index];
        return {arrival.bytes.begin(), arrival.bytes.begin() + static_cast<std::ptrdiff_t>(arrival.size)};
    }
};

// The counter a recorded frame carries.
std::optional<uint64_t> counterAt(const test::JackRecorder& recorder, uint64_t frameTime) {
    const auto frame = recorder.sampleAt(frameTime);
    if (!frame) return std::nullopt;
    const auto low = static_cast<uint64_t>(frame->left * 32768.0f);
    const auto high = static_cast<uint64_t>(frame->right * 32768.0f);
    return low | (high << 15);
}

uint64_t decode(const test::JackRecorder::Frame& frame) {
    return static_cast<uint64_t>(frame.left * 32768.0f) | (static_cast<uint64_t>(frame.right * 32768.0f) << 15);
}

template <typename Done>
bool waitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class JackBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<test::JackServer>(kRate, 1024);
        if (server_->error() == "jackd is not installed") GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server_->running()) << server_->error();
    }

    // A started backend named `name`, not connected to the playback ports,
    // with the sender feeding its MIDI input and the recorder hearing it.
    void startWired(const std::string& name) {
        std::string error;
        backend_ = JackBackend::open(BackendOptions{name, false}, error);
        ASSERT_NE(backend_, nullptr) << error;
        backend_->setMidiInput(&Probe::onMidi, &probe_);
        ASSERT_EQ(backend_->start(kRate, probe_.render()), "");
        sender_ = std::make_unique<test::JackMidiSender>();
        recorder_ = std::make_unique<test::JackRecorder>();
        ASSERT_TRUE(sender_->ok()) << sender_->error();
        ASSERT_TRUE(recorder_->ok()) << recorder_->error();
        ASSERT_TRUE(sender_->connect(backend_->clientName() + ":midi_in"));
        ASSERT_TRUE(recorder_->connect(backend_->clientName() + ":out_left", backend_->clientName() + ":out_right"));
        ASSERT_TRUE(sender_->waitRunning());
    }

    // Each arrival `first...` came in the order sent, and the frame the
    // server played at its send time is the frame its render call put at
    // its offset.
    void expectOnTheirFrames(const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& sent, size_t first = 0) {
        ASSERT_GE(probe_.arrivalCount.load(), first + sent.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            const Probe::Arrival& arrival = probe_.arrivals[first + i];
            EXPECT_EQ(probe_.bytesOf(first + i), sent[i].second) << "message " << i;
            const auto played = counterAt(*recorder_, sent[i].first);
            ASSERT_TRUE(played.has_value()) << "message " << i;
            EXPECT_EQ(*played, arrival.callStart + arrival.offset) << "message " << i << " sent for " << sent[i].first;
        }
    }

    std::unique_ptr<test::JackServer> server_;
    Probe probe_;
    std::unique_ptr<JackBackend> backend_;
    std::unique_ptr<test::JackMidiSender> sender_;
    std::unique_ptr<test::JackRecorder> recorder_;
};

TEST_F(JackBackendTest, MessagesReachTheRenderCallCoveringTheirFrame) {
    startWired("tonvero-midi");
    EXPECT_TRUE(test::jackConnections(backend_->clientName() + ":out_left") ==
                std::vector<std::string>{recorder_->leftPort()});

    ASSERT_TRUE(sender_->send(sender_->now() > 10 ? sender_->now() - 10 : 0, {0xE0, 0, 64}));
    const uint64_t t0 = sender_->now() + 4 * 1024;  // a period's first frame, well ahead
    const std::vector<std::pair<uint64_t, std::vector<uint8_t>>> sent = {
        {t0, {0x90, 60, 100}},
        {t0 + 1, {0xB0, 7, 90}},
        {t0 + 1023, {0x80, 60, 0}},  // the period's last frame
        {t0 + 1024 + 517, {0x91, 64, 1}},
        {t0 + 1024 + 517, {0xC1, 5}},  // the same frame, in the order sent
        {t0 + 2048, {0xF8}},
        {t0 + 3000, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
    };
    for (const auto& [time, bytes] : sent) ASSERT_TRUE(sender_->send(time, bytes));
    ASSERT_TRUE(sender_->waitSent());
    ASSERT_TRUE(recorder_->waitUntil(t0 + 4096));
    if (backend_->xruns() > 0) GTEST_SKIP() << "the server missed periods: its timeline has holes";
    ASSERT_EQ(probe_.arrivalCount.load(), sent.size() + 1);
    EXPECT_EQ(probe_.bytesOf(0), (std::vector<uint8_t>{0xE0, 0, 64}));
    EXPECT_EQ(probe_.arrivals[0].offset, 0u);  // sent for a time already past
    expectOnTheirFrames(sent, 1);
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(probe_.arrivals[i + 1].offset, (sent[i].first - t0) % 1024);
    EXPECT_FALSE(test::JackMidiSender().send(0, {0x90, 60}));  // malformed: refused
}

TEST_F(JackBackendTest, OutputFollowsPeriodChangesWithoutAGap) {
    startWired("tonvero-period");
    for (const uint32_t period : {512u, 256u, 8192u}) {
        ASSERT_TRUE(test::setBufferSize(period)) << period;
        ASSERT_TRUE(waitFor([&] { return backend_->periodFrames() == period; })) << period;
        ASSERT_TRUE(waitFor([&] { return sender_->period() == period; })) << period;
        const uint64_t later = sender_->now() + 3 * period;
        ASSERT_TRUE(recorder_->waitUntil(later)) << period;
    }
    // At 8192 frames a period takes two render calls: a message in the
    // second half arrives before the second, with its offset in that call.
    const uint64_t t0 = sender_->now() + 2 * 8192;
    const std::vector<std::pair<uint64_t, std::vector<uint8_t>>> sent = {{t0 + 100, {0x92, 50, 60}},
                                                                         {t0 + 5000, {0x82, 50, 0}}};
    for (const auto& [time, bytes] : sent) ASSERT_TRUE(sender_->send(time, bytes));
    ASSERT_TRUE(sender_->waitSent());
    ASSERT_TRUE(recorder_->waitUntil(t0 + 8192));
    if (backend_->xruns() > 0) GTEST_SKIP() << "the server missed periods: its timeline has holes";
    ASSERT_EQ(probe_.arrivalCount.load(), sent.size());
    expectOnTheirFrames(sent);
    EXPECT_EQ(probe_.arrivals[0].offset, 100u);
    EXPECT_EQ(probe_.arrivals[1].offset, 5000u - JackBackend::kMaxChunk);
    EXPECT_EQ(probe_.largestCall.load(), JackBackend::kMaxChunk);

    // Every frame the recorder heard, across all the changes, is the one
    // rendered after the frame before it: no gap, no repeat.
    const std::vector<test::JackRecorder::Period> periods = recorder_->periods();
    std::vector<uint32_t> sizes;
    bool started = false;
    uint64_t expected = 0;
    for (const test::JackRecorder::Period& period : periods) {
        sizes.push_back(period.frames);
        for (const test::JackRecorder::Frame& frame : recorder_->framesOf(period)) {
            const uint64_t value = decode(frame);
            if (!started) {
                if (value == 0) continue;  // before the connection
                started = true;
                expected = value;
            }
            ASSERT_EQ(value, expected) << "period at " << period.start << " of " << period.frames;
            ++expected;
        }
    }
    EXPECT_TRUE(started);
    for (const uint32_t period : {512u, 256u, 8192u})
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), period), sizes.end()) << period;
}

TEST_F(JackBackendTest, PortsAreNamedAndConnectedAsAsked) {
    std::string error;
    backend_ = JackBackend::open(BackendOptions{"tonvero-ports", true}, error);
    ASSERT_NE(backend_, nullptr) << error;
    EXPECT_EQ(backend_->clientName(), "tonvero-ports");
    EXPECT_EQ(backend_->fixedRate(), kRate);
    EXPECT_EQ(backend_->periodFrames(), 1024u);
    EXPECT_TRUE(backend_->hasMidiInput());
    for (const char* port : {":out_left", ":out_right", ":midi_in"})
        EXPECT_TRUE(test::jackPortExists("tonvero-ports" + std::string(port))) << port;

    const std::string refused = backend_->start(44100, probe_.render());
    EXPECT_NE(refused.find("48000"), std::string::npos) << refused;
    EXPECT_NE(refused.find("44100"), std::string::npos) << refused;
    EXPECT_TRUE(test::jackConnections("tonvero-ports:out_left").empty());

    ASSERT_EQ(backend_->start(kRate, probe_.render()), "");
    EXPECT_EQ(test::jackConnections("tonvero-ports:out_left"), std::vector<std::string>{"system:playback_1"});
    EXPECT_EQ(test::jackConnections("tonvero-ports:out_right"), std::vector<std::string>{"system:playback_2"});
    ASSERT_TRUE(waitFor([&] { return probe_.rendered.load() > 0; }));
    backend_->stop();
    const uint64_t afterStop = probe_.rendered.load();
    backend_.reset();
    EXPECT_EQ(probe_.rendered.load(), afterStop);
    EXPECT_FALSE(test::jackPortExists("tonvero-ports:out_left"));

    // Through the sound device, by name, with the options.
    std::unique_ptr<SoundDevice> device = SoundDevice::open("jack", error, BackendOptions{"tonvero-device", false});
    ASSERT_NE(device, nullptr) << error;
    EXPECT_STREQ(device->backendName(), "jack");
    EXPECT_TRUE(test::jackPortExists("tonvero-device:midi_in"));
}

TEST_F(JackBackendTest, AServerThatStopsIsAFailureForGood) {
    std::string error;
    backend_ = JackBackend::open(BackendOptions{"tonvero-gone", false}, error);
    ASSERT_NE(backend_, nullptr) << error;
    ASSERT_EQ(backend_->start(kRate, probe_.render()), "");
    ASSERT_TRUE(waitFor([&] { return probe_.rendered.load() > 0; }));
    EXPECT_EQ(backend_->failure(), "");
    std::unique_ptr<JackBackend> idle = JackBackend::open(BackendOptions{"tonvero-idle", false}, error);
    ASSERT_NE(idle, nullptr) << error;

    server_->stop();
    ASSERT_TRUE(waitFor([&] { return !backend_->failure().empty(); }));
    EXPECT_EQ(backend_->failure().rfind("the JACK server stopped", 0), 0u) << backend_->failure();
    backend_->stop();  // returns although nobody answers
    const uint64_t afterStop = probe_.rendered.load();
    EXPECT_EQ(backend_->start(kRate, probe_.render()), backend_->failure());
    EXPECT_EQ(probe_.rendered.load(), afterStop);
    backend_.reset();
    ASSERT_TRUE(waitFor([&] { return !idle->failure().empty(); }));
    idle.reset();  // never started: closing returns too
}

TEST(JackBackendWithoutServer, OpeningSaysNoServerIsRunning) {
    const char* saved = std::getenv("JACK_DEFAULT_SERVER");
    const std::string previous = saved != nullptr ? saved : "";
    ASSERT_EQ(setenv("JACK_DEFAULT_SERVER", "tonvero-test-no-such-server", 1), 0);
    std::string error;
    EXPECT_EQ(JackBackend::open(BackendOptions{}, error), nullptr);
    EXPECT_NE(error.find("no JACK server is running"), std::string::npos) << error;
    EXPECT_NE(error.find("--audio"), std::string::npos) << error;
    DeviceOpenResult result = backendDeviceFactory("jack")();
    EXPECT_EQ(result.device, nullptr);
    EXPECT_EQ(result.error, error);

    EXPECT_EQ(JackBackend::open(BackendOptions{"", true}, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(JackBackend::open(BackendOptions{std::string(400, 'x'), true}, error), nullptr);
    EXPECT_NE(error.find("longer"), std::string::npos) << error;
    EXPECT_TRUE(isBackendName("jack"));

    if (saved != nullptr)
        setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
    else
        unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
}  // namespace tonvero
