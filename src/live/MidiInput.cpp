#include "live/MidiInput.h"

#include <RtMidi.h>
#include <jack/jack.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <exception>

namespace tonvero {

// What RtMidi reported through its error callback since it was last cleared.
// RtMidi calls it instead of printing and throwing; the ALSA input thread may
// call it too, hence the lock.
struct MidiInput::Errors {
    std::mutex mutex;
    std::string text;  // the first report's text
    bool any = false;

    void clear() {
        std::lock_guard lock(mutex);
        text.clear();
        any = false;
    }
    // True (with the text) when something was reported.
    bool take(std::string& out) {
        std::lock_guard lock(mutex);
        if (!any) return false;
        out = text;
        text.clear();
        any = false;
        return true;
    }
};

namespace {

using Errors = MidiInput::Errors;

void onRtMidiError(RtMidiError::Type, const std::string& text, void* user) {
    auto* errors = static_cast<Errors*>(user);
    std::lock_guard lock(errors->mutex);
    if (!errors->any) errors->text = text;
    errors->any = true;
}

const char* kAlsaDevice = "/dev/snd/seq";

bool compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

bool alsaPresent() { return access(kAlsaDevice, R_OK | W_OK) == 0; }

// Whether a JACK server answers. Asked before RtMidi is, because RtMidi's
// JACK API reports a missing server while its object is made, before an
// error callback can be set, and would print it.
bool jackAnswers(const std::string& clientName) {
    jack_status_t status{};
    jack_client_t* client =
        jack_client_open(clientName.empty() ? "tonvero" : clientName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) return false;
    jack_client_close(client);
    return true;
}

// Resolves `api` to the RtMidi API to use, or says why there is none.
bool resolve(MidiApi api, const std::string& clientName, RtMidi::Api& out, MidiApi& resolved, std::string& error) {
    const bool alsaCompiled = compiled(RtMidi::LINUX_ALSA);
    const bool jackCompiled = compiled(RtMidi::UNIX_JACK);
    const std::string alsaMissing = alsaCompiled ? std::string("the ALSA sequencer is not available (") + kAlsaDevice +
                                                       " does not exist or cannot be opened)"
                                                 : "this RtMidi has no ALSA sequencer support";
    const std::string jackMissing = jackCompiled ? "the JACK server is not running" : "this RtMidi has no JACK support";
    auto useJack = [&]() {
        if (!jackCompiled || !jackAnswers(clientName)) return false;
        out = RtMidi::UNIX_JACK;
        resolved = MidiApi::Jack;
        return true;
    };
    switch (api) {
    case MidiApi::Alsa:
        if (alsaCompiled && alsaPresent()) {
            out = RtMidi::LINUX_ALSA;
            resolved = MidiApi::Alsa;
            return true;
        }
        error = "cannot use ALSA MIDI: " + alsaMissing;
        return false;
    case MidiApi::Jack:
        if (useJack()) return true;
        error = "cannot use JACK MIDI: " + jackMissing;
        return false;
    case MidiApi::Default:
        if (alsaCompiled && alsaPresent()) {
            out = RtMidi::LINUX_ALSA;
            resolved = MidiApi::Alsa;
            return true;
        }
        if (useJack()) return true;
        error = "no MIDI input is available: " + alsaMissing + ", and " + jackMissing;
        return false;
    }
    error = "unknown MIDI API";
    return false;
}

// Runs `step` (false: it failed, `error` set), turning RtMidi's exceptions
// and the errors it reported meanwhile into `error`.
template <class F>
bool guarded(Errors& errors, std::string& error, F&& step) {
    try {
        if (!step()) return false;
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    std::string text;
    if (errors.take(text)) {
        error = text;
        return false;
    }
    return true;
}

// An RtMidiIn on `api` that reports to `errors`, and that has reached the
// MIDI system (JACK: its client is open); null with `error` otherwise.
std::unique_ptr<RtMidiIn> makeInput(RtMidi::Api api, const std::string& clientName, Errors& errors,
                                    std::string& error) {
    std::unique_ptr<RtMidiIn> in;
    const bool made = guarded(errors, error, [&] {
        in = std::make_unique<RtMidiIn>(api, clientName);
        in->setErrorCallback(&onRtMidiError, &errors);
        errors.clear();
        // JACK: asks for the client again, and reports if there still is none
        // (the server went away since it was asked).
        in->getPortCount();
        return true;
    });
    if (!made) return nullptr;
    return in;
}

std::vector<MidiPort> portsOf(RtMidiIn& in) {
    std::vector<MidiPort> ports;
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = in.getPortName(i);
        if (!name.empty()) ports.push_back({static_cast<int>(i), std::move(name)});
    }
    return ports;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string listText(const std::vector<MidiPort>& ports) {
    std::string text;
    for (const MidiPort& port : ports) {
        if (!text.empty()) text += ", ";
        text += std::to_string(port.number) + " \"" + port.name + "\"";
    }
    return text;
}

// The port `wanted` names among `ports`: its number, its exact name, or the
// one name that contains it (case-insensitive).
const MidiPort* choose(const std::vector<MidiPort>& ports, const std::string& wanted, std::string& error) {
    if (std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; }) && wanted.size() < 9) {
        const int number = std::stoi(wanted);
        for (const MidiPort& port : ports)
            if (port.number == number) return &port;
    }
    for (const MidiPort& port : ports)
        if (port.name == wanted) return &port;
    const std::string needle = lower(wanted);
    std::vector<MidiPort> matches;
    for (const MidiPort& port : ports)
        if (lower(port.name).find(needle) != std::string::npos) matches.push_back(port);
    if (matches.size() == 1) {
        for (const MidiPort& port : ports)
            if (port.number == matches[0].number) return &port;
    }
    if (matches.empty())
        error = "no MIDI input port matches \"" + wanted + "\"; " +
                (ports.empty() ? std::string("there are no MIDI input ports") : "the ports are: " + listText(ports));
    else
        error = "more than one port matches \"" + wanted + "\": " + listText(matches) +
                "; give more of the name, or the number";
    return nullptr;
}

}  // namespace

