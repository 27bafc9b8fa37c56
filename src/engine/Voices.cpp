// Notes: choosing a Voice, looking the note up in the bank, its frequency,
// and starting and releasing it on the software or the hardware mixer.

#include "engine/Midi.h"
#include "engine/MixerEngine.h"

#include <algorithm>

#include <cmath>

namespace tonvero {

namespace {

// 1/12 in single precision, as the frequency rules have it.
constexpr float kTwelfthOfAnOctave = 0.083333336f;

// Hz to an unsigned 32-bit value, truncated toward zero (0 for NaN, saturating above).
uint32_t truncateHz(double hz) {
    if (!(hz > 0)) return 0;
    if (hz >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(hz);
}

}  // namespace

uint32_t MixerEngine::noteFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend) {
    if (bend == 0.0f && pitchOffset >= -60 && pitchOffset <= 60) {
        // Single-precision product, as the table holds single-precision ratios.
        const float hz = static_cast<float>(waveFrequency) * semitoneRatio[60 + pitchOffset];
        return truncateHz(hz);
    }
    // Bent, or beyond the table: 2^(semitones / 12), the exponent in single precision.
    const float exponent = (static_cast<float>(pitchOffset) + bend) * kTwelfthOfAnOctave;
    return truncateHz(std::pow(2.0, static_cast<double>(exponent)) * waveFrequency);
}

int32_t MixerEngine::chooseVoice() {
    for (int32_t i = 0; i < kVoiceCount; ++i)
        if (!voices[static_cast<size_t>(i)].active) return i;
    int32_t oldest = 0;
    for (int32_t i = 1; i < kVoiceCount; ++i)
        if (voices[static_cast<size_t>(i)].startTick < voices[static_cast<size_t>(oldest)].startTick) oldest = i;
    releaseVoice(voices[static_cast<size_t>(oldest)]);
    return oldest;
}

MixerVoice* MixerEngine::mixerVoiceOf(const Voice& voice) {
    if (voice.soundSerial == 0 || voice.mixerVoice < 0 || voice.mixerVoice >= kMixerVoiceCount) return nullptr;
    MixerVoice& m = custom.mixerVoices[static_cast<size_t>(voice.mixerVoice)];
    return m.active && m.soundSerial == voice.soundSerial ? &m : nullptr;
}

SoundBuffer* MixerEngine::bufferOf(const Voice& voice) {
    SoundBufferPtr* slot = bufferSlot(voice.bufferRef);
    if (!slot || !*slot || voice.soundSerial == 0) return nullptr;
    return hardware.bufferSerials[static_cast<size_t>(voice.bufferRef)] == voice.soundSerial ? slot->get() : nullptr;
}

void MixerEngine::releaseVoice(Voice& voice) {
    if (softwareMixer) {
        // A Voice that never got a MixerVoice stays held until it is stolen.
        if (voice.mixerVoice == -1) return;
        voice.active = 0;
        if (MixerVoice* m = mixerVoiceOf(voice)) m->released = 1;
        return;
    }
    voice.active = 0;
    SoundBuffer* buffer = bufferOf(voice);
    if (!voice.wave || !buffer) return;
    const Wave& w = *voice.wave;
    uint32_t status = 0;
    buffer->getStatus(status);
    // A looping buffer plays on to its end once.
    if (w.looped && (status & BufferStatus::Looping)) buffer->play(0);
    // From the release point, sample loopEnd, when play has not reached it.
    if (w.loopEnd > 0) {
        const uint64_t releaseBytes = 2 * static_cast<uint64_t>(w.loopEnd);
        uint32_t cursor = 0;
        buffer->getCurrentPosition(&cursor, nullptr);
        uint32_t size = 0;
        buffer->getCaps(size);
        // A release point past the samples ends the note.
        if (releaseBytes >= size) {
            buffer->stop();
        } else if (cursor < releaseBytes) {
            buffer->setCurrentPosition(static_cast<uint32_t>(releaseBytes));
        }
    }
}

namespace {

// A channel message for the Studio mixer, applied at the next frame it renders.
StudioEvent studioMessage(uint8_t type, int32_t channel, int32_t data1, int32_t data2) {
    StudioEvent e;
    e.kind = StudioEvent::Kind::Midi;
    e.type = type;
    e.channel = static_cast<uint8_t>(channel);
    e.data1 = static_cast<uint8_t>(std::clamp(data1, 0, 127));
    e.data2 = static_cast<uint8_t>(std::clamp(data2, 0, 127));
    e.immediate = true;
    return e;
}

// Semitones from `zone`'s basic note to `key`. A basic note from a damaged
// bank may lie anywhere in 32 bits; the distance is kept in range (anything
// past 1000 semitones is silent or inaudible alike).
int32_t keyDistance(int32_t key, const Zone& zone) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{key} - zone.basicNote, -1000, 1000));
}

}  // namespace

