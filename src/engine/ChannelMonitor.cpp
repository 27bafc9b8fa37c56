#include "engine/ChannelMonitor.h"

#include "engine/MixerEngine.h"

#include <algorithm>

namespace tonvero {

namespace {

uint16_t silentChannels(const ListenerSettings& listener) {
    uint16_t silent = listener.muted;
    if (listener.soloed != 0) silent |= static_cast<uint16_t>(~listener.soloed);
    return silent;
}

// Tells the mixer which channels are silent now. The Studio mixer plays
// their voices on at no level; the Custom and hardware mixers cut their
// notes, and the sequencer starts none on them.
void applySilence(MixerEngine& engine) REQUIRES(engine.mutex) {
    const uint16_t silent = silentChannels(engine.listener);
    if (engine.studio)
        engine.studio->setSilentChannels(silent);
    else
        cutChannelNotes(engine, silent);
}

uint16_t withBit(uint16_t mask, int32_t channel, bool on) {
    const uint16_t bit = static_cast<uint16_t>(1u << channel);
    return on ? static_cast<uint16_t>(mask | bit) : static_cast<uint16_t>(mask & ~bit);
}

}  // namespace

void channelActivity(const MixerEngine& engine, ChannelActivities& out) {
    const ListenerSettings& listener = engine.listener;
    const StudioMixer::View* view = engine.studio ? &engine.studio->view() : nullptr;
    for (int32_t c = 0; c < kMidiChannels; ++c) {
        ChannelActivity& a = out[static_cast<size_t>(c)];
        a = ChannelActivity{};
        a.drums = c == Bank::kDrumChannel;
        a.muted = (listener.muted >> c) & 1;
        a.soloed = (listener.soloed >> c) & 1;
        a.audible = channelAudible(engine, c);
        if (view) {
            const StudioMixer::View::Channel& ch = view->channels[static_cast<size_t>(c)];
            a.program = ch.program;
            a.bankMsb = ch.bankMsb;
            a.bankLsb = ch.bankLsb;
            a.volume = ch.volume;
            a.expression = ch.expression;
            a.pan = ch.pan;
            const StudioMixer::ChannelMeter& meter = view->meters[static_cast<size_t>(c)];
            a.level = meter.level;
            a.keys = {meter.keys[0], meter.keys[1]};
            continue;
        }
        const ChannelState& ch = engine.channels[static_cast<size_t>(c)];
        a.program = std::clamp(ch.program, 0, 127);
        a.volume = ch.volume;
        a.pan = ch.pan;
    }
    if (engine.studio) return;
    // The Custom and hardware mixers keep no meters: a held note's level is
    // its MixerVoice's gain, or on the hardware mixer its velocity.
    for (const Voice& voice : engine.voices) {
        if (!voice.active || voice.channel < 0 || voice.channel >= kMidiChannels) continue;
        ChannelActivity& a = out[static_cast<size_t>(voice.channel)];
        const int32_t key = std::clamp(voice.key, 0, 127);
        a.keys[static_cast<size_t>(key >> 6)] |= uint64_t{1} << (key & 63);
        float level = static_cast<float>(std::clamp(voice.velocity, 0, 127)) / 127.0f;
        if (engine.softwareMixer) {
            const MixerVoice* m = voice.mixerVoice >= 0 && voice.mixerVoice < kMixerVoiceCount
                                      ? &engine.custom.mixerVoices[static_cast<size_t>(voice.mixerVoice)]
                                      : nullptr;
            level = m && m->active && m->soundSerial == voice.soundSerial
                        ? static_cast<float>(std::max(m->leftGain, m->rightGain)) / (128.0f * 65536.0f)
                        : 0.0f;
        }
        a.level = std::max(a.level, std::min(1.0f, level));
    }
}

void cutChannelNotes(MixerEngine& engine, uint16_t channels) {
    if (engine.studio) return;
    auto named = [channels](int32_t channel) {
        return channel >= 0 && channel < kMidiChannels && ((channels >> channel) & 1);
    };
    for (Voice& voice : engine.voices) {
        if (!voice.active || !named(voice.channel)) continue;
        if (!engine.softwareMixer)
            if (SoundBuffer* buffer = engine.bufferOf(voice)) buffer->stop();
        voice.active = 0;
    }
    for (MixerVoice& m : engine.custom.mixerVoices)
        if (m.active && named(m.channel)) m.active = 0;
}

void setChannelMuted(MixerEngine& engine, int32_t channel, bool muted) {
    if (channel < 0 || channel >= kMidiChannels) return;
    setMutedChannels(engine, withBit(engine.listener.muted, channel, muted));
}

void setChannelSoloed(MixerEngine& engine, int32_t channel, bool soloed) {
    if (channel < 0 || channel >= kMidiChannels) return;
    setSoloedChannels(engine, withBit(engine.listener.soloed, channel, soloed));
}

uint16_t mutedChannels(const MixerEngine& engine) { return engine.listener.muted; }
uint16_t soloedChannels(const MixerEngine& engine) { return engine.listener.soloed; }

void setMutedChannels(MixerEngine& engine, uint16_t mask) {
    engine.listener.muted = mask;
    applySilence(engine);
}

void setSoloedChannels(MixerEngine& engine, uint16_t mask) {
    engine.listener.soloed = mask;
    applySilence(engine);
}

bool channelAudible(const MixerEngine& engine, int32_t channel) {
    if (channel < 0 || channel >= kMidiChannels) return true;  // the preview channel is never silenced
    return !((silentChannels(engine.listener) >> channel) & 1);
}

void setMasterVolume(MixerEngine& engine, int32_t percent) {
    engine.listener.volume = std::clamp(percent, 0, 100);
    applyMasterVolume(engine);
}

int32_t masterVolume(const MixerEngine& engine) { return engine.listener.volume; }

void applyMasterVolume(MixerEngine& engine) {
    if (!engine.soundDevice) return;
    const double share = engine.listener.volume / 100.0;
    engine.soundDevice->setMasterGain(share * share);
}

}  // namespace tonvero
