// The editors' dialogs on a real X server under a minimal window manager
// (matchbox), as a user meets them: the Instrument Editor opened from the
// View menu, the Loop Point Editor opened from it, each drawn, given the
// keyboard and closed by Escape typed at the X server's input focus.
//
// run-under-matchbox.sh starts the X server and the window manager; this
// program waits until the window manager has taken the screen. Without them
// installed the script says so in TONVERO_NO_WINDOW_MANAGER and the test skips.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CommandIds.h"
#include "bank/Patchmap.h"
#include "editor/CInstrumentEditorDlg.h"
#include "editor/CLoopPointEditorDlg.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "support/BankFixtures.h"

#include <QAbstractButton>
#include <QAbstractNativeEventFilter>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

using namespace tonvero;

namespace {

// Generous bounds for what a loaded machine may take; reaching one is a failure.
constexpr int kEventWaitMs = 60'000;
constexpr auto kWholeTestLimit = std::chrono::minutes(5);

// Our own connection to the X server, beside Qt's: it reads the input focus
// and types keys there as the keyboard would.
class XDisplay {
public:
    XDisplay() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~XDisplay() { xcb_disconnect(connection_); }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool ok() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    // The window manager names itself on the root window once it manages the screen.
    bool windowManagerRunning() {
        const xcb_atom_t check = atom("_NET_SUPPORTING_WM_CHECK");
        if (check == XCB_ATOM_NONE) return false;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root(), check, XCB_ATOM_WINDOW, 0, 1), nullptr);
        const bool found = reply && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        return found;
    }

    xcb_window_t inputFocus() {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
        const xcb_window_t focus = reply ? reply->focus : xcb_window_t{XCB_WINDOW_NONE};
        std::free(reply);
        return focus;
    }

    // Escape pressed and released, delivered to the window that has the input focus.
    bool typeEscape() {
        const xcb_keycode_t key = keycodeOf(0xff1b);  // XK_Escape
        if (key == 0) return false;
        const xcb_window_t focus = inputFocus();
        for (const uint8_t type : {uint8_t{XCB_KEY_PRESS}, uint8_t{XCB_KEY_RELEASE}}) {
            xcb_key_press_event_t event;
            std::memset(&event, 0, sizeof event);
            event.response_type = type;
            event.detail = key;
            event.time = XCB_CURRENT_TIME;
            event.root = root();
            event.event = focus;
            event.child = XCB_WINDOW_NONE;
            event.same_screen = 1;
            xcb_send_event(connection_, 1, XCB_SEND_EVENT_DEST_ITEM_FOCUS,
                           type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                           reinterpret_cast<const char*>(&event));
        }
        return xcb_flush(connection_) > 0;
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    }

    xcb_keycode_t keycodeOf(xcb_keysym_t symbol) {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr);
        if (!reply) return 0;
        const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(reply);
        xcb_keycode_t found = 0;
        for (int k = 0; k < count && !found; ++k)
            for (int s = 0; s < reply->keysyms_per_keycode; ++s)
                if (symbols[k * reply->keysyms_per_keycode + s] == symbol)
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + k);
        std::free(reply);
        return found;
    }

    xcb_connection_t* connection_;
};

// Counts the X focus changes Qt receives, on every window of the program.
class FocusTraffic final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const uint8_t kind = static_cast<xcb_generic_event_t*>(message)->response_type & 0x7f;
        if (kind == XCB_FOCUS_IN || kind == XCB_FOCUS_OUT) ++changes;
        return false;
    }
    int changes = 0;
};

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
    int paints = 0;
};

// Ends the program with a clear message when the test has not finished in
// kWholeTestLimit: a user-interface thread that never returns to its event
// loop cannot report anything itself.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, kWholeTestLimit, [this] { return finished_; })) {
                  std::fprintf(stderr,
                               "FAIL: the user-interface thread has not come back to its event loop for %d "
                               "minutes: a dialog is neither drawn nor answering the keyboard.\n",
                               static_cast<int>(kWholeTestLimit.count()));
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// A bank whose program 0 plays one looped Wave.
Bank oneLoopedSound() {
    Bank bank;
    const int32_t slot = bank.insertInstrument("Organ");
    std::vector<int16_t> samples(4000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i % 200) * 150 - 15000);
    auto wave = test::makeWave("/sounds/organ.wav", samples, 22050);
    wave->looped = 1;
    wave->loopBegin = 200;
    wave->loopEnd = 3999;
    Bank::addZone(*bank.instruments[static_cast<size_t>(slot)], std::move(wave));
    return bank;
}

}  // namespace

class DialogsUnderWindowManagerTest : public QObject {
    Q_OBJECT

private:
    QStringList problems_;
    XDisplay* x_ = nullptr;
    FocusTraffic focus_;

    void problem(const QString& what) { problems_ << what; }

    // Waits until `dialog` is drawn, active and holds the X input focus;
    // records what never came.
    bool drawnAndFocused(QDialog& dialog, const PaintCounter& painted, const QString& name) {
        if (!QTest::qWaitFor(
                [&] { return painted.paints > 0 && dialog.windowHandle() && dialog.windowHandle()->isExposed(); },
                kEventWaitMs)) {
            problem(name + QStringLiteral(" was never drawn"));
            return false;
        }
        if (!QTest::qWaitForWindowActive(&dialog, kEventWaitMs)) {
            problem(name + QStringLiteral(" never became the active window"));
            return false;
        }
        if (!QTest::qWaitFor([&] { return x_->inputFocus() == static_cast<xcb_window_t>(dialog.winId()); },
                             kEventWaitMs)) {
            problem(name + QStringLiteral(" never received the X input focus"));
            return false;
        }
        // Settled: while nothing happens, the focus stays where it is. Two
        // dialogs trading it would bring a stream of focus changes.
        const int before = focus_.changes;
        QTest::qWait(500);
        if (focus_.changes - before > 2)
            problem(name + QStringLiteral(": the focus changed %1 times while nobody touched anything")
                               .arg(focus_.changes - before));
        return true;
    }

