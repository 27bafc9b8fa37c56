#pragma once
// An engine on the offline device and the virtual clock, with a bank built in
// code, for the engine suites.

#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tonvero::test {

struct WaveSpec {
    std::vector<int16_t> samples;
    uint32_t frequency = 44100;
    int32_t looped = 0;
    int32_t loopBegin = 0;
    int32_t loopEnd = 0;
    int32_t holdPos = 0;
};

inline std::vector<int16_t> constantSamples(uint32_t count, int16_t value) {
    return std::vector<int16_t>(count, value);
}

// Sample k = k x 4, so that a voice at gain 128 (a quarter) plays back k.
inline std::vector<int16_t> rampSamples(uint32_t count) {
    std::vector<int16_t> s(count);
    for (uint32_t k = 0; k < count; ++k) s[k] = static_cast<int16_t>(k * 4);
    return s;
}

class EngineRig {
public:
    explicit EngineRig(MixerMode mode = MixerMode::Software, int32_t rate = 44100)
        : engine(std::make_unique<MixerEngine>(mode, rate, audio.deviceFactory(), &audio.timers())) {}

    MixerEngine& e() { return *engine; }
    VirtualTimerService& clock() { return audio.timers(); }

    // A new Instrument with no fading unless set otherwise.
    Instrument& instrument(const std::string& name = "inst", uint32_t loopFading = 0, uint32_t sustainFading = 0,
                           uint32_t cutoffFading = 0) {
        const int32_t slot = engine->bank.insertInstrument(name);
        Instrument& inst = *engine->bank.instruments[static_cast<size_t>(slot)];
        inst.loopFading = loopFading;
        inst.sustainFading = sustainFading;
        inst.cutoffFading = cutoffFading;
        return inst;
    }

    // A Zone over keys `from`..`to` with basic note `basicNote` playing a new Wave.
    static Zone& zone(Instrument& inst, WaveSpec shape, int32_t basicNote = 60, int32_t from = 0, int32_t to = 127) {
        auto wave = std::make_unique<Wave>();
        wave->setSamples(std::move(shape.samples));
        wave->frequency = shape.frequency;
        wave->updateFormat();
        wave->looped = shape.looped;
        wave->loopBegin = shape.loopBegin;
        wave->loopEnd = shape.loopEnd;
        wave->holdPos = shape.holdPos;
        Zone& z = *Bank::addZone(inst, std::move(wave));
        z.basicNote = basicNote;
        z.rangeStart = from;
        z.rangeEnd = to;
        return z;
    }

    // One mixing pass of `frames` frames into a plain buffer, as interleaved
    // samples. The caller holds the engine lock (the mixer fixtures hold it
    // for the whole test).
    std::vector<int16_t> mix(uint32_t frames) {
        engine->mutex.assertHeld();
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2, int16_t{-1});
        engine->mixBlock(reinterpret_cast<uint8_t*>(out.data()), frames * 4);
        return out;
    }

    // The mixing buffer's bytes [offset, offset + bytes) as samples (software mixer).
    std::vector<int16_t> mixBufferSamples(uint32_t offset, uint32_t bytes) {
        LockedRegions r;
        std::vector<int16_t> out;
        if (!succeeded(engine->mixBuffer->lock(offset, bytes, r, 0))) return out;
        out.resize(bytes / 2);
        std::memcpy(out.data(), r.first, r.firstBytes);
        if (r.second) std::memcpy(reinterpret_cast<uint8_t*>(out.data()) + r.firstBytes, r.second, r.secondBytes);
        engine->mixBuffer->unlock(r);
        return out;
    }

    uint32_t playCursor() {
        uint32_t cursor = 0;
        engine->mixBuffer->getCurrentPosition(&cursor, nullptr);
        return cursor;
    }

    OfflineAudio audio;  // outlives the engine, which runs on its clock
    std::unique_ptr<MixerEngine> engine;
};

}  // namespace tonvero::test
