#include "platform/SoundDevice.h"

#include "platform/DeviceCore.h"
#include "platform/JackBackend.h"
#include "platform/NullBackend.h"
#include "platform/OfflineBackend.h"
#include "platform/PortAudioBackend.h"
#include "platform/SoundBufferState.h"

#include <new>

namespace tonvero {

using Guard = MutexLock;

namespace {

constexpr uint32_t kDescSize = 20;
constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;

bool validSecondaryFormat(const WaveFormat& f) {
    return f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
           (f.bitsPerSample == 8 || f.bitsPerSample == 16) && f.blockAlign == f.channels * f.bitsPerSample / 8 &&
           f.samplesPerSec >= kFrequencyMin && f.samplesPerSec <= kFrequencyMax;
}

}  // namespace

std::unique_ptr<SoundDevice> SoundDevice::open(const std::string& backendName, std::string& error) {
    return open(backendName, error, BackendOptions{});
}

std::unique_ptr<SoundDevice> SoundDevice::open(const std::string& backendName, std::string& error,
                                               const BackendOptions& options) {
    error.clear();
    if (backendName == "portaudio") {
        std::unique_ptr<PortAudioBackend> backend = PortAudioBackend::open(error);
        if (!backend) return nullptr;
        return std::make_unique<SoundDevice>(std::move(backend));
    }
    if (backendName == "jack") {
        std::unique_ptr<JackBackend> backend = JackBackend::open(options, error);
        if (!backend) return nullptr;
        return std::make_unique<SoundDevice>(std::move(backend));
    }
    if (backendName == "null") return std::make_unique<SoundDevice>(std::make_unique<NullBackend>());
    if (backendName == "offline") return std::make_unique<SoundDevice>(std::make_unique<OfflineBackend>());
    error = "unknown audio output \"" + backendName + "\" (choose portaudio, jack, null or offline)";
    return nullptr;
}

SoundDevice::SoundDevice(std::unique_ptr<AudioBackend> backend)
    : core_(std::make_shared<DeviceCore>(std::move(backend))) {}

SoundDevice::~SoundDevice() { core_->shutdown(); }

void SoundDevice::setMasterGain(double gain) { core_->setMasterGain(gain); }

void SoundDevice::setDirectRender(const DirectRender* source) { core_->setDirectRender(source); }

bool SoundDevice::realTime() const { return core_->realTime(); }

uint32_t SoundDevice::periodFrames() const { return core_->periodFrames(); }

std::string SoundDevice::failure() const { return core_->failure(); }

bool SoundDevice::setMidiInput(MidiInputFunction function, void* context) {
    return core_->setMidiInput(function, context);
}

SoundResult SoundDevice::setCooperativeLevel(CooperativeLevel level) {
    const auto value = static_cast<uint32_t>(level);
    if (value < static_cast<uint32_t>(CooperativeLevel::Normal) ||
        value > static_cast<uint32_t>(CooperativeLevel::WritePrimary))
        return SoundResult::InvalidParam;
    Guard lock(core_->mutex());
    core_->level = level;
    return SoundResult::Ok;
}

SoundResult SoundDevice::createSoundBuffer(const BufferDesc& desc, SoundBufferPtr& buffer) {
    buffer.reset();
    if (desc.size != kDescSize) return SoundResult::InvalidParam;

    if (desc.flags & BufferFlags::PrimaryBuffer) {
        if (desc.bufferBytes != 0 || desc.format != nullptr) return SoundResult::InvalidParam;
        // Made outside the device's critical section, which the audio thread
        // tries, for the format it held; made again if that changed meanwhile.
        for (;;) {
            WaveFormat format;
            {
                Guard lock(core_->mutex());
                if (core_->closed) return SoundResult::Failed;
                if (SoundBufferPtr existing = core_->primary.lock()) {
                    buffer = std::move(existing);
                    return SoundResult::Ok;
                }
                format = core_->primaryFormat;
            }
            core_->makeRoomForOne();
            auto state = std::make_shared<SoundBuffer::State>();
            state->primary = true;
            state->format = format;
            state->frequency = format.samplesPerSec;
            state->data = std::make_shared<std::vector<uint8_t>>(DeviceCore::primaryBytesFor(format), uint8_t{0});
            state->frames = state->bytes() / format.blockAlign;
            SoundBufferPtr made(new SoundBuffer(core_, state));
            Guard lock(core_->mutex());
            if (core_->closed) return SoundResult::Failed;
            if (SoundBufferPtr existing = core_->primary.lock()) {
                buffer = std::move(existing);
                return SoundResult::Ok;  // `made` goes unregistered
            }
            if (!(core_->primaryFormat == format)) continue;
            core_->add(state.get());
            core_->primary = made;
            buffer = std::move(made);
            return SoundResult::Ok;
        }
    }

    if (desc.format == nullptr || !validSecondaryFormat(*desc.format) || desc.bufferBytes == 0 ||
        desc.bufferBytes > kMaxBufferBytes || desc.bufferBytes % desc.format->blockAlign != 0)
        return SoundResult::InvalidParam;
    {
        Guard lock(core_->mutex());
        if (core_->closed) return SoundResult::Failed;
        if (!core_->roomForSecondary()) return SoundResult::OutOfMemory;
    }
    // The samples are allocated outside the device's critical section, which
    // the audio thread waits on.
    auto state = std::make_shared<SoundBuffer::State>();
    try {
        state->data = std::make_shared<std::vector<uint8_t>>(desc.bufferBytes, uint8_t{0});
    } catch (const std::bad_alloc&) {
        return SoundResult::OutOfMemory;
    }
    state->format = *desc.format;
    state->frames = desc.bufferBytes / desc.format->blockAlign;
    state->frequency = desc.format->samplesPerSec;
    core_->makeRoomForOne();
    SoundBufferPtr made(new SoundBuffer(core_, state));
    Guard lock(core_->mutex());
    if (core_->closed) return SoundResult::Failed;
    if (!core_->roomForSecondary()) return SoundResult::OutOfMemory;
    core_->add(state.get());
    buffer = std::move(made);
    return SoundResult::Ok;
}

SoundResult SoundDevice::duplicateSoundBuffer(const SoundBufferPtr& original, SoundBufferPtr& duplicate) {
    duplicate.reset();
    if (!original || original->core_ != core_) return SoundResult::InvalidParam;
    // Made outside the device's critical section, registered inside it.
    core_->makeRoomForOne();
    auto state = std::make_shared<SoundBuffer::State>();
    SoundBufferPtr made(new SoundBuffer(core_, state));
    Guard lock(core_->mutex());
    const SoundBuffer::State& source = *original->state_;
    if (source.primary) return SoundResult::InvalidParam;
    if (source.lost) return SoundResult::BufferLost;
    if (core_->closed) return SoundResult::Failed;
    if (!core_->roomForSecondary()) return SoundResult::OutOfMemory;
    state->data = source.data;  // the samples are shared, not copied
    state->format = source.format;
    state->frames = source.frames;
    state->frequency = source.frequency;
    state->volume = source.volume;
    state->pan = source.pan;
    state->updateGains();
    core_->add(state.get());
    duplicate = std::move(made);
    return SoundResult::Ok;
}

const char* SoundDevice::backendName() const { return core_->backendName(); }

uint32_t SoundDevice::outputRate() const { return core_->outputRate(); }

size_t SoundDevice::liveBuffers() const {
    Guard lock(core_->mutex());
    return core_->liveBuffers();
}

std::string SoundDevice::lastError() const { return core_->lastError(); }

uint64_t SoundDevice::silentPeriods() const { return core_->silentPeriods(); }

void SoundDevice::simulateLoss() {
    Guard lock(core_->mutex());
    for (SoundBuffer::State* s : core_->buffers()) {
        s->lost = true;
        s->playing = false;
        s->looping = false;
    }
}

void SoundDevice::setBufferLimit(size_t count) {
    Guard lock(core_->mutex());
    core_->bufferLimit = count;
}

void SoundDevice::render(int16_t* out, uint32_t frames) { core_->render(out, frames); }

SoundDeviceFactory backendDeviceFactory(const std::string& backendName, BackendOptions options) {
    return [backendName, options = std::move(options)]() {
        DeviceOpenResult result;
        result.device = SoundDevice::open(backendName, result.error, options);
        return result;
    };
}

}  // namespace tonvero
