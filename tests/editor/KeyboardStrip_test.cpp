// The Instrument Editor's keyboard: the keys' layout and the velocity a
// press gives, and, through the engine on the offline device, the key and
// velocity under the mouse sounding on the preview channel until the button
// is let go, the mouse leaves, or the dialog closes, with the Custom Mixer
// and with the Studio mixer.

#include "EditorRig.h"
#include "editor/KeyboardStrip.h"

#include <QLabel>
#include <QTest>

#include <vector>

using tonvero::EngineLock;
using tonvero::KeyboardGeometry;
using tonvero::KeyboardStrip;
using tonvero::MixerEngine;
using tonvero::MixerMode;
using tonvero::PixelRect;
using tonvero::StudioVoice;
using tonvero::test::EditorRig;

namespace {

constexpr uint64_t kTick = 20000;  // the mixer's period, microseconds

// 750 pixels for the 75 white keys: ten pixels each; 60 rows.
KeyboardGeometry keys750() {
    KeyboardGeometry g;
    g.area = {0, 0, 750, 60};
    return g;
}

// One Instrument whose looped sound rings while a key is held; its Zone holds keys 0..120.
void addLoopedPiano(EditorRig& rig) {
    rig.addInstrument("Piano", {"/w/piano.wav"}, 4000);
    EngineLock lock(rig.engine().mutex);
    tonvero::Wave* wave = rig.instrument(0).zones[0]->wave.get();
    wave->looped = 1;
    wave->loopBegin = 1000;
    wave->loopEnd = 3999;
}

// The Custom Mixer's held notes on the preview channel: key and velocity.
std::vector<std::pair<int32_t, int32_t>> heldPreviewNotes(const MixerEngine& e) EXCLUDES(e.mutex) {
    std::vector<std::pair<int32_t, int32_t>> held;
    EngineLock lock(e.mutex);
    for (const auto& v : e.voices)
        if (v.active && v.channel == tonvero::kPreviewChannel) held.emplace_back(v.key, v.velocity);
    return held;
}

// A point on `key`, `down` rows below the top of the key.
QPoint on(const KeyboardStrip& strip, int32_t key, int32_t down) {
    const PixelRect r = strip.geometry().keyRect(key);
    return {(r.left + r.right) / 2, r.top + down};
}

// The line over the keyboard: the key and velocity that sound, or how to play.
QString keyInfo(const tonvero::CInstrumentEditorDlg& editor) {
    return static_cast<QLabel*>(editor.control(tonvero::CInstrumentEditorDlg::kKeyInfo))->text();
}

}  // namespace

class KeyboardStripTest : public QObject {
    Q_OBJECT
private slots:
    void keysShareTheWidthAndLowerOnAKeyIsLouder() {
        const KeyboardGeometry g = keys750();
        QCOMPARE(g.keyRect(60), (PixelRect{350, 0, 360, 60}));   // C4, the 36th white key
        QCOMPARE(g.keyRect(61), (PixelRect{357, 0, 363, 37}));   // C#4 over the line after it
        QCOMPARE(g.keyRect(127), (PixelRect{740, 0, 750, 60}));  // G9, the last
        QCOMPARE(g.keyAt(358, 10), std::optional(61));
        QCOMPARE(g.keyAt(358, 45), std::optional(60));  // below the black key: the white one
        QCOMPARE(g.keyAt(361, 45), std::optional(62));
        QCOMPARE(g.keyAt(750, 10), std::nullopt);
        // Along the bottom edge every white key is met once, in order.
        std::vector<int32_t> met;
        for (int x = 0; x < 750; ++x)
            if (const auto key = g.keyAt(x, 59); key && (met.empty() || met.back() != *key)) met.push_back(*key);
        QCOMPARE(met.size(), size_t{75});
        for (size_t i = 0; i < met.size(); ++i) QCOMPARE(KeyboardGeometry::whiteIndex(met[i]), int32_t(i));
        QCOMPARE(KeyboardGeometry::noteName(61), std::string("C#4"));
        QCOMPARE(KeyboardGeometry::noteName(0), std::string("C-1"));
        // 1 at a key's top to 127 at its bottom; a black key by its own length.
        QCOMPARE(g.velocityAt(60, 0), 1);
        QCOMPARE(g.velocityAt(60, 30), 65);
        QCOMPARE(g.velocityAt(60, 59), 127);
        QCOMPARE(g.velocityAt(61, 18), 64);
        QCOMPARE(g.velocityAt(61, 36), 127);
    }

