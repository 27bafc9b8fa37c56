#include "support/JackClients.h"

#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace test {

namespace {

void ignoreJackMessage(const char*) {}

jack_client_t* openClient(const std::string& name, std::string& error) {
    jack_set_error_function(&ignoreJackMessage);
    jack_set_info_function(&ignoreJackMessage);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client == nullptr)
        error = "cannot open the JACK client \"" + name + "\" (status " + std::to_string(status) + ")";
    return client;
}

// Polls `done` every millisecond until it holds or the wall timeout passes.
template <typename Done>
bool pollUntil(double timeoutSeconds, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The length of a complete message starting with `status` (0: a sysex,
// ended by F7; -1: not a status byte that starts a message).
int messageLength(uint8_t status) {
    if (status < 0x80) return -1;
    if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
    case 0xF0: return 0;
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    case 0xF7: return -1;
    default: return 1;  // F6 and the realtime bytes
    }
}

}  // namespace

uint64_t FrameClock::extend(jack_nframes_t frameTime) {
    if (started_ && frameTime < last_) high_ += uint64_t{1} << 32;
    started_ = true;
    last_ = frameTime;
    return high_ | frameTime;
}

// --- JackMidiSender ---------------------------------------------------------

JackMidiSender::JackMidiSender(const std::string& name) : ring_(kQueue), held_(kQueue), due_(kQueue) {
    client_ = openClient(name, error_);
    if (client_ == nullptr) return;
    port_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port_ == nullptr) {
        error_ = "cannot register the sender's MIDI port";
        return;
    }
    jack_set_process_callback(client_, &JackMidiSender::process, this);
    jack_on_info_shutdown(client_, &JackMidiSender::shutdown, this);
    if (jack_activate(client_) != 0) error_ = "cannot activate the sender";
}

JackMidiSender::~JackMidiSender() {
    if (client_ == nullptr) return;
    if (!gone_.load()) jack_deactivate(client_);
    jack_client_close(client_);
}

std::string JackMidiSender::portName() const { return port_ != nullptr ? jack_port_name(port_) : std::string(); }

bool JackMidiSender::connect(const std::string& destinationPort) {
    return ok() && jack_connect(client_, portName().c_str(), destinationPort.c_str()) == 0;
}

uint32_t JackMidiSender::period() const { return client_ != nullptr ? jack_get_buffer_size(client_) : 0; }

bool JackMidiSender::send(uint64_t frameTime, const std::vector<uint8_t>& message) {
    if (message.empty()) return false;
    const int length = messageLength(message[0]);
    if (length < 0) return false;
    if (length == 0) {
        if (message.size() < 2 || message.back() != 0xF7) return false;
        for (size_t i = 1; i + 1 < message.size(); ++i)
            if (message[i] >= 0x80) return false;
    } else {
        if (message.size() != static_cast<size_t>(length)) return false;
        for (size_t i = 1; i < message.size(); ++i)
            if (message[i] >= 0x80) return false;
    }
    return sendRaw(frameTime, message);
}

bool JackMidiSender::sendRaw(uint64_t frameTime, const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || bytes.size() > kMaxBytes || !ok()) return false;
    std::lock_guard lock(queueMutex_);
    const size_t write = ringWrite_.load(std::memory_order_relaxed);
    if (write - ringRead_.load(std::memory_order_acquire) >= kQueue) return false;
    Packet& packet = ring_[write % kQueue];
    packet.time = frameTime;
    packet.order = nextOrder_++;
    packet.size = static_cast<uint32_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), packet.bytes.begin());
    ringWrite_.store(write + 1, std::memory_order_release);
    return true;
}

size_t JackMidiSender::pending() const {
    const size_t held = heldPublished_.load(std::memory_order_acquire);
    return ringWrite_.load(std::memory_order_acquire) - ringRead_.load(std::memory_order_acquire) + held;
}

bool JackMidiSender::waitRunning(double timeoutSeconds) const {
    return pollUntil(timeoutSeconds, [&] { return now() != 0 || gone_.load(); }) && !gone_.load();
}

