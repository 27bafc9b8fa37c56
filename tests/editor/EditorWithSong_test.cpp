// The editors while a song plays, on the offline device and the virtual
// clock: Test stops the song and rewinds it, Stop releases only the
// editor's own note (also after the dialog was closed and opened again), and
// deleting an Instrument or a sound that is sounding cuts its voices first,
// so nothing reads a destroyed Wave (the sanitizers watch every read).

#include "EditorRig.h"
#include "editor/PreviewNoteIds.h"
#include "song/SongLoader.h"
#include "support/MidiWriter.h"

#include <QTest>

#include <algorithm>

using tonvero::CInstrumentEditorDlg;
using tonvero::EngineLock;
using tonvero::MixerEngine;
using tonvero::SongImage;
using tonvero::SongLoadResult;
using tonvero::TransportStatus;
using tonvero::Wave;
using tonvero::test::EditorRig;
using tonvero::test::loadSong;
using tonvero::test::MidiWriter;
using D = CInstrumentEditorDlg;

namespace {

constexpr uint64_t kSecond = 1000000;

// One Instrument, "Piano", whose looped sound keeps ringing while a key is held.
Wave* addLoopedPiano(EditorRig& rig) {
    rig.addInstrument("Piano", {"/w/piano.wav"}, 4000);
    Wave* wave = rig.instrument(0).zones[0]->wave.get();
    wave->looped = 1;
    wave->loopBegin = 1000;
    wave->loopEnd = 3999;
    return wave;
}

// A song at 120 beats a minute (96 ticks a beat): channel 1 panned hard
// left, key 60 held for 20 s, and key 62 struck after 2 s.
void playSong(EditorRig& rig) {
    MidiWriter writer(0, 96);
    writer.track()
        .controller(0, 0, 10, 0)
        .noteOn(0, 0, 60, 100)
        .noteOn(96 * 4, 0, 62, 100)
        .noteOff(96 * 36, 0, 60)
        .noteOff(0, 0, 62)
        .endOfTrack();
    QCOMPARE(loadSong(rig.engine(), writer.bytes()), SongLoadResult::Loaded);
    QCOMPARE(play(rig.engine()), 1);
}

TransportStatus statusOf(MixerEngine& engine) {
    EngineLock lock(engine.mutex);
    return transportStatus(engine);
}

// Any Voice or MixerVoice still sounding that plays `wave`.
bool sounds(const MixerEngine& engine, const Wave* wave) EXCLUDES(engine.mutex) {
    EngineLock lock(engine.mutex);
    for (const auto& m : engine.custom.mixerVoices)
        if (m.active && m.wave == wave) return true;
    for (const auto& v : engine.voices)
        if (v.active && v.wave == wave) return true;
    return false;
}

bool previewSounds(const MixerEngine& engine, int32_t noteId) EXCLUDES(engine.mutex) {
    EngineLock lock(engine.mutex);
    for (const auto& v : engine.voices)
        if (v.active && v.channel == 16 && v.noteId == noteId) return true;
    return false;
}

}  // namespace

class EditorWithSongTest : public QObject {
    Q_OBJECT
private slots:
    void testStopsAPlayingSongAndRewindsIt() {
        EditorRig rig;
        Wave* piano = addLoopedPiano(rig);
        playSong(rig);
        rig.clock().advanceBy(kSecond);
        QCOMPARE(statusOf(rig.engine()), TransportStatus::Playing);
        QVERIFY(sounds(rig.engine(), piano));
        {
            EngineLock lock(rig.engine().mutex);
            QCOMPARE(rig.engine().channels[0].pan, 0);
            QVERIFY(rig.engine().song.tracks.at(0)->position > 1);
        }

        auto editor = rig.openEditor();
        EditorRig::click(editor->control(D::kTest));
        MixerEngine& e = rig.engine();
        {
            EngineLock lock(e.mutex);
            QCOMPARE(e.playing, 0);
        }
        QCOMPARE(statusOf(e), TransportStatus::Previewing);
        {
            EngineLock lock(e.mutex);
            // Back at the start: the first delta read, the channels at their defaults.
            QCOMPARE(e.song.tracks.at(0)->position, 1);
            QCOMPARE(e.song.tracks.at(0)->ended, 0);
            QCOMPARE(e.song.tracks.at(0)->nextEventTick, 0);
            QCOMPARE(e.channels[0].pan, 64);
        }
        // Only the test note sounds: the song's notes were cut.
        QVERIFY(previewSounds(e, tonvero::editorPreviewId));
        int sounding = 0;
        {
            EngineLock lock(e.mutex);
            for (const auto& m : e.custom.mixerVoices) sounding += m.active;
        }
        QCOMPARE(sounding, 1);
        // The song stays stopped while the test note plays on.
        rig.clock().advanceBy(kSecond);
        {
            EngineLock lock(e.mutex);
            QCOMPARE(e.playing, 0);
        }
        QVERIFY(previewSounds(e, tonvero::editorPreviewId));
    }

