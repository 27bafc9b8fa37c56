// Zones with articulation, heard through the Studio mixer: envelope stages
// last what they say, the filter is 3 dB down at its cutoff, a closed hi-hat
// cuts the open one, a linked pair is stereo, a kit change on the drum
// channel plays the other kit, velocity layers switch at their boundaries,
// the Zone's own tuning and vibrato; and the Custom Mixer ignores all of it.

#include "render/SoundMeasure.h"

#include <cmath>
#include <functional>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

int32_t timecents(double seconds) { return static_cast<int32_t>(std::lround(1200.0 * std::log2(seconds))); }
int32_t absoluteCents(double hz) { return static_cast<int32_t>(std::lround(1200.0 * std::log2(hz / 8.17579891564))); }

std::vector<int16_t> sine(int periodSamples, int periods, double amplitude = 16000) {
    std::vector<int16_t> s(static_cast<size_t>(periodSamples * periods));
    for (size_t k = 0; k < s.size(); ++k)
        s[k] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * static_cast<double>(k) / periodSamples)));
    return s;
}

// Appends to `instrument` a Zone over keys from..to playing `samples`
// (looped whole when asked) at `frequency` Hz at basic note 60 (at its own
// key for a Zone of one key, as drums are), with the articulation `shape`
// leaves in place (none when `articulated` is false).
Zone& addZone(Instrument& instrument, std::vector<int16_t> samples, bool looped, int32_t from = 0, int32_t to = 127,
              const std::function<void(ZoneArticulation&)>& shape = {}, bool articulated = true,
              uint32_t frequency = 44100) {
    auto wave = std::make_unique<Wave>();
    wave->name = "w" + std::to_string(instrument.zones.count());
    wave->setSamples(std::move(samples));
    wave->frequency = frequency;
    wave->updateFormat();
    wave->looped = looped ? 1 : 0;
    wave->loopEnd = static_cast<int32_t>(wave->sampleCount) - 1;
    Zone& zone = *Bank::addZone(instrument, std::move(wave));
    zone.rangeStart = from;
    zone.rangeEnd = to;
    zone.basicNote = from == to ? from : 60;
    if (articulated) {
        zone.articulation = std::make_unique<ZoneArticulation>();
        if (shape) shape(*zone.articulation);
    }
    return zone;
}

Instrument& newInstrument(Bank& bank, const std::string& name) {
    const int32_t slot = bank.insertInstrument(name);
    Instrument& instrument = *bank.instruments[static_cast<size_t>(slot)];
    instrument.loopFading = 0;
    instrument.sustainFading = 0;
    instrument.cutoffFading = 0;
    return instrument;
}

Rendered render(const Bytes& song, const std::function<void(Bank&)>& fill, MixerMode mode = MixerMode::Studio) {
    return renderSong(song, fill, mode, kRate, dryStudio());
}

// Peak level of the left side over [from, to) seconds.
double peakAt(const Rendered& r, double from, double to, int which = 0) {
    double peak = 0;
    for (double x : side(r, which, framesAt(from), framesAt(to))) peak = std::max(peak, std::abs(x));
    return peak;
}

// The level of a steady sound at `seconds` (left side).
double levelAt(const Rendered& r, double seconds) { return std::abs(r.samples[2 * framesAt(seconds)]); }

