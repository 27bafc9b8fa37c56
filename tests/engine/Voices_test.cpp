// Note handling on the software mixer: choosing and stealing Voices, the
// bank lookup, frequencies, audition notes, the hold pedal, and releases that
// reach only their own note.

#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

using test::constantSamples;
using test::EngineRig;

TEST(NoteFrequency, TableAndPowerForms) {
    buildSemitoneTable();
    EXPECT_EQ(MixerEngine::noteFrequency(22050, 12, 0.0f), 44100u);
    EXPECT_EQ(MixerEngine::noteFrequency(22050, 1, 0.0f), 23361u);
    EXPECT_EQ(MixerEngine::noteFrequency(22050, -12, 0.0f), 11025u);
    EXPECT_EQ(MixerEngine::noteFrequency(22050, 0, 2.0f), 24750u);
    EXPECT_EQ(MixerEngine::noteFrequency(22050, 0, -2.0f), 19644u);
    EXPECT_EQ(MixerEngine::noteFrequency(22050, 0, -0.0f), 22050u);
    // Beyond the table the power form gives the ratio: 2^6 and 2^-6.
    EXPECT_EQ(MixerEngine::noteFrequency(1000, 72, 0.0f), 64000u);
    EXPECT_EQ(MixerEngine::noteFrequency(64000, -72, 0.0f), 1000u);
    EXPECT_EQ(MixerEngine::noteFrequency(1000, 60, 0.0f), 32000u);
    // Far out of range it saturates rather than wrapping.
    EXPECT_EQ(MixerEngine::noteFrequency(44100, 1000, 0.0f), 0xFFFFFFFFu);
    EXPECT_EQ(MixerEngine::noteFrequency(44100, -1000, 0.0f), 0u);
}

// No timer runs in these tests: the fixture holds the engine lock from start
// to end, as a timer callback would, and each test says so first.
class Voices : public ::testing::Test {
protected:
    Voices() {
        inst = &rig.instrument("piano");
        zone = &EngineRig::zone(*inst, {constantSamples(44100, 4096), 22050, 1, 0, 44099}, 60, 0, 100);
    }
    MixerEngine& e() { return rig.e(); }
    int32_t activeVoices() REQUIRES(e().mutex) {
        int32_t n = 0;
        for (const Voice& v : e().voices) n += v.active;
        return n;
    }

    EngineRig rig;
    std::unique_lock<Mutex> held{rig.e().mutex};
    Instrument* inst = nullptr;
    Zone* zone = nullptr;
};

TEST_F(Voices, NoteOnFillsTheVoiceAndItsMixerVoice) {
    e().mutex.assertHeld();  // the fixture holds it
    e().song.currentTick = 77;
    e().channels[3].pan = 32;
    e().noteOn(72, 100, 3);
    const Voice& v = e().voices[0];
    EXPECT_EQ(v.active, 1);
    EXPECT_EQ(v.key, 72);
    EXPECT_EQ(v.channel, 3);
    EXPECT_EQ(v.velocity, 100);
    EXPECT_EQ(v.pitchOffset, 12);
    EXPECT_EQ(v.startTick, 77u);
    EXPECT_EQ(v.wave, zone->wave.get());
    ASSERT_EQ(v.mixerVoice, 0);
    const MixerVoice& m = e().custom.mixerVoices[0];
    EXPECT_EQ(m.step, 65536u);  // 22050 Hz an octave up at 44100
    EXPECT_EQ(m.leftGain, 96u * 100 * 512);
    EXPECT_EQ(m.rightGain, 32u * 100 * 512);
    EXPECT_EQ(m.channel, 3);
    EXPECT_EQ(m.pitchOffset, 12);
    EXPECT_EQ(m.startTick, 77u);
    EXPECT_EQ(m.loopFading, 0u);
    EXPECT_EQ(e().mixerVoiceOf(v), &m);
}

TEST_F(Voices, BentChannelUsesThePowerForm) {
    e().mutex.assertHeld();  // the fixture holds it
    e().channels[0].bend = 2.0f;
    e().noteOn(60, 100, 0);
    EXPECT_EQ(e().custom.mixerVoices[0].step, MixerEngine::frequencyStep(24750, 44100));
}

