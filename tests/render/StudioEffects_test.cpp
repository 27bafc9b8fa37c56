// The Studio mixer's reverb and chorus, measured: the reverb's decay time
// against its settings, damping and width; the chorus's level and the swing
// of its pitch; and, through whole songs, that nothing is sent at send 0,
// that the sends follow their controllers, and that a render ends once the
// reverb has died away.

#include "engine/Chorus.h"
#include "engine/Reverb.h"
#include "render/SoundMeasure.h"

#include <cmath>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

struct Stereo {
    std::vector<float> left, right;
};

// The reverb's answer to one full-scale frame on both sides, over `seconds`.
Stereo impulseResponse(const ReverbSettings& settings, double seconds) {
    Reverb reverb(kRate, settings);
    const size_t frames = static_cast<size_t>(seconds * kRate);
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    std::vector<float> inLeft(frames), inRight(frames);
    inLeft[0] = 1.0f;
    inRight[0] = 1.0f;
    for (size_t at = 0; at < frames; at += 1000) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1000, frames - at));
        reverb.process(inLeft.data() + at, inRight.data() + at, out.left.data() + at, out.right.data() + at, n);
    }
    return out;
}

// The time to fall 60 dB, from the slope of the backward-integrated energy
// between -5 and -35 dB.
double decayTime(const std::vector<double>& energy) {
    std::vector<double> remaining(energy.size() + 1, 0.0);
    for (size_t k = energy.size(); k-- > 0;) remaining[k] = remaining[k + 1] + energy[k];
    size_t at5 = 0, at35 = 0;
    for (size_t k = 0; k < energy.size(); ++k) {
        const double db = 10 * std::log10(remaining[k] / remaining[0]);
        if (at5 == 0 && db < -5) at5 = k;
        if (db < -35) {
            at35 = k;
            break;
        }
    }
    return at35 > at5 ? 2.0 * static_cast<double>(at35 - at5) / kRate : 0.0;
}

std::vector<double> energyOf(const Stereo& s, double (*shape)(const std::vector<float>&, size_t)) {
    std::vector<double> e(s.left.size());
    for (size_t k = 1; k < e.size(); ++k) e[k] = std::pow(shape(s.left, k), 2) + std::pow(shape(s.right, k), 2);
    return e;
}

double plain(const std::vector<float>& x, size_t k) { return x[k]; }
// Neighbours summed and differenced: the low and the high half of the band.
double lowHalf(const std::vector<float>& x, size_t k) { return x[k] + x[k - 1]; }
double highHalf(const std::vector<float>& x, size_t k) { return x[k] - x[k - 1]; }

double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t from) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t k = from; k < a.size(); ++k) {
        ab += double{a[k]} * b[k];
        aa += double{a[k]} * a[k];
        bb += double{b[k]} * b[k];
    }
    return ab / std::sqrt(aa * bb);
}

TEST(StudioReverb, AnImpulseFallsSixtyDecibelsInTheTimeTheRoomSizeGives) {
    for (double size : {0.1, 0.3, 0.7}) {
        ReverbSettings settings;
        settings.roomSize = size;
        settings.damping = 0;
        const double expected = Reverb::decaySeconds(size);
        const Stereo heard = impulseResponse(settings, expected * 0.8 + 0.3);
        EXPECT_NEAR(decayTime(energyOf(heard, plain)) / expected, 1.0, 0.1) << "room size " << size;
    }
    // Damping takes the high frequencies away sooner; the low ones keep the time.
    ReverbSettings damped;
    damped.damping = 0.6;
    const double expected = Reverb::decaySeconds(damped.roomSize);
    const Stereo heard = impulseResponse(damped, expected * 0.8 + 0.3);
    const double low = decayTime(energyOf(heard, lowHalf));
    const double high = decayTime(energyOf(heard, highHalf));
    EXPECT_NEAR(low / expected, 1.0, 0.1);
    EXPECT_LT(high, 0.75 * low);
}

TEST(StudioReverb, WidthTakesTheSidesFromOneToUnlike) {
    ReverbSettings wide;
    wide.width = 1;
    const Stereo heard = impulseResponse(wide, 1.0);
    EXPECT_LT(std::abs(correlation(heard.left, heard.right, kRate / 10)), 0.3);
    ReverbSettings mono;
    mono.width = 0;
    const Stereo one = impulseResponse(mono, 1.0);
    EXPECT_EQ(one.left, one.right);
}