std::vector<MidiPort> listMidiInputs(MidiApi api, std::string& error) {
    error.clear();
    RtMidi::Api rtApi{};
    MidiApi resolved{};
    const std::string clientName = "tonvero-ports";
    if (!resolve(api, clientName, rtApi, resolved, error)) return {};
    Errors errors;
    std::unique_ptr<RtMidiIn> in = makeInput(rtApi, clientName, errors, error);
    if (!in) return {};
    std::vector<MidiPort> ports;
    try {
        ports = portsOf(*in);
    } catch (const std::exception& e) {
        error = e.what();
        return {};
    }
    std::string text;
    if (errors.take(text)) {
        error = text;
        return {};
    }
    return ports;
}

MidiInput::MidiInput() : errors_(std::make_unique<Errors>()) {}

MidiInput::~MidiInput() { close(); }

std::unique_ptr<MidiInput> MidiInput::open(MidiApi api, const std::string& port, const std::string& clientName,
                                           Receiver receiver, void* context, std::string& error,
                                           const std::string& portName) {
    error.clear();
    if (receiver == nullptr) {
        error = "no receiver for the MIDI input";
        return nullptr;
    }
    const std::string client = clientName.empty() ? std::string("Tonvero") : clientName;
    const std::string ownPort = portName.empty() ? std::string(kOwnPortName) : portName;
    RtMidi::Api rtApi{};
    std::unique_ptr<MidiInput> input(new MidiInput());
    if (!resolve(api, client, rtApi, input->api_, error)) return nullptr;
    input->receiver_ = receiver;
    input->context_ = context;
    input->clientName_ = client;
    Errors& errors = *input->errors_;
    std::unique_ptr<RtMidiIn> in = makeInput(rtApi, client, errors, error);
    if (!in) return nullptr;
    const bool opened = guarded(errors, error, [&] {
        // Everything comes through; MidiStreamReader filters. Long system
        // exclusive blocks: room for 4 of 4096 bytes where the API buffers them
        // itself (ALSA and JACK hand on blocks of any length).
        in->ignoreTypes(false, false, false);
        in->setBufferSize(4096, 4);
        in->setCallback(&MidiInput::onMessage, input.get());
        if (port.empty()) {
            in->openVirtualPort(ownPort);
            input->own_ = true;
            input->portName_ = ownPort;
        } else {
            const std::vector<MidiPort> ports = portsOf(*in);
            std::string text;
            if (errors.take(text)) {
                error = text;
                return false;
            }
            const MidiPort* chosen = choose(ports, port, error);
            if (chosen == nullptr) return false;
            input->portName_ = chosen->name;
            in->openPort(static_cast<unsigned>(chosen->number), ownPort);
        }
        return true;
    });
    if (!opened) return nullptr;
    {
        std::lock_guard lock(input->mutex_);
        input->in_ = std::move(in);
    }
    // The port may have gone between listing and connecting (JACK does not
    // say when a connection failed).
    if (!input->own_ && !input->portStillThere()) {
        error = "the MIDI input port \"" + input->portName_ + "\" went away while it was being opened";
        return nullptr;
    }
    return input;
}

void MidiInput::onMessage(double, std::vector<unsigned char>* message, void* self) {
    const auto arrival = std::chrono::steady_clock::now();
    auto* input = static_cast<MidiInput*>(self);
    if (message == nullptr || message->empty()) return;
    input->receiver_(input->context_, message->data(), message->size(), arrival);
}

std::string MidiInput::description() const {
    if (own_) return "MIDI input: own port " + clientName_ + ":" + portName_;
    return "MIDI input: " + portName_;
}

bool MidiInput::portStillThere() {
    std::lock_guard lock(mutex_);
    if (!in_) return false;
    if (own_) return true;
    if (gone_) return false;
    try {
        errors_->clear();
        const unsigned count = in_->getPortCount();
        bool found = false;
        for (unsigned i = 0; i < count && !found; ++i) found = in_->getPortName(i) == portName_;
        std::string text;
        // A report (JACK: the server went away) means the port cannot be reached.
        if (errors_->take(text)) found = false;
        gone_ = !found;
    } catch (const std::exception&) {
        gone_ = true;
    }
    return !gone_;
}

void MidiInput::close() {
    std::unique_ptr<RtMidiIn> in;
    {
        std::lock_guard lock(mutex_);
        in = std::move(in_);
    }
    if (!in) return;
    // RtMidi's own teardown: the port is closed, then the input thread
    // (ALSA) is joined or the JACK client closed, which waits for its process
    // callback. Its callback is not cancelled first: JACK's process thread
    // reads it unlocked and could call a null one.
    in.reset();
}

}  // namespace tonvero