TEST(StudioEnvelope, AttackHoldDecaySustainAndReleaseLastWhatTheySay) {
    // A steady level through: attack 0.2 s, hold 0.1 s, decay 1 s for the
    // whole 96 dB (0.25 s down to a sustain of -24 dB), release 0.8 s for 96 dB.
    std::vector<int16_t> level(2000, 12000);
    MidiWriter w(0, 100);
    w.track().noteOn(0, 0, 60, 127).noteOff(300, 0, 60).endOfTrack(400);  // held 1.5 s
    const Rendered r = render(w.bytes(), [&](Bank& bank) {
        addZone(newInstrument(bank, "env"), level, true, 0, 127, [](ZoneArticulation& a) {
            a.volumeEnvelope.attack = timecents(0.2);
            a.volumeEnvelope.hold = timecents(0.1);
            a.volumeEnvelope.decay = timecents(1.0);
            a.volumeEnvelope.sustain = 240;
            a.volumeEnvelope.release = timecents(0.8);
        });
    });
    // The first moment after `from` at which the level is `db` (relative to
    // its peak) or below (falling) / above (rising).
    const double peak = levelAt(r, 0.25);
    auto when = [&](double from, double db, bool rising) {
        for (size_t f = framesAt(from); f < r.frames(); ++f) {
            const double relative = decibels(std::abs(r.samples[2 * f]) / peak);
            if (rising ? relative >= db : relative <= db) return static_cast<double>(f) / kRate;
        }
        return -1.0;
    };
    // Attack: straight up in amplitude, half way at 0.1 s, full at 0.2 s.
    EXPECT_NEAR(when(0, decibels(0.5), true), 0.1, 0.1 * 0.05);
    EXPECT_NEAR(when(0, -0.05, true), 0.2, 0.2 * 0.05);
    // Hold, then the decay falls 96 dB a second: -12 dB 0.125 s after the hold ends at 0.3 s.
    EXPECT_NEAR(levelAt(r, 0.28), peak, peak * 0.01);
    EXPECT_NEAR(when(0.25, -12, false) - 0.3, 0.125, 0.125 * 0.05);
    // Sustain at -24 dB.
    EXPECT_NEAR(decibels(levelAt(r, 1.2) / peak), -24.0, 0.2);
    // Release from -24 dB at 1.5 s at 120 dB a second: -36 dB 0.1 s later, -48 dB 0.2 s later.
    EXPECT_NEAR(when(1.4, -36, false) - 1.5, 0.1, 0.1 * 0.05);
    EXPECT_NEAR(when(1.4, -48, false) - 1.5, 0.2, 0.2 * 0.05);
}

TEST(StudioEnvelope, AReleasedNoteEndsOnceItsLoudestSampleFallsFarBelowASixteenBitStep) {
    // A quiet Wave and one 20 dB louder, each let go at 0.5 s into a release
    // of 96 dB in 2 s.
    auto renderAt = [](int16_t peak) {
        MidiWriter w(0, 100);
        w.track().noteOn(0, 0, 60, 127).noteOff(100, 0, 60).endOfTrack(0);
        return render(w.bytes(), [&](Bank& bank) {
            addZone(newInstrument(bank, "steady"), std::vector<int16_t>(2000, peak), true, 0, 127,
                    [](ZoneArticulation& a) { a.volumeEnvelope.release = timecents(2.0); });
        });
    };
    const Rendered quiet = renderAt(1000);
    const Rendered loud = renderAt(10000);
    // Each voice goes once its level has fallen to the same floor, well before
    // the envelope's whole 96 dB (at 2.5 s): the louder 20 dB of release later.
    EXPECT_LT(loud.seconds(), 2.45);
    EXPECT_NEAR(loud.seconds() - quiet.seconds(), 2.0 * 20.0 / 96.0, 0.03);
    // Where it goes it is already silent in 16 bits: at least 2 dB under half a step.
    for (const Rendered* r : {&quiet, &loud}) {
        const double steady = levelAt(*r, 0.3) / 32768.0;
        const double lastHeard = 0.5 + 2.0 * (decibels(steady) + 20.0 * std::log10(65536.0)) / 96.0;
        EXPECT_NEAR(static_cast<double>(lastSound(*r)) / kRate, lastHeard, 0.02);
        EXPECT_GT(r->seconds() - lastHeard, 2.0 * 2.0 / 96.0);
    }
}