TEST(StudioReverb, WithNothingSentItFallsQuietAndAddsNothing) {
    Reverb reverb(kRate, ReverbSettings{});
    EXPECT_TRUE(reverb.quiet());
    std::vector<float> in(1000), left(1000), right(1000);
    in[0] = 1.0f;
    reverb.process(in.data(), in.data(), left.data(), right.data(), 1000);
    EXPECT_FALSE(reverb.quiet());
    // Silence in: the tail goes on until it is below -90 dBFS, then stops.
    std::vector<float> peaks;
    while (!reverb.quiet() && peaks.size() < 1000) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        reverb.process(nullptr, nullptr, left.data(), right.data(), 1000);
        float peak = 0;
        for (size_t k = 0; k < 1000; ++k) peak = std::max({peak, std::abs(left[k]), std::abs(right[k])});
        peaks.push_back(peak);
    }
    ASSERT_TRUE(reverb.quiet());
    EXPECT_LT(peaks.size() * 1000.0 / kRate, 2 * Reverb::decaySeconds(0.3));
    EXPECT_GT(peaks.front(), 1e-3f);
    EXPECT_LT(peaks.back(), 3.2e-5f);
    // A tenth of a second before it stopped it was still near -90 dBFS.
    EXPECT_GT(peaks[peaks.size() - 5], 2e-5f) << "stopped long after it fell below -90 dBFS";
    std::fill(left.begin(), left.end(), 0.0f);
    reverb.process(nullptr, nullptr, left.data(), right.data(), 1000);
    for (float v : left) ASSERT_EQ(v, 0.0f);
}

// `seconds` of a sine of `hz` at amplitude 0.5 through a chorus of `settings`.
Stereo chorusOfSine(const ChorusSettings& settings, double hz, double seconds) {
    Chorus chorus(kRate, settings);
    const size_t frames = static_cast<size_t>(seconds * kRate);
    std::vector<float> in(frames);
    for (size_t k = 0; k < frames; ++k) in[k] = static_cast<float>(0.5 * std::sin(2 * kPi * hz * k / kRate));
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    for (size_t at = 0; at < frames; at += 512) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(512, frames - at));
        chorus.process(in.data() + at, out.left.data() + at, out.right.data() + at, n);
    }
    return out;
}

TEST(StudioChorus, ASineKeepsItsAverageLevelAndSwingsInPitchAtTheRate) {
    ChorusSettings settings;
    settings.level = 1;
    // Ten swings of the default chorus: each side's average within 1 dB of the sine's own.
    const double seconds = 10 / settings.rateHz;
    const Stereo heard = chorusOfSine(settings, 1000, seconds + 0.1);
    const size_t from = kRate / 10;
    for (const std::vector<float>* s : {&heard.left, &heard.right}) {
        const std::vector<double> x(s->begin() + static_cast<long>(from), s->end());
        EXPECT_NEAR(decibels(rms(x) / (0.5 / std::sqrt(2.0))), 0.0, 1.0);
    }
    EXPECT_LT(correlation(heard.left, heard.right, from), 0.9);

    // One copy: its delay swings by the depth at the rate, so the pitch
    // swings at the rate by 2 pi rate (depth / 2) of the frequency.
    settings.voices = 1;
    settings.rateHz = 0.5;
    const Stereo one = chorusOfSine(settings, 1000, 8.1);
    std::vector<double> deviation;
    const size_t window = kRate / 20;
    for (size_t at = kRate / 10; at + window <= one.left.size(); at += window) {
        const std::vector<double> x(one.left.begin() + static_cast<long>(at),
                                    one.left.begin() + static_cast<long>(at + window));
        deviation.push_back(zeroCrossingHz(x, kRate) - 1000.0);
    }
    // The deviation's strength at the rate and at other rates, by correlation with sines.
    auto strength = [&](double hz) {
        double c = 0, s = 0;
        for (size_t k = 0; k < deviation.size(); ++k) {
            const double t = (static_cast<double>(k) + 0.5) * window / kRate;
            c += deviation[k] * std::cos(2 * kPi * hz * t);
            s += deviation[k] * std::sin(2 * kPi * hz * t);
        }
        return 2 * std::hypot(c, s) / static_cast<double>(deviation.size());
    };
    const double expected = 1000.0 * 2 * kPi * settings.rateHz * (settings.depthMs / 2000.0);
    EXPECT_NEAR(strength(0.5) / expected, 1.0, 0.15);
    EXPECT_LT(strength(1.0), 0.15 * expected);
    EXPECT_LT(strength(0.25), 0.3 * expected);
}

