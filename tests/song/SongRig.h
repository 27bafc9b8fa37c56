#pragma once
// An engine on the offline device and the virtual clock, with instruments
// built in code and songs loaded from bytes, for the song and render suites.

#include "support/MidiWriter.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <memory>
#include <string>
#include <vector>

namespace tonvero::test {

struct ToneSpec {
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

// Adds an Instrument with one Zone over every key (basic note 60) playing a
// Wave made from `tone`; returns its slot.
inline int32_t addTone(Bank& bank, const std::string& name, ToneSpec tone = {}) {
    const int32_t slot = bank.insertInstrument(name);
    Instrument& inst = *bank.instruments[static_cast<size_t>(slot)];
    inst.loopFading = tone.loopFading;
    inst.sustainFading = tone.sustainFading;
    inst.cutoffFading = tone.cutoffFading;
    auto wave = std::make_unique<Wave>();
    wave->name = name;
    wave->setSamples(std::move(tone.samples));
    wave->frequency = tone.frequency;
    wave->updateFormat();
    wave->looped = tone.looped;
    wave->loopBegin = tone.loopBegin;
    wave->loopEnd = tone.loopEnd;
    wave->holdPos = tone.holdPos;
    Zone* zone = Bank::addZone(inst, std::move(wave));
    zone->rangeStart = 0;
    zone->rangeEnd = 127;
    zone->basicNote = 60;
    return slot;
}

class SongRig {
public:
    explicit SongRig(MixerMode mode = MixerMode::Software, int32_t rate = 44100)
        : engine_(std::make_unique<MixerEngine>(mode, rate, audio_.deviceFactory(), &audio_.timers())) {
        EngineLock lock(engine_->mutex);
        engine_->initOutput();
    }
    ~SongRig() {
        stop(*engine_);
        engine_.reset();
    }

    MixerEngine& e() { return *engine_; }
    VirtualTimerService& clock() { return audio_.timers(); }
    OfflineAudio& audio() { return audio_; }

    // Parses the bytes and, when they load, makes them the engine's Song.
    SongLoadResult load(const Bytes& bytes) {
        SongImage image;
        const SongLoadResult result = parseSong(bytes, image);
        if (result == SongLoadResult::Loaded) {
            stop(*engine_);
            EngineLock lock(engine_->mutex);
            installSong(*engine_, std::move(image));
        }
        return result;
    }
    SongLoadResult load(const MidiWriter& writer) { return load(writer.bytes()); }

    TransportStatus status() {
        EngineLock lock(engine_->mutex);
        return transportStatus(*engine_);
    }

    // Moves the clock from deadline to deadline until nothing plays any more
    // or `maxMicros` of clock time have passed; true if it went idle.
    bool runUntilIdle(uint64_t maxMicros = 60000000) {
        const uint64_t limit = clock().nowMicros() + maxMicros;
        while (status() != TransportStatus::Idle) {
            if (clock().nowMicros() >= limit || !clock().advanceToNextDeadline()) return false;
        }
        return true;
    }

    // Runs the sequencer's timer events (and the mixer's) up to `micros` from now.
    void advance(uint64_t micros) { clock().advanceBy(micros); }

private:
    OfflineAudio audio_;
    std::unique_ptr<MixerEngine> engine_;
};

}  // namespace tonvero::test