TEST(StudioFilter, TheLowPassIsThreeDecibelsDownAtItsCutoff) {
    // A 441 Hz sine played at keys around 2 kHz, through a filter at 2 kHz
    // and through none; velocity 127 leaves the cutoff where it is.
    const std::vector<int> keys = {84, 85, 86, 87, 88, 89, 90};  // 1764 .. 2495 Hz
    // Channel 0 plays program 0 (filtered), channel 1 program 1 (open), one after the other.
    MidiWriter w(0, 100);
    auto& t = w.track();
    t.program(0, 1, 1);
    for (int key : keys) t.noteOn(0, 0, key, 127).noteOff(60, 0, key).noteOn(0, 1, key, 127).noteOff(60, 1, key);
    t.endOfTrack(0);
    const Rendered heard = render(w.bytes(), [&](Bank& bank) {
        addZone(newInstrument(bank, "filtered"), sine(100, 10), true, 0, 127,
                [](ZoneArticulation& a) { a.filterCutoff = absoluteCents(2000); });
        addZone(newInstrument(bank, "open"), sine(100, 10), true);
        bank.programMap[1] = 1;
    });
    // Gain in dB at each key's frequency, then the -3 dB point between keys.
    std::vector<double> hz, gain;
    for (size_t k = 0; k < keys.size(); ++k) {
        const double at = 0.6 * static_cast<double>(k);
        hz.push_back(441.0 * std::pow(2.0, (keys[k] - 60) / 12.0));
        const double filtered = rms(side(heard, 0, framesAt(at + 0.1), framesAt(at + 0.25)));
        const double open = rms(side(heard, 0, framesAt(at + 0.4), framesAt(at + 0.55)));
        gain.push_back(decibels(filtered / open));
    }
    double crossing = 0;
    for (size_t k = 1; k < hz.size(); ++k)
        if (gain[k - 1] > -3 && gain[k] <= -3)
            crossing = hz[k - 1] * std::pow(hz[k] / hz[k - 1], (gain[k - 1] + 3) / (gain[k - 1] - gain[k]));
    EXPECT_NEAR(crossing, 2000.0, 2000.0 * 0.05);
    // A two-pole Butterworth: 2.06 dB down at 1764 Hz, 5.2 dB at 2495 Hz.
    EXPECT_NEAR(gain.front(), -2.06, 0.2);
    EXPECT_NEAR(gain.back(), -5.2, 0.3);
}

TEST(StudioFilter, SoftNotesMoveTheCutoffByTheZonesVelocityLink) {
    // Velocity 80 against 127 at 2 kHz through a 2 kHz filter: the standard
    // link (-2400 cents toward velocity 0) takes the cutoff down 888 cents,
    // a Zone whose link is off keeps it.
    auto gainAt80 = [](int32_t link) {
        MidiWriter w(0, 100);
        w.track().noteOn(0, 0, 86, 127).noteOff(60, 0, 86).noteOn(0, 0, 86, 80).noteOff(60, 0, 86).endOfTrack(0);
        const Rendered r = render(w.bytes(), [link](Bank& bank) {
            addZone(newInstrument(bank, "f"), sine(100, 10), true, 0, 127, [link](ZoneArticulation& a) {
                a.filterCutoff = absoluteCents(2000);
                a.velocityToFilter = link;
            });
        });
        const double loud = rms(side(r, 0, framesAt(0.1), framesAt(0.25)));
        const double soft = rms(side(r, 0, framesAt(0.4), framesAt(0.55)));
        return decibels(soft / loud) - 40 * std::log10(80.0 / 127);  // the velocity's own level taken out
    };
    EXPECT_NEAR(gainAt80(0), 0.0, 0.05);
    // The note at 1980 Hz: 9.3 dB down through a Butterworth at 1197 Hz,
    // against 2.9 dB through the one at 2000 Hz.
    EXPECT_NEAR(gainAt80(-2400), -9.3 + 2.9, 0.3);
}

