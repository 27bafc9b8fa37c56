// Live play in the application: the JACK output with its own midi_in, the
// MIDI Input menu's ports through RtMidi, the Record toggle, the latency and
// connection panes, and silence (said so) when JACK is absent or stops.
//
// Each case runs a JACK server of its own on the dummy driver; what arrives
// is checked by what the live input counts and holds, and by the take's file.

#include "app/CommandIds.h"
#include "app/LivePlay.h"
#include "engine/MixerEngine.h"
#include "bank/Patchmap.h"
#include "support/AppRig.h"
#include "support/BankFixtures.h"
#include "support/JackClients.h"
#include "support/JackServer.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

using namespace tonvero;

namespace {

constexpr uint32_t kPeriod = 1024;
constexpr uint32_t kRate = 48000;

std::vector<uint8_t> fileBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether `bytes` hold `wanted` somewhere, in order and together.
bool holds(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& wanted) {
    return std::search(bytes.begin(), bytes.end(), wanted.begin(), wanted.end()) != bytes.end();
}

QAction* findAction(QMenu* menu, const QString& text) {
    for (QAction* item : menu->actions())
        if (item->text() == text) return item;
    return nullptr;
}

}  // namespace

class LiveInputTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<tonvero::test::AppRig> rig_;

    // The application on `audio`, with the Studio mixer, its JACK client named `jackName`.
    bool startOn(const std::string& audio, const std::string& jackName = "tvapp", MixerMode mixer = MixerMode::Studio) {
        AppOptions options = rig_->options();
        options.deviceFactory = {};
        options.audio = audio;
        options.backend.jackName = jackName;
        options.backend.jackConnect = false;
        options.mixer.mode = mixer;
        return rig_->start(options);
    }
    CMainFrame& frame() { return rig_->frame(); }
    LivePlay& live() { return rig_->app().livePlay(); }
    QMenu* midiMenu() {
        for (QAction* item : frame().menuBar()->actions())
            if (item->menu() && item->text() == QStringLiteral("&MIDI Input")) return item->menu();
        return nullptr;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroLiveInputTest"));
    }
    void init() {
        rig_ = std::make_unique<tonvero::test::AppRig>();
        QVERIFY(rig_->valid());
    }
    void cleanup() { rig_.reset(); }

    // No JACK server: the program plays silently and says why; with one the
    // client's midi_in plays, a take keeps it, the panes say what is there;
    // when the server stops the program goes on silently and says so.
    void jackOutput() {
        ::setenv("JACK_DEFAULT_SERVER", "tonvero-no-such-server", 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        QVERIFY(startOn("jack"));
        QCOMPARE(rig_->app().outputName(), std::string("null"));
        QVERIFY2(frame().messagePaneText().endsWith(kNoJackText), qPrintable(frame().messagePaneText()));
        QVERIFY(frame().action(command::OutputNone)->isChecked());
        rig_->stop();

        ::test::JackServer server(kRate, kPeriod);
        QVERIFY2(server.running(), server.error().c_str());
        QVERIFY(startOn("jack"));
        QCOMPARE(rig_->app().outputName(), std::string("jack"));
        frame().refresh();
        QVERIFY(frame().action(command::OutputJack)->isChecked());
        QCOMPARE(frame().latencyPaneText(), QStringLiteral("Latency 21.3 ms"));  // 1024 frames at 48 kHz
        QCOMPARE(frame().midiPaneText(), QStringLiteral("MIDI input: JACK port tvapp:midi_in"));
        // The ports are the sound device's: with JACK the client's own input is the one.
        emit midiMenu()->aboutToShow();
        QVERIFY(!frame().action(command::MidiInputOwnPort)->isEnabled());

        const QString takePath = rig_->path(QStringLiteral("take.mid"));
        rig_->prompts().answerFile(takePath);
        frame().action(command::Record)->trigger();
        QVERIFY(live().recording());

        ::test::JackMidiSender midiOut("tvapp-sender");
        QVERIFY2(midiOut.ok(), midiOut.error().c_str());
        QVERIFY(midiOut.connect("tvapp:midi_in"));
        QVERIFY(midiOut.waitRunning());
        const uint64_t at = midiOut.now() + 4 * kPeriod;
        QVERIFY(midiOut.send(at, {0x92, 60, 100}));
        QVERIFY(midiOut.waitSent());
        QTRY_COMPARE_WITH_TIMEOUT(live().input().heldNotes(), 1, 30000);
        QVERIFY(midiOut.send(midiOut.now() + kPeriod, {0x82, 60, 0}));
        QVERIFY(midiOut.waitSent());
        QTRY_COMPARE_WITH_TIMEOUT(live().input().heldNotes(), 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(live().input().messages(), uint64_t{2}, 30000);

        frame().action(command::Record)->trigger();
        QVERIFY(!live().recording());
        QCOMPARE(frame().messagePaneText(), QStringLiteral("The take was saved to %1.").arg(takePath));
        const std::vector<uint8_t> take = fileBytes(takePath);
        QVERIFY(holds(take, {'M', 'T', 'h', 'd'}));
        QVERIFY(holds(take, {0x92, 60, 100}));
        QVERIFY(holds(take, {0x82, 60, 0}) || holds(take, {0x92, 60, 0}));

        // The server goes: the next refresh puts silence in its place.
        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT((frame().refresh(), rig_->app().outputName() == "null"), 30000);
        QVERIFY2(frame().messagePaneText().endsWith(QStringLiteral(": playing silently (no sound).")),
                 qPrintable(frame().messagePaneText()));
        QVERIFY(frame().midiPaneText().isEmpty() || !frame().midiPaneText().contains(QStringLiteral("JACK")));
    }

    // On the null output, the MIDI Input menu lists another program's port
    // (RtMidi over JACK MIDI here), plays what it sends, remembers it for the
    // next start, and lets its notes go when the program goes.
    void midiInputMenu() {
        ::test::JackServer server(kRate, kPeriod);
        QVERIFY2(server.running(), server.error().c_str());
        auto midiOut = std::make_unique<::test::JackMidiSender>("tvkeys");
        QVERIFY2(midiOut->ok(), midiOut->error().c_str());
        QVERIFY(midiOut->waitRunning());

        QVERIFY(startOn("null"));
        QVERIFY(live().playable());
        QMenu* menu = midiMenu();
        QVERIFY(menu);
        emit menu->aboutToShow();
        QAction* keys = findAction(menu, QStringLiteral("tvkeys:midi_out"));
        QVERIFY2(keys, "the midiOut's port is listed");
        keys->trigger();
        frame().refresh();
        QVERIFY2(frame().midiPaneText().contains(QStringLiteral("tvkeys:midi_out")),
                 qPrintable(frame().midiPaneText()));
        QCOMPARE(CMainFrame::storedMidiInput(), QStringLiteral("tvkeys:midi_out"));

        // Remembered: a new start connects to it again.
        rig_->stop();
        QVERIFY(startOn("null"));
        frame().refresh();
        QVERIFY(frame().midiPaneText().contains(QStringLiteral("tvkeys:midi_out")));
        QVERIFY(midiOut->send(midiOut->now() + kPeriod, {0x90, 64, 90}));
        QVERIFY(midiOut->send(midiOut->now() + kPeriod, {0x91, 67, 90}));
        QVERIFY(midiOut->waitSent());
        QTRY_COMPARE_WITH_TIMEOUT(live().input().heldNotes(), 2, 30000);

        // The program goes with its keys down: they go up, and the status bar says so.
        midiOut.reset();
        QTRY_VERIFY_WITH_TIMEOUT((frame().refresh(), live().input().heldNotes() == 0), 30000);
        QVERIFY2(frame().messagePaneText().contains(QStringLiteral("went away")),
                 qPrintable(frame().messagePaneText()));

        // Our own port, then none.
        emit midiMenu()->aboutToShow();
        frame().action(command::MidiInputOwnPort)->trigger();
        frame().refresh();
        QVERIFY2(frame().midiPaneText().contains(QStringLiteral("MIDI In")), qPrintable(frame().midiPaneText()));
        frame().action(command::MidiInputNone)->trigger();
        frame().refresh();
        QVERIFY(frame().midiPaneText().isEmpty());
        QVERIFY(CMainFrame::storedMidiInput().isEmpty());

        // The Custom Mixer takes live input too, at its next pass: the note sounds there.
        rig_->stop();
        QVERIFY(savePatchmap(tonvero::test::makeSmallBank(), rig_->path(QStringLiteral("gmpatch.map")).toStdString()));
        QVERIFY(startOn("null", "tvapp", MixerMode::Software));
        frame().action(command::MidiInputOwnPort)->trigger();
        ::test::JackMidiSender player("tvplayer");
        QVERIFY2(player.ok(), player.error().c_str());
        QVERIFY(player.connect("tonvero:MIDI In"));
        QVERIFY(player.waitRunning());
        QVERIFY(player.send(player.now() + kPeriod, {0x90, 60, 100}));
        QVERIFY(player.waitSent());
        const auto sounding = [] {
            EngineLock lock(theEngine->mutex);
            for (const MixerVoice& m : theEngine->custom.mixerVoices)
                if (m.active) return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(sounding(), 30000);
    }
};

QTEST_MAIN(LiveInputTest)
#include "LiveInput_test.moc"