// ---- through songs ----

// A steady tone on channel 0 for 1 s: with `sends` the song sets its reverb
// and chorus sends (controllers 91 and 93) to `value` first; 100 ticks are 0.5 s.
Bytes steadyNote(bool sends, int value, int holdTicks = 200) {
    MidiWriter w(0, 100);
    auto& t = w.track();
    if (sends) t.controller(0, 0, 91, value).controller(0, 0, 93, value);
    t.noteOn(0, 0, 60, 127).noteOff(holdTicks, 0, 60).endOfTrack(0);
    return w.bytes();
}

void sineBank(Bank& bank) {
    WaveShape tone;
    tone.samples.resize(100);
    for (size_t k = 0; k < 100; ++k)
        tone.samples[k] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * kPi * static_cast<double>(k) / 100)));
    tone.frequency = 44100;
    tone.looped = 1;
    tone.loopEnd = 99;
    addTone(bank, "sine", tone);
}

TEST(StudioEffects, SendZeroIsTheDryMixExactlyAndTheDefaultSendsAddARoom) {
    const Rendered dry = renderSong(steadyNote(false, 0), sineBank, MixerMode::Studio, kRate, dryStudio());
    const Rendered zero = renderSong(steadyNote(true, 0), sineBank, MixerMode::Studio, kRate);
    EXPECT_EQ(zero.samples, dry.samples);

    // The General MIDI defaults (reverb 40, chorus 0) and both sends up:
    // the note sounds on after its end, and the render waits for it.
    const Rendered room = renderSong(steadyNote(false, 0), sineBank, MixerMode::Studio, kRate);
    const Rendered full = renderSong(steadyNote(true, 127), sineBank, MixerMode::Studio, kRate);
    const double end = 1.0;  // the note-off, in seconds
    EXPECT_EQ(rms(side(dry, 0, framesAt(end + 0.2), framesAt(end + 0.5))), 0.0);
    const double tail = rms(side(room, 0, framesAt(end + 0.2), framesAt(end + 0.5)));
    const double fullTail = rms(side(full, 0, framesAt(end + 0.2), framesAt(end + 0.5)));
    EXPECT_GT(tail, 0.0);
    // 127 sends 127 / 40 of the default: about 10 dB more.
    EXPECT_NEAR(decibels(fullTail / tail), decibels(127.0 / 40), 1.5);
    // The render runs until the tail is below -90 dBFS and stops soon after.
    EXPECT_GT(room.frames(), dry.frames() + framesAt(1.0));
    EXPECT_GT(lastSound(room), static_cast<long>(room.frames()) - static_cast<long>(framesAt(0.3)));
    // Chorus and reverb widen a centred note.
    double side2 = 0, mid2 = 0;
    for (size_t f = 0; f < full.frames(); ++f) {
        const double l = full.samples[2 * f], r = full.samples[2 * f + 1];
        side2 += (l - r) * (l - r);
        mid2 += (l + r) * (l + r);
    }
    EXPECT_GT(side2 / mid2, 0.01);
    double dryWidth = 0;
    for (size_t f = 0; f < dry.frames(); ++f) dryWidth += std::abs(dry.samples[2 * f] - dry.samples[2 * f + 1]);
    EXPECT_EQ(dryWidth, 0.0);
}