TEST(StudioKit, AClosedHiHatCutsTheOpenOneAndAKitChangePlaysTheOtherKit) {
    auto kit = [](Bank& bank) {
        // The standard kit (the drum entry): open hi-hat 46, closed 42, in class 1; a kick 36.
        Instrument& standard = newInstrument(bank, "Standard");
        addZone(standard, std::vector<int16_t>(44100, 6000), true, 46, 46,
                [](ZoneArticulation& a) { a.exclusiveClass = 1; });
        addZone(standard, std::vector<int16_t>(2205, 2000), false, 42, 42,
                [](ZoneArticulation& a) { a.exclusiveClass = 1; });
        addZone(standard, std::vector<int16_t>(4410, 1000), false, 36, 36);
        bank.programMap[Bank::kDrumEntry] = 0;
        // Kit 25: a longer, louder kick.
        auto other = std::make_unique<Instrument>("TR-808", 0);
        addZone(*other, std::vector<int16_t>(17640, 3000), false, 36, 36);
        bank.kits[25] = std::move(other);
    };
    MidiWriter w(0, 100);
    w.track()
        .noteOn(0, 9, 46, 127)
        .noteOn(40, 9, 42, 127)  // open at 0, closed at 0.2 s
        .noteOn(60, 9, 36, 127)  // standard kick at 0.5 s
        .program(40, 9, 25)
        .noteOn(0, 9, 36, 127)  // kit 25's kick at 0.7 s
        .program(100, 9, 99)
        .noteOn(0, 9, 36, 127)  // no kit 99: the standard kick at 1.2 s
        .endOfTrack(100);
    const Rendered r = render(w.bytes(), kit);
    const double open = levelAt(r, 0.1);
    ASSERT_GT(open, 500);
    // The closed one alone from 10 ms after its start (the open one ramped
    // out in 5 ms), then nothing of either until the kick.
    EXPECT_NEAR(levelAt(r, 0.21), open / 3, open * 0.01) << "the closed hi-hat alone";
    EXPECT_EQ(peakAt(r, 0.26, 0.49), 0) << "nothing of the open hi-hat after the closed one ends";
    const double standardKick = levelAt(r, 0.55);
    EXPECT_NEAR(levelAt(r, 0.75), standardKick * 3, standardKick * 0.03) << "kit 25";
    EXPECT_GT(levelAt(r, 1.0), 0) << "kit 25's kick is 0.4 s long";
    EXPECT_NEAR(levelAt(r, 1.25), standardKick, standardKick * 0.01) << "an absent kit plays the standard one";
}

TEST(StudioLayers, VelocityLayersSwitchAtTheirBoundariesAndALinkedPairIsStereo) {
    // Program 0 on channel 0: a soft and a loud layer; program 1 on channel 1:
    // a stereo sound, a 441 Hz side panned left linked to a 661.5 Hz side panned right.
    MidiWriter w(0, 100);
    w.track()
        .program(0, 1, 1)
        .noteOn(0, 0, 60, 63)
        .noteOff(40, 0, 60)
        .noteOn(20, 0, 60, 64)
        .noteOff(40, 0, 60)
        .noteOn(20, 1, 60, 127)
        .noteOff(80, 1, 60)
        .endOfTrack(0);
    const Rendered heard = render(w.bytes(), [](Bank& bank) {
        Instrument& layered = newInstrument(bank, "layered");
        addZone(layered, std::vector<int16_t>(1000, 2000), true, 0, 127,
                [](ZoneArticulation& a) { a.velocityHigh = 63; });
        addZone(layered, std::vector<int16_t>(1000, 6000), true, 0, 127,
                [](ZoneArticulation& a) { a.velocityLow = 64; });
        Instrument& stereo = newInstrument(bank, "stereo");
        addZone(stereo, sine(100, 10), true, 0, 127, [](ZoneArticulation& a) {
            a.pan = -500;
            a.linkedZone = 1;
        });
        addZone(
            stereo, sine(200, 30), true, 0, 127,
            [](ZoneArticulation& a) {
                a.pan = 500;
                a.linkedZone = 0;
            },
            true, 44100 * 3);
        bank.programMap[1] = 1;
    });
    // Velocity 63 plays the soft layer, 64 the loud one: three times the
    // samples, and the velocity's own step.
    const double soft = levelAt(heard, 0.1), loud = levelAt(heard, 0.4);
    EXPECT_NEAR(loud / soft, 3.0 * std::pow(64.0 / 63, 2), 0.05);
    // The pair: each side only on its own side, at its own pitch, started together.
    const double leftHz = zeroCrossingHz(side(heard, 0, framesAt(0.7), framesAt(1.0)), kRate);
    const double rightHz = zeroCrossingHz(side(heard, 1, framesAt(0.7), framesAt(1.0)), kRate);
    EXPECT_NEAR(leftHz, 441.0, 1.0);
    EXPECT_NEAR(rightHz, 661.5, 1.0);
    const std::vector<size_t> leftOnsets = onsets(heard, 1000, 0), rightOnsets = onsets(heard, 1000, 1);
    ASSERT_FALSE(leftOnsets.empty());
    ASSERT_FALSE(rightOnsets.empty());
    EXPECT_EQ(leftOnsets.back(), rightOnsets.back());
}