TEST_F(Voices, The33rdNoteStealsTheOldestLowestSlotAndReleasesIt) {
    e().mutex.assertHeld();  // the fixture holds it
    for (int k = 0; k < kVoiceCount; ++k) {
        e().song.currentTick = k < 4 ? 10 : 5;  // slots 4.. are the oldest, all at tick 5
        e().noteOn(k % 100, 100, 0);
    }
    ASSERT_EQ(activeVoices(), kVoiceCount);
    // A key no Zone covers: the stolen Voice is released, then left free.
    e().song.currentTick = 20;
    e().noteOn(110, 100, 0);
    EXPECT_EQ(e().voices[4].active, 0);
    EXPECT_EQ(activeVoices(), kVoiceCount - 1);
    // Its sound was released, not cut: it goes on into its release.
    EXPECT_EQ(e().custom.mixerVoices[4].active, 1);
    EXPECT_EQ(e().custom.mixerVoices[4].released, 1);

    // The next note takes that free Voice; all held again, the one after
    // steals slot 5 (next oldest), and its note takes the oldest released MixerVoice.
    e().noteOn(50, 100, 1);
    EXPECT_EQ(e().voices[4].key, 50);
    EXPECT_EQ(e().voices[4].mixerVoice, 4);
    e().noteOn(51, 100, 1);
    EXPECT_EQ(e().voices[5].key, 51);
    EXPECT_EQ(e().voices[5].active, 1);
    EXPECT_EQ(e().voices[5].mixerVoice, 5);
    EXPECT_EQ(e().custom.mixerVoices[5].released, 0);
}

TEST_F(Voices, TwoNotesOfOneKeyAreReleasedOneByOne) {
    e().mutex.assertHeld();  // the fixture holds it
    e().noteOn(60, 100, 2);
    e().noteOn(60, 90, 2);
    e().noteOff(61, 2);  // no such note
    e().noteOff(60, 3);  // not on this channel
    EXPECT_EQ(activeVoices(), 2);
    e().noteOff(60, 2);
    EXPECT_EQ(e().voices[0].active, 0);
    EXPECT_EQ(e().voices[1].active, 1);
    EXPECT_EQ(e().custom.mixerVoices[0].released, 1);
    EXPECT_EQ(e().custom.mixerVoices[1].released, 0);
    e().noteOff(60, 2);
    EXPECT_EQ(e().voices[1].active, 0);
    EXPECT_EQ(e().custom.mixerVoices[1].released, 1);
}

TEST_F(Voices, Channel10AlwaysPlaysTheDrumSet) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& drums = rig.instrument("drums");
    Zone& kick = EngineRig::zone(drums, {constantSamples(100, 1), 44100});
    Instrument& five = rig.instrument("five");
    EngineRig::zone(five, {constantSamples(100, 2), 44100});
    e().bank.programMap[128] = 1;
    e().bank.programMap[5] = 2;
    e().channels[9].program = 5;
    e().noteOn(36, 100, 9);
    EXPECT_EQ(e().channels[9].program, 128);
    EXPECT_EQ(e().voices[0].wave, kick.wave.get());
}

TEST_F(Voices, NoInstrumentOrNoZoneDropsTheNote) {
    e().mutex.assertHeld();   // the fixture holds it
    e().noteOn(110, 100, 0);  // above the Zone's range
    EXPECT_EQ(activeVoices(), 0);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);
    e().bank.clearBank();
    e().noteOn(60, 100, 0);
    EXPECT_EQ(activeVoices(), 0);
}

TEST_F(Voices, PreviewNoteIdsAndTheAuditionSound) {
    e().mutex.assertHeld();  // the fixture holds it
    EXPECT_EQ(e().previewNote(nullptr, zone), -1);
    EXPECT_EQ(e().previewNote(inst, nullptr), -1);
    EXPECT_EQ(e().lastNoteId, 0);
    zone->basicNote = 72;  // the audition ignores it: the Wave's own frequency
    e().channels[15].pan = 96;
    EXPECT_EQ(e().previewNote(inst, zone), 1);
    EXPECT_EQ(e().previewNote(inst, zone), 2);
    const Voice& v = e().voices[0];
    EXPECT_EQ(v.channel, kPreviewChannel);
    EXPECT_EQ(v.velocity, 128);
    EXPECT_EQ(v.key, 72);
    EXPECT_EQ(v.pitchOffset, 0);
    EXPECT_EQ(v.noteId, 1);
    const MixerVoice& m = e().custom.mixerVoices[0];
    EXPECT_EQ(m.step, 32768u);
    EXPECT_EQ(m.leftGain, 32u * 128 * 512);
    EXPECT_EQ(m.rightGain, 96u * 128 * 512);
    EXPECT_EQ(e().outputRunning, 1);

    e().stopPreview(2);
    EXPECT_EQ(e().voices[1].active, 0);
    EXPECT_EQ(e().voices[0].active, 1);
    e().stopPreview(1);
    EXPECT_EQ(e().voices[0].active, 0);
}