TEST(StudioEffects, ASendTurnedDownMidNoteStopsFeedingAndResetsKeepOrRestoreIt) {
    // Reverb send 127, down to 0 at 0.25 s while the note holds to 1 s: the
    // tail after the note ends is then only what was sent before, 0.75 s
    // further down than with the send left up.
    MidiWriter w(0, 100);
    w.track()
        .controller(0, 0, 93, 0)
        .controller(0, 0, 91, 127)
        .noteOn(0, 0, 60, 127)
        .controller(50, 0, 91, 0)
        .noteOff(150, 0, 60)
        .endOfTrack(0);
    const Rendered down = renderSong(w.bytes(), sineBank, MixerMode::Studio, kRate);
    const Rendered up = renderSong(steadyNote(true, 127), sineBank, MixerMode::Studio, kRate);
    const double downTail = rms(side(down, 0, framesAt(1.1), framesAt(1.3)));
    const double upTail = rms(side(up, 0, framesAt(1.1), framesAt(1.3)));
    EXPECT_LT(decibels(downTail / upTail), -15.0);

    // Reset All Controllers leaves the sends; a General MIDI reset brings back 40 and 0.
    MidiWriter r(0, 100);
    r.track()
        .controller(0, 0, 91, 0)
        .controller(0, 0, 93, 0)
        .controller(0, 0, 121, 0)
        .noteOn(0, 0, 60, 127)
        .noteOff(200, 0, 60)
        .endOfTrack(0);
    const Rendered kept = renderSong(r.bytes(), sineBank, MixerMode::Studio, kRate);
    const Rendered dry = renderSong(steadyNote(false, 0), sineBank, MixerMode::Studio, kRate, dryStudio());
    EXPECT_EQ(kept.samples, dry.samples);
    MidiWriter g(0, 100);
    g.track()
        .controller(0, 0, 91, 0)
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .noteOn(0, 0, 60, 127)
        .noteOff(200, 0, 60)
        .endOfTrack(0);
    const Rendered restored = renderSong(g.bytes(), sineBank, MixerMode::Studio, kRate);
    const Rendered room = renderSong(steadyNote(false, 0), sineBank, MixerMode::Studio, kRate);
    EXPECT_EQ(restored.samples, room.samples);
}

TEST(StudioEffects, MoreSendsAtOnceThanGroupsMixAsOne) {
    // 80 notes at once, each from a Zone with a reverb send of its own (more
    // keys than the mixer sums in groups), against the same notes from Zones
    // that all send alike: the dry mix is the same.
    auto bank = [](int32_t sendStep) {
        return [sendStep](Bank& b) {
            const int32_t slot = b.insertInstrument("many");
            Instrument& inst = *b.instruments[static_cast<size_t>(slot)];
            for (int32_t z = 0; z < 80; ++z) {
                auto wave = std::make_unique<Wave>();
                wave->setSamples(std::vector<int16_t>(1000, static_cast<int16_t>(100 + z)));
                wave->frequency = 44100;
                wave->looped = 1;
                wave->loopEnd = 999;
                Zone* zone = Bank::addZone(inst, std::move(wave));
                zone->rangeStart = zone->rangeEnd = zone->basicNote = 20 + z;
                zone->articulation = std::make_unique<ZoneArticulation>();
                zone->articulation->reverbSend = 10 * sendStep * z;
            }
        };
    };
    MidiWriter w(0, 100);
    auto& t = w.track();
    for (int z = 0; z < 80; ++z) t.noteOn(0, 0, 20 + z, 100);
    for (int z = 0; z < 80; ++z) t.noteOff(z == 0 ? 60 : 0, 0, 20 + z);
    t.endOfTrack(0);
    const Rendered apart = renderSong(w.bytes(), bank(1), MixerMode::Studio, kRate, dryStudio());
    const Rendered alike = renderSong(w.bytes(), bank(0), MixerMode::Studio, kRate, dryStudio());
    ASSERT_EQ(apart.samples.size(), alike.samples.size());
    ASSERT_GT(rms(side(alike, 0, framesAt(0.1), framesAt(0.2))), 1000.0);
    for (size_t k = 0; k < apart.samples.size(); ++k) ASSERT_NEAR(apart.samples[k], alike.samples[k], 1) << k;
    // With the reverb on, the Zones' sends are heard: more of them, more reverb.
    const Rendered wetApart = renderSong(w.bytes(), bank(1), MixerMode::Studio, kRate);
    const Rendered wetAlike = renderSong(w.bytes(), bank(0), MixerMode::Studio, kRate);
    EXPECT_GT(rms(side(wetApart, 0, framesAt(0.5), framesAt(0.8))),
              2 * rms(side(wetAlike, 0, framesAt(0.5), framesAt(0.8))));
}

}  // namespace
}  // namespace tonvero::test
