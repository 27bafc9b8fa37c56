// MIDI input through RtMidi's JACK API against a JACK server of the test's
// own: ports listed and chosen by number and by name, bytes carried intact
// and in order into the stream reader, our own port, a sender that goes away.

#include "live/MidiInput.h"
#include "live/MidiStream.h"
#include "support/JackServer.h"

#include <RtMidi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace tonvero {
namespace {

using Packet = std::vector<uint8_t>;

struct Received {
    std::mutex mutex;
    std::vector<Packet> packets;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    size_t count() {
        std::lock_guard lock(mutex);
        return packets.size();
    }
};

void receive(void* context, const uint8_t* bytes, size_t size, std::chrono::steady_clock::time_point arrival) {
    auto* r = static_cast<Received*>(context);
    std::lock_guard lock(r->mutex);
    r->packets.emplace_back(bytes, bytes + size);
    r->arrivals.push_back(arrival);
}

// Waits (bounded) until `done` holds.
template <class F>
bool waitFor(F done) {
    for (int i = 0; i < 400; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return done();
}

// A program offering a JACK MIDI output port "<client>:out".
std::unique_ptr<RtMidiOut> sender(const std::string& client) {
    auto out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, client);
    out->openVirtualPort("out");
    return out;
}

const std::vector<Packet> kSent = {
    {0x90, 60, 100},                                  // note-on
    {62, 90},                                         // running status
    {0xF8},                                           // clock between messages
    {0x80, 60, 0xF8, 0},                              // clock inside a note-off
    {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},             // General MIDI System On
    {0x91, 64, 0},                                    // velocity 0: a note-off
};

std::string readAll(const std::vector<Packet>& packets) {
    MidiStreamReader reader;
    LiveMessage m;
    std::string text;
    for (const Packet& p : packets)
        for (uint8_t b : p)
            if (reader.push(b, m)) {
                char line[16];
                if (m.kind == LiveMessage::Kind::SystemReset)
                    std::snprintf(line, sizeof line, "reset\n");
                else
                    std::snprintf(line, sizeof line, "%02x %02x %02x\n", m.status, m.data1, m.data2);
                text += line;
            }
    return text;
}

void sendAll(RtMidiOut& out, const std::vector<Packet>& packets) {
    for (const Packet& p : packets) out.sendMessage(p.data(), p.size());
}

class MidiInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.running()) GTEST_SKIP() << "no JACK server: " << server_.error();
    }
    test::JackServer server_{48000, 1024};
};

TEST_F(MidiInputTest, ListsOpensByNumberAndNameAndCarriesBytesInOrder) {
    auto keys = sender("tonvero-keys");
    auto pads = sender("tonvero-pads");
    std::string error;
    std::vector<MidiPort> ports;
    ASSERT_TRUE(waitFor([&] {
        ports = listMidiInputs(MidiApi::Jack, error);
        return ports.size() >= 2;
    })) << error;
    EXPECT_EQ(error, "");
    int keysNumber = -1;
    for (const MidiPort& p : ports)
        if (p.name == "tonvero-keys:out") keysNumber = p.number;
    ASSERT_GE(keysNumber, 0);

    Received received;
    EXPECT_EQ(MidiInput::open(MidiApi::Jack, "nothing-like-it", "tonvero-in", &receive, &received, error), nullptr);
    EXPECT_NE(error.find("no MIDI input port matches \"nothing-like-it\"; the ports are: "), std::string::npos) << error;
    EXPECT_NE(error.find("\"tonvero-keys:out\""), std::string::npos) << error;
    EXPECT_EQ(MidiInput::open(MidiApi::Jack, "TONVERO-", "tonvero-in", &receive, &received, error), nullptr);
    EXPECT_EQ(error.rfind("more than one port matches \"TONVERO-\": ", 0), 0u) << error;

    {
        auto byNumber =
            MidiInput::open(MidiApi::Jack, std::to_string(keysNumber), "tonvero-in", &receive, &received, error);
        ASSERT_NE(byNumber, nullptr) << error;
        EXPECT_EQ(byNumber->description(), "MIDI input: tonvero-keys:out");
        EXPECT_TRUE(byNumber->portStillThere());
    }

    // By part of its name, any case; the bytes come through as sent.
    auto input = MidiInput::open(MidiApi::Jack, "KEYS", "tonvero-in", &receive, &received, error);
    ASSERT_NE(input, nullptr) << error;
    EXPECT_EQ(input->description(), "MIDI input: tonvero-keys:out");
    sendAll(*keys, kSent);
    ASSERT_TRUE(waitFor([&] { return received.count() >= kSent.size(); }));
    {
        std::lock_guard lock(received.mutex);
        EXPECT_EQ(received.packets, kSent);
        for (size_t i = 1; i < received.arrivals.size(); ++i)
            EXPECT_LE(received.arrivals[i - 1], received.arrivals[i]);
        EXPECT_EQ(readAll(received.packets), "90 3c 64\n90 3e 5a\n80 3c 00\nreset\n81 40 00\n");
    }

    // The sender goes: the port is reported gone, and stays gone.
    EXPECT_TRUE(input->portStillThere());
    keys.reset();
    EXPECT_TRUE(waitFor([&] { return !input->portStillThere(); }));
    EXPECT_FALSE(input->portStillThere());
    input->close();
    EXPECT_FALSE(input->portStillThere());
}

TEST_F(MidiInputTest, OwnPortTakesConnectionsAndLongSystemExclusive) {
    Received received;
    std::string error;
    auto input = MidiInput::open(MidiApi::Jack, "", "tonvero-own", &receive, &received, error);
    ASSERT_NE(input, nullptr) << error;
    EXPECT_EQ(input->description(), "MIDI input: own port tonvero-own:MIDI In");

    RtMidiOut out(RtMidi::UNIX_JACK, "tonvero-player");
    int number = -1;
    for (unsigned i = 0; i < out.getPortCount(); ++i)
        if (out.getPortName(i) == "tonvero-own:MIDI In") number = static_cast<int>(i);
    ASSERT_GE(number, 0);
    out.openPort(static_cast<unsigned>(number), "out");
    // Sent until the connection carries it (it is made in the server's time).
    Packet longBlock(2000, 0x11);
    longBlock.front() = 0xF0;
    longBlock.back() = 0xF7;
    ASSERT_TRUE(waitFor([&] {
        if (received.count() == 0) out.sendMessage(longBlock.data(), longBlock.size());
        return received.count() > 0;
    }));
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.packets.front(), longBlock);
    EXPECT_TRUE(input->portStillThere());
}

TEST(MidiInput, MissingApisAreMessagesNotCrashes) {
    std::string error;
    // No ALSA sequencer on these machines; and with it, an ALSA request must still not throw.
    if (access("/dev/snd/seq", F_OK) != 0) {
        Received received;
        EXPECT_EQ(MidiInput::open(MidiApi::Alsa, "", "tonvero", &receive, &received, error), nullptr);
        EXPECT_NE(error.find("cannot use ALSA MIDI"), std::string::npos) << error;
        EXPECT_TRUE(listMidiInputs(MidiApi::Alsa, error).empty());
        EXPECT_NE(error, "");
    }
}

}  // namespace
}  // namespace tonvero