    void stopWithoutTestDoesNothing() {
        EditorRig rig;
        addLoopedPiano(rig);
        tonvero::editorPreviewId = 0;
        int32_t other = 0;
        {
            EngineLock lock(rig.engine().mutex);
            other = rig.engine().previewNote(&rig.instrument(0), rig.instrument(0).zones[0]);
        }
        auto editor = rig.openEditor();
        EditorRig::click(editor->control(D::kStop));
        QVERIFY(previewSounds(rig.engine(), other));
        QCOMPARE(tonvero::editorPreviewId, 0);
    }

    void theTestNotesIdOutlivesTheDialog() {
        EditorRig rig;
        addLoopedPiano(rig);
        {
            auto editor = rig.openEditor();
            EditorRig::click(editor->control(D::kTest));
            const int32_t first = tonvero::editorPreviewId;
            // Enter presses Test, the default button: a new note with the next id.
            QTest::keyClick(editor.get(), Qt::Key_Return);
            QCOMPARE(tonvero::editorPreviewId, first + 1);
        }
        const int32_t id = tonvero::editorPreviewId;
        QVERIFY(previewSounds(rig.engine(), id));
        auto reopened = rig.openEditor();
        EditorRig::click(reopened->control(D::kStop));
        QVERIFY(!previewSounds(rig.engine(), id));
    }

    void deletingTheSoundingInstrumentWhileASongPlaysIsClean() {
        EditorRig rig;
        const Wave* piano = addLoopedPiano(rig);
        playSong(rig);
        rig.clock().advanceBy(kSecond);
        auto editor = rig.openEditor();
        // The test note sounds too, on the same Wave.
        EditorRig::click(editor->control(D::kTest));
        QCOMPARE(play(rig.engine()), 1);
        rig.audio().clearCaptured();
        rig.clock().advanceBy(kSecond / 2);
        QVERIFY(sounds(rig.engine(), piano));
        const std::vector<int16_t>& before = rig.audio().captured();
        QVERIFY(std::any_of(before.begin(), before.end(), [](int16_t v) { return v != 0; }));

        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        QCOMPARE(rig.bank().instrumentCount, 0);
        QVERIFY(!sounds(rig.engine(), piano));
        QCOMPARE(statusOf(rig.engine()), TransportStatus::Playing);

        // The song plays on. Once the sound mixed ahead has played out the
        // output is silent, and the note struck at 2 s finds no Instrument.
        rig.clock().advanceBy(kSecond / 2);
        rig.audio().clearCaptured();
        rig.clock().advanceBy(3 * kSecond / 2);
        QCOMPARE(statusOf(rig.engine()), TransportStatus::Playing);
        const std::vector<int16_t>& heard = rig.audio().captured();
        QVERIFY(heard.size() >= 2 * 44100);
        QVERIFY(std::all_of(heard.begin(), heard.end(), [](int16_t v) { return v == 0; }));
        EditorRig::click(editor->control(D::kStop));
    }

    void deletingTheSoundingSoundWhileASongPlaysIsClean() {
        EditorRig rig;
        addLoopedPiano(rig);
        auto editor = rig.openEditor();
        rig.insertSound(*editor, rig.wav16Mono("second.wav", std::vector<int16_t>(3000, 9000), 22050));
        Wave* second = rig.instrument(0).zones[1]->wave.get();
        {
            EngineLock lock(rig.engine().mutex);
            second->looped = 1;
            second->loopEnd = 2999;
            rig.instrument(0).zones[1]->rangeStart = 61;  // key 62 plays it
        }
        playSong(rig);
        rig.clock().advanceBy(kSecond * 5 / 2);
        EditorRig::click(editor->control(D::kTest));  // stops the song, plays the new sound
        QCOMPARE(play(rig.engine()), 1);
        rig.clock().advanceBy(kSecond * 5 / 2);
        QVERIFY(sounds(rig.engine(), second));

        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteSound));
        QCOMPARE(rig.instrument(0).zones.count(), 1);
        QVERIFY(!sounds(rig.engine(), second));
        rig.clock().advanceBy(2 * kSecond);
        EditorRig::click(editor->control(D::kStop));
        rig.clock().advanceBy(kSecond);
    }
};

QTEST_MAIN(EditorWithSongTest)
#include "EditorWithSong_test.moc"