Instrument* MixerEngine::songInstrument(int32_t channel) const {
    const int32_t program = channels[static_cast<size_t>(channel)].program;
    if (studio && channel == Bank::kDrumChannel) return bank.kitForProgram(program);
    return bank.instrumentForProgram(Bank::entryForChannel(channel, program));
}

uint32_t bentFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend) {
    const double semitones = static_cast<double>(pitchOffset) + static_cast<double>(bend);
    return truncateHz(std::pow(2.0, semitones * static_cast<double>(kTwelfthOfAnOctave)) * waveFrequency);
}

void MixerEngine::retuneBentVoices() {
    if (softwareMixer) {
        for (MixerVoice& m : custom.mixerVoices) {
            if (!m.active || !m.wave || m.channel < 0 || m.channel >= kChannelCount) continue;
            const ChannelState& ch = channels[static_cast<size_t>(m.channel)];
            if (!ch.pitchChanged) continue;
            const uint32_t hz = bentFrequency(m.wave->frequency, m.pitchOffset, ch.bend);
            m.step = frequencyStep(hz, static_cast<uint32_t>(outputRate));
        }
        return;
    }
    for (Voice& v : voices) {
        if (!v.active || !v.wave || v.channel < 0 || v.channel >= kChannelCount) continue;
        const ChannelState& ch = channels[static_cast<size_t>(v.channel)];
        if (!ch.pitchChanged) continue;
        // Only the buffer that still plays this Voice's own note.
        if (SoundBuffer* buffer = bufferOf(v))
            buffer->setFrequency(bentFrequency(v.wave->frequency, v.pitchOffset, ch.bend));
    }
}

void MixerEngine::noteOn(int32_t key, int32_t velocity, int32_t channel) {
    if (channel < 0 || channel >= kPreviewChannel) return;  // song channels only
    if (studio) {
        if (velocity > 0) studio->post(studioMessage(midi::kNoteOn, channel, key, velocity));
        return;
    }
    // The Voice that takes the note.
    Voice& v = voices[static_cast<size_t>(chooseVoice())];
    // MIDI channel 10 always plays the drum set.
    channels[9].program = Bank::kDrumEntry;
    ChannelState& ch = channels[static_cast<size_t>(channel)];
    // The channel's Instrument and its Zone for the key; without either, no note.
    Instrument* instrument = songInstrument(channel);
    if (!instrument) return;
    Zone* zone = Bank::findZone(instrument, key);
    if (!zone) return;
    // The pitch: the Wave's frequency moved by the key's distance from the
    // basic note and by the channel's bend.
    startVoice(v, *instrument, {zone->wave.get(), key, channel, velocity, keyDistance(key, *zone), ch.bend, ch.pan, 0});
}

void MixerEngine::noteOff(int32_t key, int32_t channel) {
    if (studio) {
        if (channel >= 0 && channel < kPreviewChannel) studio->post(studioMessage(midi::kNoteOff, channel, key, 0));
        return;
    }
    for (Voice& v : voices) {
        if (v.active && v.key == key && v.channel == channel) {
            releaseVoice(v);
            return;
        }
    }
}