TEST(StudioTuning, TheZoneTunesScalesAndSwingsItsOwnPitch) {
    MidiWriter w(0, 100);
    auto& t = w.track();
    for (int program = 0; program < 4; ++program) t.program(0, 0, program).noteOn(0, 0, 62, 127).noteOff(100, 0, 62);
    t.controller(0, 0, 1, 127).noteOn(0, 0, 62, 127).noteOff(200, 0, 62);  // program 3 with the modulation wheel
    t.endOfTrack(0);
    const Rendered r = render(w.bytes(), [](Bank& bank) {
        // Key 62 is two keys above the basic note: 495 Hz at 100 cents a key.
        addZone(newInstrument(bank, "plain"), sine(100, 10), true);
        addZone(newInstrument(bank, "tuned"), sine(100, 10), true, 0, 127, [](ZoneArticulation& a) {
            a.coarseTune = 12;
            a.fineTune = -30;
        });
        addZone(newInstrument(bank, "scaled"), sine(100, 10), true, 0, 127,
                [](ZoneArticulation& a) { a.scaleTuning = 50; });
        addZone(newInstrument(bank, "vibrato"), sine(100, 10), true, 0, 127, [](ZoneArticulation& a) {
            a.vibratoLfo.frequency = absoluteCents(6.0);
            a.vibratoLfo.toPitch = 30;
        });
        for (int p = 0; p < 4; ++p) bank.programMap[static_cast<size_t>(p)] = p;
    });
    const double two = 441.0 * std::pow(2.0, 2.0 / 12);
    EXPECT_NEAR(cents(zeroCrossingHz(side(r, 0, framesAt(0.05), framesAt(0.45)), kRate), two), 0.0, 1.0);
    EXPECT_NEAR(cents(zeroCrossingHz(side(r, 0, framesAt(0.55), framesAt(0.95)), kRate), two), 1170.0, 1.0);
    EXPECT_NEAR(cents(zeroCrossingHz(side(r, 0, framesAt(1.05), framesAt(1.45)), kRate), two), -100.0, 1.0);
    // The vibrato: 30 cents at 6 Hz, and 80 with the wheel at 127 (its 50 added), at the Zone's rate.
    auto swing = [&](double from, double to) {
        const std::vector<double> at = risingCrossings(side(r, 0, framesAt(from), framesAt(to)));
        double high = -1e9, low = 1e9;
        int rises = 0;
        double previous = 0;
        for (size_t k = 1; k < at.size(); ++k) {
            const double c = cents(kRate / (at[k] - at[k - 1]), two);
            high = std::max(high, c);
            low = std::min(low, c);
            if (k > 1 && previous < 0 && c >= 0) ++rises;
            previous = c;
        }
        return std::array<double, 3>{high, low, rises / (to - from)};
    };
    const auto plain = swing(1.55, 1.95);
    EXPECT_NEAR(plain[0], 30.0, 4.0);
    EXPECT_NEAR(plain[1], -30.0, 4.0);
    const auto wheel = swing(2.05, 2.95);
    EXPECT_NEAR(wheel[0], 80.0, 6.0);
    EXPECT_NEAR(wheel[2], 6.0, 1.2);
}