bool JackMidiSender::waitSent(double timeoutSeconds) const {
    return pollUntil(timeoutSeconds, [&] { return pending() == 0 || gone_.load(); }) && pending() == 0;
}

int JackMidiSender::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackMidiSender*>(arg);
    const uint64_t start = self->clock_.extend(jack_last_frame_time(self->client_));
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);

    // Take what the producers queued, as far as there is room.
    size_t read = self->ringRead_.load(std::memory_order_relaxed);
    const size_t write = self->ringWrite_.load(std::memory_order_acquire);
    while (read != write && self->heldCount_ < kQueue) {
        self->held_[self->heldCount_++] = self->ring_[read % kQueue];
        self->heldPublished_.fetch_add(1, std::memory_order_release);
        ++read;
    }
    self->ringRead_.store(read, std::memory_order_release);

    // Every held packet due in this period, in time order (then queue order).
    size_t dueCount = 0;
    for (size_t i = 0; i < self->heldCount_; ++i)
        if (self->held_[i].time < start + frames) self->due_[dueCount++] = i;
    std::sort(self->due_.begin(), self->due_.begin() + static_cast<std::ptrdiff_t>(dueCount),
              [self](size_t a, size_t b) {
                  const Packet& x = self->held_[a];
                  const Packet& y = self->held_[b];
                  return x.time != y.time ? x.time < y.time : x.order < y.order;
              });
    for (size_t i = 0; i < dueCount; ++i) {
        Packet& packet = self->held_[self->due_[i]];
        const auto offset = static_cast<jack_nframes_t>(packet.time > start ? packet.time - start : 0);
        jack_midi_event_write(buffer, offset, packet.bytes.data(), packet.size);
        packet.size = 0;  // written
    }
    size_t kept = 0;
    for (size_t i = 0; i < self->heldCount_; ++i)
        if (self->held_[i].size != 0) self->held_[kept++] = self->held_[i];
    self->heldCount_ = kept;
    self->heldPublished_.fetch_sub(dueCount, std::memory_order_release);
    self->now_.store(start, std::memory_order_release);
    return 0;
}

void JackMidiSender::shutdown(jack_status_t, const char*, void* arg) {
    static_cast<JackMidiSender*>(arg)->gone_.store(true);
}

// --- JackRecorder -----------------------------------------------------------