TEST_F(Voices, AStaleAuditionIdNeverStopsASongNote) {
    e().mutex.assertHeld();  // the fixture holds it
    const int32_t id = e().previewNote(inst, zone);
    e().stopPreview(id);
    e().noteOn(60, 100, 0);  // reuses the Voice
    ASSERT_EQ(e().voices[0].active, 1);
    e().stopPreview(id);
    e().stopPreview(0);
    EXPECT_EQ(e().voices[0].active, 1);
}

TEST_F(Voices, SetSustainMarksSoundingMixerVoicesOfTheChannel) {
    e().mutex.assertHeld();  // the fixture holds it
    e().noteOn(60, 100, 0);
    e().noteOn(61, 100, 0);
    e().noteOn(62, 100, 1);
    e().noteOff(61, 0);
    e().setSustain(1, 0);
    EXPECT_EQ(e().custom.mixerVoices[0].sustained, 1);
    EXPECT_EQ(e().custom.mixerVoices[1].sustained, 1);  // released, still sounding
    EXPECT_EQ(e().custom.mixerVoices[2].sustained, 0);
    e().noteOn(63, 100, 0);
    EXPECT_EQ(e().custom.mixerVoices[3].sustained, 1);  // takes the pedal at its start
    e().setSustain(0, 0);
    EXPECT_EQ(e().custom.mixerVoices[0].sustained, 0);
    e().noteOn(64, 100, 0);
    EXPECT_EQ(e().custom.mixerVoices[4].sustained, 0);
}

TEST_F(Voices, AReleaseReachesOnlyItsOwnNote) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& shortInst = rig.instrument("short");
    EngineRig::zone(shortInst, {constantSamples(10, 100), 44100, 0, 0, 5});
    e().bank.programMap[1] = 1;
    e().channels[2].program = 1;
    e().noteOn(60, 100, 2);  // Voice 0 on MixerVoice 0; its sound ends by itself
    rig.mix(20);
    ASSERT_EQ(e().custom.mixerVoices[0].active, 0);
    e().noteOn(40, 100, 0);  // Voice 1 takes MixerVoice 0
    ASSERT_EQ(e().voices[1].mixerVoice, 0);
    EXPECT_EQ(e().mixerVoiceOf(e().voices[0]), nullptr);
    EXPECT_EQ(e().mixerVoiceOf(e().voices[1]), &e().custom.mixerVoices[0]);

    e().noteOff(60, 2);  // the first key let go: its Voice frees, the later note plays on
    EXPECT_EQ(e().voices[0].active, 0);
    EXPECT_EQ(e().custom.mixerVoices[0].released, 0);
    e().noteOff(40, 0);
    EXPECT_EQ(e().custom.mixerVoices[0].released, 1);
}

TEST_F(Voices, AVoiceWithoutAMixerVoiceStaysHeldUntilStolen) {
    e().mutex.assertHeld();  // the fixture holds it
    // A Zone without a Wave: no MixerVoice can be set up for the note.
    Instrument& empty = rig.instrument("empty");
    Bank::addZone(empty, nullptr);
    e().bank.programMap[2] = 1;
    e().channels[0].program = 2;
    e().noteOn(60, 100, 0);
    ASSERT_EQ(e().voices[0].active, 1);
    EXPECT_EQ(e().voices[0].mixerVoice, -1);
    e().noteOff(60, 0);
    EXPECT_EQ(e().voices[0].active, 1);
}

TEST_F(Voices, CuttingAnInstrumentsVoicesLetsItBeDeleted) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& other = rig.instrument("other");
    EngineRig::zone(other, {constantSamples(1000, 8), 44100, 1, 0, 999});
    e().bank.programMap[3] = 1;
    e().channels[1].program = 3;
    e().noteOn(60, 100, 0);  // piano
    e().noteOn(60, 100, 1);  // other
    e().noteOn(61, 100, 1);
    e().cutVoicesOf(other);
    EXPECT_EQ(e().voices[1].active, 0);
    EXPECT_EQ(e().voices[2].active, 0);
    EXPECT_EQ(e().voices[1].wave, nullptr);
    EXPECT_EQ(e().custom.mixerVoices[1].active, 0);
    EXPECT_EQ(e().custom.mixerVoices[2].active, 0);
    EXPECT_EQ(e().voices[0].active, 1);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 1);
    e().bank.deleteInstrument(1);
    const auto out = rig.mix(64);  // reads only the piano's samples
    EXPECT_EQ(out[0], (4096 * 50) >> 9);
    e().noteOff(60, 1);
    e().noteOff(61, 1);
}

}  // namespace
}  // namespace tonvero