void MixerEngine::setSustain(int32_t on, int32_t channel) {
    if (channel < 0 || channel >= kChannelCount) return;
    channels[static_cast<size_t>(channel)].sustain = on;
    if (studio) {
        studio->post(studioMessage(midi::kControlChange, channel, midi::cc::kSustain, on ? 127 : 0));
        return;
    }
    if (!softwareMixer) return;
    for (MixerVoice& m : custom.mixerVoices)
        if (m.active && m.channel == channel) m.sustained = on;
}

int32_t MixerEngine::previewNote(Instrument* instrument, Zone* zone) {
    // The mixer runs even when no song plays.
    startOutput();
    if (studio) {
        if (!instrument || !zone) return -1;
        StudioEvent e;
        e.kind = StudioEvent::Kind::PreviewOn;
        e.channel = static_cast<uint8_t>(kPreviewChannel);
        e.wave = zone->wave.get();
        e.zone = zone;
        e.data1 = static_cast<uint8_t>(std::clamp(zone->basicNote, 0, 127));
        e.fadings[0] = instrument->loopFading;
        e.fadings[1] = instrument->sustainFading;
        e.fadings[2] = instrument->cutoffFading;
        e.noteId = ++lastNoteId;
        e.immediate = true;
        studio->post(e);
        return e.noteId;
    }
    // The Voice that takes the audition.
    Voice& v = voices[static_cast<size_t>(chooseVoice())];
    if (!instrument || !zone) return -1;
    // The Wave at its own frequency, at full velocity.
    return startAudition(v, *instrument, zone->wave.get(), zone->basicNote, 128, 0);
}

int32_t MixerEngine::startAudition(Voice& v, Instrument& instrument, Wave* wave, int32_t key, int32_t velocity,
                                   int32_t pitchOffset) {
    // Unbent, in the pan of MIDI channel 16.
    ++lastNoteId;
    startVoice(v, instrument, {wave, key, kPreviewChannel, velocity, pitchOffset, 0.0f, channels[15].pan, lastNoteId});
    return lastNoteId;
}

void MixerEngine::startVoice(Voice& v, const Instrument& instrument, const VoiceNote& note) {
    v.key = note.key;
    v.channel = note.channel;
    v.velocity = note.velocity;
    v.pitchOffset = note.pitchOffset;
    v.startTick = song.currentTick;
    v.active = 1;
    v.wave = note.wave;
    v.noteId = note.noteId;
    v.soundSerial = 0;
    v.mixerVoice = -1;
    v.bufferRef = -1;
    const uint32_t hz = v.wave ? noteFrequency(v.wave->frequency, note.pitchOffset, note.bend) : 0;
    if (softwareMixer)
        v.mixerVoice = startMixerVoice(v, hz, note.pan, &instrument);
    else
        startBufferVoice(v, hz, note.pan);
}

int32_t MixerEngine::previewKey(Instrument* instrument, int32_t key, int32_t velocity) {
    key = std::clamp(key, 0, 127);
    velocity = std::clamp(velocity, 1, 127);
    Zone* zone = Bank::findZone(instrument, key);
    if (!zone || !zone->wave) return -1;
    startOutput();
    if (studio) {
        StudioEvent e;
        e.kind = StudioEvent::Kind::PreviewKey;
        e.channel = static_cast<uint8_t>(kPreviewChannel);
        e.instrument = instrument;
        e.data1 = static_cast<uint8_t>(key);
        e.data2 = static_cast<uint8_t>(velocity);
        e.noteId = ++lastNoteId;
        e.immediate = true;
        studio->post(e);
        return e.noteId;
    }
    Voice& v = voices[static_cast<size_t>(chooseVoice())];
    return startAudition(v, *instrument, zone->wave.get(), key, velocity, keyDistance(key, *zone));
}

void MixerEngine::stopPreview(int32_t noteId) {
    if (noteId < 1) return;
    if (studio) {
        StudioEvent e;
        e.kind = StudioEvent::Kind::PreviewOff;
        e.noteId = noteId;
        e.immediate = true;
        studio->post(e);
        return;
    }
    for (Voice& v : voices) {
        if (v.active && v.noteId == noteId) {
            releaseVoice(v);
            return;
        }
    }
}

}  // namespace tonvero