    void aKeySoundsWhileHeldAndSlidingPlaysTheNextOne() {
        EditorRig rig;
        addLoopedPiano(rig);
        auto editor = rig.openEditor();
        KeyboardStrip& strip = *editor->m_keyboard;
        const QPoint c4 = on(strip, 60, strip.height() - 10);
        const int32_t velocity = strip.geometry().velocityAt(60, c4.y());
        QVERIFY(velocity > 100);
        QTest::mousePress(&strip, Qt::LeftButton, {}, c4);
        QCOMPARE(heldPreviewNotes(rig.engine()), (std::vector<std::pair<int32_t, int32_t>>{{60, velocity}}));
        QVERIFY(strip.noteId() > 0);
        QCOMPARE(strip.soundingKey(), 60);
        QCOMPARE(keyInfo(*editor), QString("Key C4 (60), velocity %1").arg(velocity));

        // Slid to E4 near its top: a soft E4 instead.
        const QPoint e4 = on(strip, 64, 4);
        QTest::mouseMove(&strip, e4, 0);
        QCOMPARE(heldPreviewNotes(rig.engine()),
                 (std::vector<std::pair<int32_t, int32_t>>{{64, strip.geometry().velocityAt(64, 4)}}));
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, e4);
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
        QCOMPARE(strip.noteId(), 0);
        // A key no Zone holds sounds nothing.
        QTest::mousePress(&strip, Qt::LeftButton, {}, on(strip, 125, 40));
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
        QCOMPARE(strip.noteId(), 0);
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, on(strip, 125, 40));
    }

    void leavingTheKeysOrClosingTheDialogLeavesNoNoteHanging() {
        EditorRig rig;
        addLoopedPiano(rig);
        auto editor = rig.openEditor();
        const auto press = [&rig](KeyboardStrip& strip, int32_t key) {
            QTest::mousePress(&strip, Qt::LeftButton, {}, on(strip, key, 30));
            QCOMPARE(heldPreviewNotes(rig.engine()).size(), size_t{1});
        };
        KeyboardStrip& strip = *editor->m_keyboard;
        // Dragged off the keys with the button held.
        press(strip, 48);
        QTest::mouseMove(&strip, QPoint(strip.width() / 2, strip.height() + 20), 0);
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(strip.width() / 2, strip.height() + 20));
        // The mouse leaving the strip.
        press(strip, 50);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&strip, &leave);
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, on(strip, 50, 30));
        // The dialog closed, and another destroyed while shown, with a key held.
        press(strip, 52);
        editor->close();
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
        editor = rig.openEditor();
        press(*editor->m_keyboard, 53);
        editor.reset();
        QVERIFY(heldPreviewNotes(rig.engine()).empty());
    }

    void theStudioMixerPlaysTheKeyOnThePreviewChannelUntilReleased() {
        EditorRig rig(MixerMode::Studio);
        addLoopedPiano(rig);
        auto editor = rig.openEditor();
        KeyboardStrip& strip = *editor->m_keyboard;
        const auto previewVoices = [&rig] {
            std::vector<const StudioVoice*> found;
            EngineLock lock(rig.engine().mutex);
            rig.engine().studio->forEachSoundingVoice([&found](const StudioVoice& v) {
                if (v.channel == tonvero::kPreviewChannel && v.state == StudioVoice::State::Playing)
                    found.push_back(&v);
            });
            return found;
        };
        // Low on G4, then released.
        QTest::mousePress(&strip, Qt::LeftButton, {}, on(strip, 67, strip.height() - 4));
        rig.clock().advanceBy(2 * kTick);
        auto voices = previewVoices();
        QCOMPARE(voices.size(), size_t{1});
        QCOMPARE(int(voices[0]->key), 67);
        QCOMPARE(voices[0]->noteId, strip.noteId());
        QVERIFY(!voices[0]->released);
        const float loud = voices[0]->velocityGain;
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, on(strip, 67, strip.height() - 4));
        rig.clock().advanceBy(2 * kTick);
        voices = previewVoices();
        QVERIFY(voices.empty() || voices[0]->released);
        // High on it once the tail has played: softer, and released when the dialog closes.
        rig.clock().advanceBy(50 * kTick);
        QTest::mousePress(&strip, Qt::LeftButton, {}, on(strip, 67, 3));
        rig.clock().advanceBy(2 * kTick);
        voices = previewVoices();
        QVERIFY(voices.size() == 1 && !voices[0]->released && voices[0]->velocityGain < loud / 10);
        editor->close();
        rig.clock().advanceBy(2 * kTick);
        voices = previewVoices();
        QVERIFY(voices.empty() || voices[0]->released);
    }
};

QTEST_MAIN(KeyboardStripTest)
#include "KeyboardStrip_test.moc"