TEST(StudioArticulation, AChordOfShapedNotesSoundsAsItsNotesDoOneByOne) {
    // Nine notes whose filters the modulation envelope sweeps (the mixer
    // filters voices side by side, a lone one by itself): together they
    // sum to what each gives alone, within the rounding of nine renders.
    auto bank = [](Bank& b) {
        addZone(newInstrument(b, "swept"), sine(100, 10), true, 0, 127, [](ZoneArticulation& a) {
            a.filterCutoff = absoluteCents(3000);
            a.filterResonance = 120;
            a.modulationEnvelope.attack = timecents(0.05);
            a.modulationEnvelope.decay = timecents(0.4);
            a.modulationEnvelopeToFilter = 2400;
            a.volumeEnvelope.release = timecents(0.1);
        });
    };
    auto song = [](int from, int to) {
        MidiWriter w(0, 100);
        auto& t = w.track();
        for (int n = from; n < to; ++n) t.noteOn(0, 0, 50 + 3 * n, 70 + 6 * n);
        for (int n = from; n < to; ++n) t.noteOff(n == from ? 60 : 0, 0, 50 + 3 * n);
        t.endOfTrack(0);
        return w.bytes();
    };
    const Rendered chord = render(song(0, 9), bank);
    std::vector<int32_t> sum(chord.samples.size(), 0);
    for (int n = 0; n < 9; ++n) {
        const Rendered alone = render(song(n, n + 1), bank);
        for (size_t k = 0; k < std::min(sum.size(), alone.samples.size()); ++k) sum[k] += alone.samples[k];
    }
    int32_t worst = 0;
    for (size_t k = 0; k < sum.size(); ++k) worst = std::max(worst, std::abs(sum[k] - int32_t{chord.samples[k]}));
    EXPECT_LE(worst, 5);
    EXPECT_GT(peakAt(chord, 0.1, 0.2), 1000);
}

TEST(StudioArticulation, TheCustomMixerPlaysAnArticulatedBankAsIfItHadNone) {
    // The same song and Zones, with and without articulation: the Custom
    // Mixer renders the same bytes; the Studio mixer does not.
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 100).noteOn(10, 0, 67, 80).noteOff(100, 0, 60).noteOff(20, 0, 67).endOfTrack(10);
    auto fill = [](bool articulated) {
        return [articulated](Bank& bank) {
            Instrument& instrument = newInstrument(bank, "i");
            instrument.cutoffFading = 0x40000;
            addZone(
                instrument, sine(100, 20), true, 0, 63,
                [](ZoneArticulation& a) {
                    a.volumeEnvelope.attack = timecents(0.1);
                    a.filterCutoff = absoluteCents(800);
                    a.pan = 300;
                },
                articulated);
            addZone(
                instrument, sine(50, 40), true, 64, 127, [](ZoneArticulation& a) { a.coarseTune = 7; }, articulated);
        };
    };
    const Rendered customWith = render(w.bytes(), fill(true), MixerMode::Software);
    const Rendered customWithout = render(w.bytes(), fill(false), MixerMode::Software);
    EXPECT_EQ(customWith.samples, customWithout.samples);
    const Rendered studioWith = render(w.bytes(), fill(true));
    const Rendered studioWithout = render(w.bytes(), fill(false));
    EXPECT_NE(studioWith.samples, studioWithout.samples);
}

}  // namespace
}  // namespace tonvero::test
