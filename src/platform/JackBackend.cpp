#include "platform/JackBackend.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstring>

namespace tonvero {

namespace {

// libjack prints its diagnostics (a missing server, a refused connection) on
// stderr from whichever thread meets them; every failure that matters comes
// back to us as a status we report in words of our own.
void ignoreJackMessage(const char*) {}

void quietJack() {
    jack_set_error_function(&ignoreJackMessage);
    jack_set_info_function(&ignoreJackMessage);
}

std::string openFailure(jack_status_t status, const std::string& clientName) {
    if ((status & (JackServerFailed | JackServerError)) != 0)
        return "no JACK server is running (start one with jackd or PipeWire's JACK, or choose another --audio)";
    if ((status & JackInvalidOption) != 0) return "the JACK server refused the client's options";
    if ((status & JackNameNotUnique) != 0) return "the JACK client name \"" + clientName + "\" is taken";
    if ((status & JackVersionError) != 0) return "the JACK server speaks another protocol version than this libjack";
    if ((status & (JackInitFailure | JackShmFailure)) != 0)
        return "cannot start a JACK client: the server's shared memory is out of reach";
    return "cannot open a JACK client";
}

// Appends `text` to `out` (size `capacity`, always terminated) without the C
// library: the shutdown callback may run in signal-handler context.
void appendText(char* out, size_t capacity, const char* text) {
    size_t length = 0;
    while (length + 1 < capacity && out[length] != '\0') ++length;
    for (; text != nullptr && *text != '\0' && length + 1 < capacity; ++text) out[length++] = *text;
    out[length] = '\0';
}

}  // namespace

std::unique_ptr<JackBackend> JackBackend::open(const BackendOptions& options, std::string& error) {
    error.clear();
    quietJack();
    if (options.jackName.empty()) {
        error = "the JACK client needs a name";
        return nullptr;
    }
    if (options.jackName.size() + 1 > static_cast<size_t>(jack_client_name_size())) {
        error = "the JACK client name \"" + options.jackName + "\" is longer than the server accepts (" +
                std::to_string(jack_client_name_size() - 1) + " characters)";
        return nullptr;
    }
    jack_status_t status{};
    jack_client_t* client = jack_client_open(options.jackName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        error = openFailure(status, options.jackName);
        return nullptr;
    }

    std::unique_ptr<JackBackend> backend(new JackBackend());
    backend->client_ = client;
    backend->clientName_ = jack_get_client_name(client);
    backend->connect_ = options.jackConnect;
    backend->scratch_.assign(size_t{kMaxChunk} * 2, 0);
    backend->rate_.store(jack_get_sample_rate(client));
    backend->period_.store(jack_get_buffer_size(client));

    backend->outLeft_ = jack_port_register(client, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    backend->outRight_ = jack_port_register(client, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    backend->midiIn_ = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (backend->outLeft_ == nullptr || backend->outRight_ == nullptr || backend->midiIn_ == nullptr) {
        error = "the JACK server refused the ports of \"" + backend->clientName_ + "\"";
        return nullptr;
    }

    JackBackend* self = backend.get();
    if (jack_set_process_callback(client, &JackBackend::process, self) != 0 ||
        jack_set_buffer_size_callback(client, &JackBackend::bufferSizeChanged, self) != 0 ||
        jack_set_sample_rate_callback(client, &JackBackend::rateChanged, self) != 0 ||
        jack_set_xrun_callback(client, &JackBackend::xrun, self) != 0) {
        error = "the JACK server refused the callbacks of \"" + backend->clientName_ + "\"";
        return nullptr;
    }
    jack_on_info_shutdown(client, &JackBackend::shutdown, self);
    return backend;
}

JackBackend::~JackBackend() {
    stop();
    closeClient();
}

void JackBackend::closeClient() {
    if (client_ == nullptr) return;
    // After the server went away the client only has its own threads and
    // memory left; closing it frees them without waiting for an answer.
    jack_client_close(client_);
    client_ = nullptr;
}

void JackBackend::setMidiInput(MidiInputFunction function, void* context) {
    if (active_) return;
    midi_ = function;
    midiContext_ = context;
}

std::string JackBackend::failure() const {
    if (!failed_.load(std::memory_order_acquire)) return {};
    return failureText_;
}

std::string JackBackend::start(uint32_t rate, RenderFunction render) {
    stop();
    if (failed_.load(std::memory_order_acquire)) return failure();
    if (client_ == nullptr) return "the JACK client is closed";
    if (rate == 0 || !render) return "the sound output needs a rate and a source";
    const uint32_t serverRate = rate_.load();
    if (rate != serverRate)
        return "the JACK server runs at " + std::to_string(serverRate) + " Hz, not the " + std::to_string(rate) +
               " Hz the sound output asked for";

    render_ = std::move(render);
    if (jack_activate(client_) != 0) {
        render_ = nullptr;
        return "cannot start the JACK client \"" + clientName_ + "\"";
    }
    active_ = true;
    if (connect_) {
        // Missing playback ports are no error: the user may connect by hand.
        if (const char** playback =
                jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput)) {
            if (playback[0] != nullptr) {
                jack_connect(client_, jack_port_name(outLeft_), playback[0]);
                if (playback[1] != nullptr) jack_connect(client_, jack_port_name(outRight_), playback[1]);
            }
            jack_free(playback);
        }
    }
    return {};
}

void JackBackend::stop() {
    if (!active_) return;
    if (failed_.load(std::memory_order_acquire)) {
        // The server is gone: deactivating would ask it; closing stops the
        // client's threads, so the render function is surely no longer called.
        closeClient();
    } else {
        jack_deactivate(client_);
    }
    active_ = false;
    render_ = nullptr;
}

int JackBackend::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackBackend*>(arg);
    auto* left = static_cast<jack_default_audio_sample_t*>(jack_port_get_buffer(self->outLeft_, frames));
    auto* right = static_cast<jack_default_audio_sample_t*>(jack_port_get_buffer(self->outRight_, frames));
    void* midiBuffer = jack_port_get_buffer(self->midiIn_, frames);
    if (left == nullptr || right == nullptr) return 0;

    // midi_in losing its last connection (the sending program went away, or
    // was disconnected) is told as an empty message, so its notes can be let go.
    const bool connected = jack_port_connected(self->midiIn_) > 0;
    if (self->midiConnected_ && !connected && self->midi_ != nullptr) self->midi_(self->midiContext_, 0, nullptr, 0);
    self->midiConnected_ = connected;
    const uint32_t eventCount = midiBuffer != nullptr ? jack_midi_get_event_count(midiBuffer) : 0;
    uint32_t nextEvent = 0;
    jack_midi_event_t event{};
    bool haveEvent = eventCount > 0 && jack_midi_event_get(&event, midiBuffer, 0) == 0;

    int16_t* scratch = self->scratch_.data();
    for (uint32_t done = 0; done < frames;) {
        const uint32_t chunk = std::min<uint32_t>(kMaxChunk, frames - done);
        const bool lastChunk = done + chunk == frames;
        // Every event whose frame this call covers (the last call takes any
        // stray event stamped past the period's end).
        while (haveEvent && (event.time < done + chunk || lastChunk)) {
            const uint32_t offset = std::min(event.time > done ? event.time - done : 0, chunk - 1);
            if (self->midi_ != nullptr && event.size > 0)
                self->midi_(self->midiContext_, offset, event.buffer, event.size);
            ++nextEvent;
            haveEvent = nextEvent < eventCount && jack_midi_event_get(&event, midiBuffer, nextEvent) == 0;
        }
        self->render_(scratch, chunk);
        constexpr float kScale = 1.0f / 32768.0f;
        for (uint32_t i = 0; i < chunk; ++i) {
            left[done + i] = static_cast<float>(scratch[2 * i]) * kScale;
            right[done + i] = static_cast<float>(scratch[2 * i + 1]) * kScale;
        }
        done += chunk;
    }
    return 0;
}

int JackBackend::bufferSizeChanged(jack_nframes_t frames, void* arg) {
    static_cast<JackBackend*>(arg)->period_.store(frames, std::memory_order_relaxed);
    return 0;
}

int JackBackend::rateChanged(jack_nframes_t rate, void* arg) {
    static_cast<JackBackend*>(arg)->rate_.store(rate, std::memory_order_relaxed);
    return 0;
}

int JackBackend::xrun(void* arg) {
    static_cast<JackBackend*>(arg)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackBackend::shutdown(jack_status_t, const char* reason, void* arg) {
    auto* self = static_cast<JackBackend*>(arg);
    if (self->failed_.load(std::memory_order_relaxed)) return;
    self->failureText_[0] = '\0';
    appendText(self->failureText_, sizeof self->failureText_, "the JACK server stopped");
    if (reason != nullptr && reason[0] != '\0') {
        appendText(self->failureText_, sizeof self->failureText_, " (");
        appendText(self->failureText_, sizeof self->failureText_, reason);
        appendText(self->failureText_, sizeof self->failureText_, ")");
    }
    self->failed_.store(true, std::memory_order_release);
}

}  // namespace tonvero