JackRecorder::JackRecorder(const std::string& name, size_t capacityFrames)
    : samples_(capacityFrames), periods_(capacityFrames / 16 + 1) {
    client_ = openClient(name, error_);
    if (client_ == nullptr) return;
    left_ = jack_port_register(client_, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    right_ = jack_port_register(client_, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (left_ == nullptr || right_ == nullptr) {
        error_ = "cannot register the recorder's ports";
        return;
    }
    jack_set_process_callback(client_, &JackRecorder::process, this);
    jack_on_info_shutdown(client_, &JackRecorder::shutdown, this);
    if (jack_activate(client_) != 0) error_ = "cannot activate the recorder";
}

JackRecorder::~JackRecorder() {
    if (client_ == nullptr) return;
    if (!gone_.load()) jack_deactivate(client_);
    jack_client_close(client_);
}

std::string JackRecorder::leftPort() const { return left_ != nullptr ? jack_port_name(left_) : std::string(); }
std::string JackRecorder::rightPort() const { return right_ != nullptr ? jack_port_name(right_) : std::string(); }

bool JackRecorder::connect(const std::string& sourceLeft, const std::string& sourceRight) {
    return ok() && jack_connect(client_, sourceLeft.c_str(), leftPort().c_str()) == 0 &&
           jack_connect(client_, sourceRight.c_str(), rightPort().c_str()) == 0;
}

int JackRecorder::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackRecorder*>(arg);
    const uint64_t start = self->clock_.extend(jack_last_frame_time(self->client_));
    const size_t count = self->periodCount_.load(std::memory_order_relaxed);
    if (self->used_ + frames > self->samples_.size() || count == self->periods_.size()) {
        self->full_.store(true, std::memory_order_release);
        return 0;
    }
    const auto* left = static_cast<const jack_default_audio_sample_t*>(jack_port_get_buffer(self->left_, frames));
    const auto* right = static_cast<const jack_default_audio_sample_t*>(jack_port_get_buffer(self->right_, frames));
    for (jack_nframes_t i = 0; i < frames; ++i) self->samples_[self->used_ + i] = Frame{left[i], right[i]};
    self->periods_[count] = Period{start, frames, self->used_};
    self->used_ += frames;
    self->periodCount_.store(count + 1, std::memory_order_release);
    return 0;
}

void JackRecorder::shutdown(jack_status_t, const char*, void* arg) {
    static_cast<JackRecorder*>(arg)->gone_.store(true);
}

const JackRecorder::Period* JackRecorder::periodHolding(uint64_t frameTime, size_t count) const {
    // Periods are recorded in frame-time order: the last one starting at or before `frameTime`.
    const auto end = periods_.begin() + static_cast<std::ptrdiff_t>(count);
    auto after = std::upper_bound(periods_.begin(), end, frameTime,
                                  [](uint64_t time, const Period& period) { return time < period.start; });
    if (after == periods_.begin()) return nullptr;
    const Period& period = *(after - 1);
    return frameTime < period.start + period.frames ? &period : nullptr;
}

std::optional<JackRecorder::Frame> JackRecorder::sampleAt(uint64_t frameTime) const {
    const size_t count = periodCount_.load(std::memory_order_acquire);
    const Period* period = periodHolding(frameTime, count);
    if (period == nullptr) return std::nullopt;
    return samples_[period->index + (frameTime - period->start)];
}

std::optional<uint64_t> JackRecorder::firstNonZeroAfter(uint64_t frameTime) const {
    const size_t count = periodCount_.load(std::memory_order_acquire);
    for (size_t p = 0; p < count; ++p) {
        const Period& period = periods_[p];
        if (period.start + period.frames <= frameTime) continue;
        for (uint64_t t = std::max(frameTime, period.start); t < period.start + period.frames; ++t) {
            const Frame& frame = samples_[period.index + (t - period.start)];
            if (frame.left != 0 || frame.right != 0) return t;
        }
    }
    return std::nullopt;
}

uint64_t JackRecorder::recordedUntil() const {
    const size_t count = periodCount_.load(std::memory_order_acquire);
    return count == 0 ? 0 : periods_[count - 1].start + periods_[count - 1].frames;
}

bool JackRecorder::waitUntil(uint64_t frameTime, double timeoutSeconds) const {
    return pollUntil(timeoutSeconds, [&] { return recordedUntil() > frameTime || full_.load() || gone_.load(); }) &&
           recordedUntil() > frameTime;
}

std::vector<JackRecorder::Period> JackRecorder::periods() const {
    const size_t count = periodCount_.load(std::memory_order_acquire);
    return {periods_.begin(), periods_.begin() + static_cast<std::ptrdiff_t>(count)};
}

std::vector<JackRecorder::Frame> JackRecorder::framesOf(const Period& period) const {
    const auto first = samples_.begin() + static_cast<std::ptrdiff_t>(period.index);
    return {first, first + period.frames};
}

// --- the server ---------------------------------------------------------------

namespace {

struct ShortClient {
    ShortClient() {
        std::string error;
        client = openClient("test-control", error);
    }
    ~ShortClient() {
        if (client != nullptr) jack_client_close(client);
    }
    jack_client_t* client = nullptr;
};

}  // namespace

bool setBufferSize(uint32_t frames) {
    ShortClient control;
    return control.client != nullptr && jack_set_buffer_size(control.client, frames) == 0;
}

std::vector<std::string> jackConnections(const std::string& port) {
    std::vector<std::string> result;
    ShortClient control;
    if (control.client == nullptr) return result;
    jack_port_t* handle = jack_port_by_name(control.client, port.c_str());
    if (handle == nullptr) return result;
    if (const char** names = jack_port_get_all_connections(control.client, handle)) {
        for (const char** name = names; *name != nullptr; ++name) result.emplace_back(*name);
        jack_free(names);
    }
    return result;
}

bool jackPortExists(const std::string& port) {
    ShortClient control;
    return control.client != nullptr && jack_port_by_name(control.client, port.c_str()) != nullptr;
}

}  // namespace test