    // Escape typed at the X input focus closes `dialog` as Cancel.
    void escapeCloses(QDialog& dialog, const QString& name) {
        if (!x_->typeEscape()) return problem(QStringLiteral("Escape could not be typed"));
        if (!QTest::qWaitFor([&] { return !dialog.isVisible(); }, kEventWaitMs)) {
            problem(QStringLiteral("Escape did not close ") + name);
            dialog.reject();
        } else if (dialog.result() != QDialog::Rejected) {
            problem(QStringLiteral("Escape closed ") + name + QStringLiteral(" other than as Cancel"));
        }
    }

private slots:
    void initTestCase() {
        const QString missing = qEnvironmentVariable("TONVERO_NO_WINDOW_MANAGER");
        if (!missing.isEmpty()) QSKIP(qPrintable(QStringLiteral("no X server with a window manager: ") + missing));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroDialogsUnderWindowManagerTest"));
        QSettings().clear();
    }

    void loopPointEditorFromInstrumentEditorIsDrawnAndClosesOnEscape() {
        Watchdog watchdog;
        XDisplay x;
        QVERIFY(x.ok());
        x_ = &x;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bankFile = dir.filePath(QStringLiteral("gmpatch.map"));
        QVERIFY(savePatchmap(oneLoopedSound(), bankFile.toStdString()));

        ScriptedPrompter prompts;
        setPrompter(&prompts);
        OfflineAudio audio;
        AppOptions options;
        options.deviceFactory = audio.deviceFactory();
        options.timers = &audio.timers();
        options.defaultPatchmap = bankFile.toStdString();
        options.mixer.mode = MixerMode::Software;
        options.mixerGiven = true;
        {
            CTonveroApp app(options);
            QVERIFY(app.initInstance());
            CMainFrame& frame = *app.frame();
            QVERIFY(QTest::qWaitForWindowActive(&frame, kEventWaitMs));
            qApp->installNativeEventFilter(&focus_);

            bool loopEditorRan = false;
            // Each dialog runs its own modal loop, as the real prompter runs
            // it; a step queued there works it as the user would.
            prompts.answerDialog([&](QDialog& editor) {
                QTimer::singleShot(0, &editor, [&] {
                    PaintCounter painted;
                    editor.installEventFilter(&painted);
                    if (drawnAndFocused(editor, painted, QStringLiteral("the Instrument Editor"))) {
                        // "&Loop Edit" runs the Loop Point Editor inside this dialog's modal loop.
                        auto* loopEdit = qobject_cast<QAbstractButton*>(
                            static_cast<CInstrumentEditorDlg&>(editor).control(CInstrumentEditorDlg::kLoopEdit));
                        if (loopEdit) loopEdit->click();
                        if (!loopEditorRan) problem(QStringLiteral("Loop Edit did not open the Loop Point Editor"));
                        // Back in the Instrument Editor, which has the keyboard again.
                        else if (drawnAndFocused(editor, painted, QStringLiteral("the Instrument Editor, again")))
                            escapeCloses(editor, QStringLiteral("the Instrument Editor"));
                    }
                    editor.removeEventFilter(&painted);
                    if (editor.isVisible()) editor.reject();
                });
                return editor.exec();
            });
            prompts.answerDialog([&](QDialog& loopEditor) {
                loopEditorRan = true;
                if (loopEditor.windowTitle() != QStringLiteral("Loop Point Editor"))
                    problem(QStringLiteral("a dialog other than the Loop Point Editor: ") + loopEditor.windowTitle());
                QTimer::singleShot(0, &loopEditor, [&] {
                    PaintCounter painted;
                    loopEditor.installEventFilter(&painted);
                    if (drawnAndFocused(loopEditor, painted, QStringLiteral("the Loop Point Editor")))
                        escapeCloses(loopEditor, QStringLiteral("the Loop Point Editor"));
                    loopEditor.removeEventFilter(&painted);
                    if (loopEditor.isVisible()) loopEditor.reject();
                });
                return loopEditor.exec();
            });

            frame.action(command::InstrumentEditor)->trigger();
            qApp->removeNativeEventFilter(&focus_);
            QVERIFY2(problems_.isEmpty(), qPrintable(problems_.join(QStringLiteral("; "))));
            QCOMPARE(prompts.shown().size(), size_t{2});
            QVERIFY(prompts.notices().isEmpty());
            // Cancel put the loop points back.
            const Wave& wave = *theEngine->bank.instruments[0]->zones[0]->wave;
            QCOMPARE(wave.loopBegin, 200);
            QCOMPARE(wave.loopEnd, 3999);
        }
        setPrompter(nullptr);
        x_ = nullptr;
    }
};

int main(int argc, char** argv) {
    // The window manager must manage the screen before the first window maps.
    if (qEnvironmentVariableIsEmpty("TONVERO_NO_WINDOW_MANAGER")) {
        XDisplay x;
        if (!x.ok()) {
            std::fprintf(stderr, "FAIL: cannot connect to the X server on DISPLAY=%s\n", std::getenv("DISPLAY"));
            return 1;
        }
        bool running = false;
        for (int i = 0; i < kEventWaitMs / 50 && !(running = x.windowManagerRunning()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!running) {
            std::fprintf(stderr, "FAIL: no window manager took the X server's screen\n");
            return 1;
        }
    }
    QApplication application(argc, argv);
    DialogsUnderWindowManagerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DialogsUnderWindowManager_test.moc"
