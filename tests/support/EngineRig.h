#pragma once
// An engine on the offline device and the virtual clock, with a bank built in
// code and songs loaded from bytes: the set-up the engine, song, render and
// editor suites share.

#include "support/MidiWriter.h"
#include "bank/Bank.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tonvero::test {

// A Wave's samples and loop, and the fading of the Instrument that plays it.
struct WaveShape {
    std::vector<int16_t> samples = std::vector<int16_t>(4410, 8000);  // 0.1 s at 44100 Hz
    uint32_t frequency = 44100;
    int32_t looped = 0;
    int32_t loopBegin = 0;
    int32_t loopEnd = 0;
    int32_t holdPos = 0;
    uint32_t loopFading = 0;
    uint32_t sustainFading = 0;
    uint32_t cutoffFading = 0;
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

// A Wave made from `shape` (its samples, rate and loop).
inline std::unique_ptr<Wave> makeWave(WaveShape shape, const std::string& name = {}) {
    auto wave = std::make_unique<Wave>();
    wave->name = name;
    wave->setSamples(std::move(shape.samples));
    wave->frequency = shape.frequency;
    wave->updateFormat();
    wave->looped = shape.looped;
    wave->loopBegin = shape.loopBegin;
    wave->loopEnd = shape.loopEnd;
    wave->holdPos = shape.holdPos;
    return wave;
}

// Appends a Zone over keys `from`..`to` with basic note `basicNote` playing a new Wave.
inline Zone& addZone(Instrument& inst, WaveShape shape, int32_t basicNote = 60, int32_t from = 0, int32_t to = 127,
                     const std::string& waveName = {}) {
    Zone& z = *Bank::addZone(inst, makeWave(std::move(shape), waveName));
    z.basicNote = basicNote;
    z.rangeStart = from;
    z.rangeEnd = to;
    return z;
}

// Adds an Instrument with one Zone over every key (basic note 60) playing a
// Wave made from `tone`, with the tone's fading; returns its slot.
inline int32_t addTone(Bank& bank, const std::string& name, WaveShape tone = {}) {
    const int32_t slot = bank.insertInstrument(name);
    Instrument& inst = *bank.instruments[static_cast<size_t>(slot)];
    inst.loopFading = tone.loopFading;
    inst.sustainFading = tone.sustainFading;
    inst.cutoffFading = tone.cutoffFading;
    addZone(inst, std::move(tone), 60, 0, 127, name);
    return slot;
}

// Parses the bytes and, when they load, makes them `engine`'s Song (after
// `beforeInstall`, when given, has run on it).
inline SongLoadResult loadSong(MixerEngine& engine, const Bytes& bytes, void (*beforeInstall)(MixerEngine&) = nullptr)
    EXCLUDES(engine.mutex) {
    SongImage image;
    const SongLoadResult result = parseSong(bytes, image);
    if (result == SongLoadResult::Loaded) {
        if (beforeInstall) beforeInstall(engine);
        EngineLock lock(engine.mutex);
        installSong(engine, std::move(image));
    }
    return result;
}

// What `read` takes from `engine`'s song state, read under the engine lock
// (a copy: a number, a Track).
template <class Read>
auto readSong(MixerEngine& engine, Read read) EXCLUDES(engine.mutex) {
    EngineLock lock(engine.mutex);
    return read(static_cast<const SongState&>(engine.song));
}

class EngineRig {
public:
    enum class Output { Closed, Open };

    // With Output::Open the output is set up at once, and the transport is
    // stopped before the engine goes.
    explicit EngineRig(MixerMode mode = MixerMode::Software, int32_t rate = 44100, Output output = Output::Closed)
        : engine(std::make_unique<MixerEngine>(mode, rate, audio.deviceFactory(), &audio.timers())),
          stopAtEnd_(output == Output::Open) {
        if (output == Output::Open) {
            EngineLock lock(engine->mutex);
            engine->initOutput();
        }
    }
    ~EngineRig() {
        if (stopAtEnd_) stop(*engine);
        engine.reset();
    }
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

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
    static Zone& zone(Instrument& inst, WaveShape shape, int32_t basicNote = 60, int32_t from = 0, int32_t to = 127) {
        return addZone(inst, std::move(shape), basicNote, from, to);
    }

    // Parses the bytes and, when they load, stops the transport and makes them the engine's Song.
    SongLoadResult load(const Bytes& bytes) EXCLUDES(engine->mutex) {
        return loadSong(*engine, bytes, [](MixerEngine& e) { stop(e); });
    }
    SongLoadResult load(const MidiWriter& writer) EXCLUDES(engine->mutex) { return load(writer.bytes()); }

    TransportStatus status() EXCLUDES(engine->mutex) {
        EngineLock lock(engine->mutex);
        return transportStatus(*engine);
    }

    // Moves the clock from deadline to deadline until nothing plays any more
    // or `maxMicros` of clock time have passed; true if it went idle.
    bool runUntilIdle(uint64_t maxMicros = 60000000) EXCLUDES(engine->mutex) {
        const uint64_t limit = clock().nowMicros() + maxMicros;
        while (status() != TransportStatus::Idle) {
            if (clock().nowMicros() >= limit || !clock().advanceToNextDeadline()) return false;
        }
        return true;
    }

    // Runs the sequencer's timer events (and the mixer's) up to `micros` from now.
    void advance(uint64_t micros) EXCLUDES(engine->mutex) { clock().advanceBy(micros); }

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

private:
    bool stopAtEnd_;
};

// The rig the song and render suites play songs on: its output is open.
class SongRig : public EngineRig {
public:
    explicit SongRig(MixerMode mode = MixerMode::Software, int32_t rate = 44100)
        : EngineRig(mode, rate, Output::Open) {}
};

}  // namespace tonvero::test
