// The engine with all its threads at once: the application as a user runs
// it, on the real timer thread and the null audio output's own thread,
// while this test's main thread (the user-interface thread) works the main
// window and the Instrument Editor through their own handlers, in a random
// order drawn from a seeded generator: Play, Stop, Pause and resume, Load
// MIDI, Open and Save Patchmap, and in the editor Test and Stop, inserting
// and deleting Instruments and sounds, choosing entries and typing values.
//
// `make check-threads` runs it under ThreadSanitizer; the everyday test
// build runs it for a shorter time under AddressSanitizer, which sees any
// voice that reads a destroyed Wave.
//
// A watchdog ends the run with "deadlock: ..." when the main thread makes no
// progress for a minute. After every step no Voice or MixerVoice may name a
// Wave the bank no longer has; at the end nothing may be left running, and a
// song must still play, pause, resume and stop.
//
// Environment:
//   TONVERO_STRESS_SEED      the generator's seed (printed on every run)
//   TONVERO_STRESS_SECONDS   how long the random commands go on
//   TONVERO_STRESS_WATCHDOG  seconds without progress taken for a deadlock

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CTonveroView.h"
#include "bank/Patchmap.h"
#include "editor/CInstrumentEditorDlg.h"
#include "editor/CInstrumentNameDlg.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "song/Transport.h"
#include "support/BankFixtures.h"
#include "support/MidiWriter.h"
#include "support/WavWriter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef TONVERO_STRESS_DEFAULT_SECONDS
#define TONVERO_STRESS_DEFAULT_SECONDS 2
#endif

using namespace tonvero;
using D = CInstrumentEditorDlg;
using Clock = std::chrono::steady_clock;

namespace {

// A whole number from the environment, or `fallback` when unset or not a number.
unsigned long environmentNumber(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0') {
        std::fprintf(stderr, "%s=%s is not a whole number; using %lu\n", name, text, fallback);
        return fallback;
    }
    return value;
}

// Ends the process when the main thread stops making progress: a deadlock
// (or a wait that never ends) shows as a message naming what the main thread
// was doing, instead of a test that hangs until something kills it.
class Watchdog {
public:
    Watchdog(unsigned long limitSeconds, uint32_t seed) : limit_(limitSeconds), seed_(seed) {
        thread_ = std::thread([this] { run(); });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The main thread starts `what` (a string literal); each call is progress.
    void step(const char* what) {
        doing_.store(what);
        progress_.fetch_add(1);
    }

private:
    void run() {
        uint64_t seen = progress_.load();
        Clock::time_point since = Clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
            const uint64_t now = progress_.load();
            if (now != seen) {
                seen = now;
                since = Clock::now();
                continue;
            }
            if (Clock::now() - since >= std::chrono::seconds(limit_)) {
                std::fprintf(stderr,
                             "deadlock: no progress for %lu s while the main thread was %s "
                             "(step %llu; TONVERO_STRESS_SEED=%u repeats the order)\n",
                             limit_, doing_.load(), static_cast<unsigned long long>(now), seed_);
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    const unsigned long limit_;
    const uint32_t seed_;
    std::atomic<const char*> doing_{"starting"};
    std::atomic<uint64_t> progress_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// Answers every message box, file dialog and modal dialog the commands show:
// notices are counted, questions answered Yes, a file dialog gets the file
// the current step chose (or is cancelled), the name dialog gets the name the
// step chose, and the Instrument Editor is handed to `workEditor`.
class StressPrompter final : public Prompter {
public:
    void notify(QWidget*, const QString&) override { ++notices; }
    bool confirm(QWidget*, const QString&) override { return true; }
    QString openFile(QWidget*, const FileDialogRequest&) override { return takeFile(); }
    QString saveFile(QWidget*, const FileDialogRequest&) override { return takeFile(); }
    int runModal(QDialog& dialog) override {
        if (auto* nameDialog = qobject_cast<CInstrumentNameDlg*>(&dialog)) {
            nameDialog->nameEdit()->setText(name);
            nameDialog->accept();
            return nameDialog->result();
        }
        if (auto* editor = qobject_cast<CInstrumentEditorDlg*>(&dialog); editor && workEditor) {
            workEditor(*editor);
            editor->reject();
            return editor->result();
        }
        dialog.reject();
        return dialog.result();
    }

    QString file;  // the next file dialog's answer, used once
    QString name;  // what the name dialog is given
    std::function<void(CInstrumentEditorDlg&)> workEditor;
    int notices = 0;

private:
    QString takeFile() {
        QString chosen = file;
        file.clear();
        return chosen;
    }
};

// ---- fixtures ----

// `count` samples of a sawtooth with `period` samples, at `level`.
std::vector<int16_t> sawtooth(uint32_t count, uint32_t period, int level) {
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(static_cast<int>((i % period) * 2 * level / period) - level);
    return samples;
}

// One Zone of an Instrument built here: its Wave's name, length in samples,
// sawtooth period, looping, and the Zone's key range.
struct ZoneShape {
    std::string name;
    uint32_t count;
    uint32_t period;
    int32_t looped;
    int32_t rangeStart;
    int32_t rangeEnd;
};

// Adds an Instrument with these Zones and fading values to the bank.
void addInstrument(Bank& bank, const std::string& name, const std::vector<ZoneShape>& zones, uint32_t loopFading,
                   uint32_t cutoffFading) {
    const int32_t slot = bank.insertInstrument(name);
    Instrument& instrument = *bank.instruments[static_cast<size_t>(slot)];
    instrument.loopFading = loopFading;
    instrument.cutoffFading = cutoffFading;
    for (const ZoneShape& made : zones) {
        auto wave = test::makeWave(made.name, sawtooth(made.count, made.period, 8000), 22050);
        wave->looped = made.looped;
        wave->loopBegin = static_cast<int32_t>(made.count / 4);
        wave->loopEnd = static_cast<int32_t>(made.count - 1);
        wave->holdPos = static_cast<int32_t>(made.count / 2);
        Zone* zone = Bank::addZone(instrument, std::move(wave));
        zone->rangeStart = made.rangeStart;
        zone->rangeEnd = made.rangeEnd;
        zone->basicNote = (made.rangeStart + made.rangeEnd) / 2;
    }
}

// Four Instruments: looped and unlooped sounds, several Zones, a drum kit.
Bank firstBank() {
    Bank bank;
    addInstrument(bank, "Piano",
                  {{"/s/piano-low.wav", 6000, 100, 1, 0, 59}, {"/s/piano-high.wav", 4000, 50, 1, 60, 127}}, 0x800,
                  0x4000);
    addInstrument(bank, "Bass", {{"/s/bass.wav", 3000, 200, 0, 0, 127}}, 0, 0);
    addInstrument(bank, "Pad", {{"/s/pad.wav", 8000, 80, 1, 0, 127}}, 0, 0x1000);
    addInstrument(bank, "Kit",
                  {{"/s/kick.wav", 2000, 300, 0, 0, 40},
                   {"/s/snare.wav", 1500, 7, 0, 41, 45},
                   {"/s/hat.wav", 800, 3, 0, 46, 127}},
                  0, 0);
    for (int32_t p = 0; p < Bank::kDrumEntry; ++p) bank.programMap[static_cast<size_t>(p)] = p % 3;
    bank.programMap[Bank::kDrumEntry] = 3;
    return bank;
}

// Another bank: two Instruments of other names and sounds.
Bank secondBank() {
    Bank bank;
    addInstrument(bank, "Organ", {{"/t/organ.wav", 5000, 60, 1, 0, 127}}, 0x400, 0);
    addInstrument(bank, "Drums", {{"/t/drum.wav", 2500, 11, 0, 0, 127}}, 0, 0);
    for (int32_t p = 0; p < Bank::kDrumEntry; ++p) bank.programMap[static_cast<size_t>(p)] = 0;
    bank.programMap[Bank::kDrumEntry] = 1;
    return bank;
}

// About five seconds at a tempo that changes every beat (each change
// re-times the sequencer from its own callback). Every Instrument of the
// first bank sounds nearly all the time: chords struck each beat on MIDI
// channel 1 (program 0), a bass line with program changes on channel 2, a pad
// held through the whole song with the pedal and bends on channel 3, drums.
test::Bytes busySong() {
    constexpr int kBeats = 16;
    test::MidiWriter midi(1, 96);
    auto& tempo = midi.track();
    for (int beat = 0; beat < kBeats; ++beat) tempo.tempo(beat == 0 ? 0 : 96, beat % 2 ? 400000 : 250000);
    tempo.endOfTrack();
    auto& chords = midi.track();
    chords.program(0, 0, 0).controller(0, 0, 10, 20);
    for (int beat = 0; beat < kBeats; ++beat) {
        const int root = 48 + (beat * 5) % 24;
        chords.noteOn(0, 0, root, 100).noteOn(0, 0, root + 4, 90).noteOn(0, 0, root + 7, 80);
        chords.noteOff(90, 0, root).noteOff(0, 0, root + 4).noteOff(0, 0, root + 7).controller(6, 0, 7, 100);
    }
    chords.endOfTrack();
    auto& bass = midi.track();
    for (int beat = 0; beat < kBeats; ++beat) {
        const int key = 36 + (beat * 7) % 12;
        bass.program(0, 1, beat % 4 == 3 ? 2 : 1).noteOn(0, 1, key, 110).noteOff(48, 1, key).noteOn(0, 1, key + 12, 90);
        bass.noteOff(48, 1, key + 12);
    }
    bass.endOfTrack();
    auto& pad = midi.track();
    pad.program(0, 2, 2).noteOn(0, 2, 60, 90).noteOn(0, 2, 67, 90);
    for (int beat = 0; beat < kBeats; ++beat)
        pad.controller(beat == 0 ? 0 : 96, 2, 64, beat % 2 ? 0 : 127).pitchBend(0, 2, 8192 + 700 * (beat % 5) - 1400);
    pad.noteOff(0, 2, 60).noteOff(0, 2, 67).endOfTrack();
    auto& drums = midi.track();
    for (int hit = 0; hit < kBeats * 8; ++hit)
        drums.noteOn(hit == 0 ? 0 : 12, 9, 36 + (hit % 12), 120).noteOff(0, 9, 36 + (hit % 12));
    drums.endOfTrack();
    return midi.bytes();
}

// A few notes of unlooped sounds over 12 ticks (60 ms): the song ends, and its
// output plays out (the Ending state), while the run goes on.
test::Bytes shortSong() {
    test::MidiWriter midi(0, 96);
    auto& track = midi.track();
    track.program(0, 0, 1).noteOn(0, 0, 60, 100).noteOn(0, 9, 42, 100).noteOff(6, 0, 60).noteOff(0, 9, 42);
    track.noteOn(0, 0, 67, 100).noteOff(6, 0, 67).endOfTrack();
    return midi.bytes();
}

// Many ticks a second (division 960, a fast tempo): several ticks per timer event.
test::Bytes fastSong() {
    test::MidiWriter midi(0, 960);
    auto& track = midi.track();
    track.tempo(0, 300000);
    for (int n = 0; n < 64; ++n) {
        const int channel = n % 16 == 9 ? 9 : n % 4;
        track.noteOn(n == 0 ? 0 : 120, channel, 40 + n % 40, 100).noteOff(60, channel, 40 + n % 40);
    }
    track.endOfTrack();
    return midi.bytes();
}

// A song whose keys stay held for a long time: the check at the end.
test::Bytes heldSong() {
    test::MidiWriter midi(0, 96);
    auto& track = midi.track();
    track.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOn(0, 9, 38, 100);
    track.noteOff(96 * 60, 0, 60).noteOff(0, 0, 64).noteOff(0, 9, 38).endOfTrack();
    return midi.bytes();
}

// A header with a division of 0: refused with a message, nothing changes.
test::Bytes damagedSong() {
    test::MidiWriter midi(0, 0);
    midi.track().noteOn(0, 0, 60, 100).endOfTrack();
    return midi.bytes();
}

// Every Wave the bank holds.
std::set<const Wave*> wavesOf(const Bank& bank) {
    std::set<const Wave*> waves;
    bank.forEachWave([&](const Wave& wave) { waves.insert(&wave); });
    return waves;
}

// The first Voice or MixerVoice that names a Wave the bank no longer holds,
// in words; empty when there is none. A sounding one would read freed
// samples; a silent one must not either, since cutting the voices of a Wave
// before it is destroyed clears every reference to it. Engine mutex held.
QString strayVoice(const MixerEngine& engine) REQUIRES(engine.mutex) {
    const std::set<const Wave*> waves = wavesOf(engine.bank);
    for (size_t i = 0; i < engine.voices.size(); ++i) {
        const Voice& v = engine.voices[i];
        if (v.wave && !waves.count(v.wave))
            return QStringLiteral("Voice %1 (key %2, channel %3, %4) names a Wave that is not in the bank")
                .arg(i)
                .arg(v.key)
                .arg(v.channel)
                .arg(v.active ? QStringLiteral("sounding") : QStringLiteral("silent"));
    }
    for (size_t i = 0; i < engine.custom.mixerVoices.size(); ++i) {
        const MixerVoice& m = engine.custom.mixerVoices[i];
        if ((m.active && !m.wave) || (m.wave && !waves.count(m.wave)))
            return QStringLiteral("MixerVoice %1 (channel %2, %3) names a Wave that is not in the bank")
                .arg(i)
                .arg(m.channel)
                .arg(m.active ? QStringLiteral("sounding") : QStringLiteral("silent"));
    }
    // The device's callback renders the Studio mixer: what it last published.
    if (engine.studio) {
        const StudioMixer::View& view = engine.studio->view();
        for (uint32_t k = 0; k < view.waveCount; ++k)
            if (view.waves[k] && !waves.count(view.waves[k]))
                return QStringLiteral("a Studio voice names a Wave that is not in the bank");
    }
    for (size_t ref = 0; ref < engine.hardware.bufferWaves.size(); ++ref)
        if (engine.hardware.bufferWaves[ref] && !waves.count(engine.hardware.bufferWaves[ref]))
            return QStringLiteral("hardware buffer slot %1 holds a Wave that is not in the bank").arg(ref);
    return {};
}

// Voices sounding in whichever mixer the engine has. Engine mutex held.
int soundingVoices(const MixerEngine& engine) REQUIRES(engine.mutex) {
    int sounding = 0;
    for (const MixerVoice& m : engine.custom.mixerVoices) sounding += m.active;
    if (engine.studio) sounding += static_cast<int>(engine.studio->view().waveCount);
    return sounding;
}

// What the main thread may do in one step, with how often it is drawn.
enum class Command { Play, Stop, Pause, LoadSong, OpenPatchmap, SavePatchmap, SavePatchmapAs, Editor, Wait };
constexpr std::array<std::pair<Command, int>, 9> kCommands{{
    {Command::Play, 10},
    {Command::Stop, 7},
    {Command::Pause, 10},
    {Command::LoadSong, 8},
    {Command::OpenPatchmap, 5},
    {Command::SavePatchmap, 3},
    {Command::SavePatchmapAs, 1},
    {Command::Editor, 12},
    {Command::Wait, 14},
}};

const char* commandName(Command command) {
    switch (command) {
    case Command::Play: return "play";
    case Command::Stop: return "stop";
    case Command::Pause: return "pause/resume";
    case Command::LoadSong: return "load song";
    case Command::OpenPatchmap: return "open Patchmap";
    case Command::SavePatchmap: return "save Patchmap";
    case Command::SavePatchmapAs: return "save Patchmap as";
    case Command::Editor: return "Instrument Editor";
    case Command::Wait: return "wait";
    }
    return "?";
}

// The Instrument Editor's moves, with how often each is drawn.
enum class EditorMove {
    Program,
    Instrument,
    Sound,
    InsertInstrument,
    DeleteInstrument,
    InsertSound,
    DeleteSound,
    Test,
    Stop,
    Type,
    Wait,
};
constexpr std::array<std::pair<EditorMove, int>, 11> kEditorMoves{{
    {EditorMove::Program, 6},
    {EditorMove::Instrument, 6},
    {EditorMove::Sound, 4},
    {EditorMove::InsertInstrument, 4},
    {EditorMove::DeleteInstrument, 3},
    {EditorMove::InsertSound, 5},
    {EditorMove::DeleteSound, 4},
    {EditorMove::Test, 8},
    {EditorMove::Stop, 5},
    {EditorMove::Type, 4},
    {EditorMove::Wait, 5},
}};

template <class T, size_t N>
T draw(std::mt19937& rng, const std::array<std::pair<T, int>, N>& table) {
    int total = 0;
    for (const auto& entry : table) total += entry.second;
    int pick = std::uniform_int_distribution<int>(0, total - 1)(rng);
    for (const auto& entry : table) {
        if (pick < entry.second) return entry.first;
        pick -= entry.second;
    }
    return table.back().first;
}

const char* statusName(TransportStatus status) {
    switch (status) {
    case TransportStatus::Idle: return "idle";
    case TransportStatus::Playing: return "playing";
    case TransportStatus::Paused: return "paused";
    case TransportStatus::Ending: return "ending";
    case TransportStatus::Previewing: return "previewing";
    }
    return "?";
}

void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void click(QWidget* button) { static_cast<QAbstractButton*>(button)->click(); }

class ThreadStress : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroThreadStress"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroThreadStress"));
        setPrompter(&prompts_);
    }
    void TearDown() override {
        setPrompter(nullptr);
        frame_ = nullptr;
        watchdog_.reset();
    }

    QString path(const QString& name) const { return dir_.filePath(name); }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    void step(const char* what) {
        watchdog_->step(what);
        ++done_[what];
    }

    // What the window's 500 ms refresh and its paint read from the engine,
    // then a few milliseconds for the timer and audio threads on their own.
    // (The events themselves are not run: see the start of the application.)
    void breathe(int longestMillis = 25) {
        if (frame_) frame_->refresh();
        CTonveroView::composeText(theEngine);
        std::this_thread::sleep_for(std::chrono::milliseconds(below(longestMillis)));
    }

    // Fails the test when the engine holds a voice that plays a Wave the bank no longer has.
    void expectConsistent(const char* after) {
        EngineLock lock(theEngine->mutex);
        const QString why = strayVoice(*theEngine);
        EXPECT_TRUE(why.isEmpty()) << "after " << after << ": " << why.toStdString();
    }

    void writeFixtures() {
        ASSERT_TRUE(savePatchmap(firstBank(), path(QStringLiteral("start.map")).toStdString()));
        ASSERT_TRUE(savePatchmap(firstBank(), path(QStringLiteral("a.map")).toStdString()));
        ASSERT_TRUE(savePatchmap(secondBank(), path(QStringLiteral("b.map")).toStdString()));
        ASSERT_TRUE(savePatchmap(firstBank(), path(QStringLiteral("pristine.map")).toStdString()));
        const auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
            return test::writeFileBytes(path(QString::fromLatin1(name)).toStdString(), bytes);
        };
        ASSERT_TRUE(write("busy.mid", busySong()));
        ASSERT_TRUE(write("short.mid", shortSong()));
        ASSERT_TRUE(write("fast.mid", fastSong()));
        ASSERT_TRUE(write("held.mid", heldSong()));
        ASSERT_TRUE(write("damaged.mid", damagedSong()));
        ASSERT_TRUE(write("w0.wav", test::WavWriter::pcm16(sawtooth(3000, 40, 9000), 1, 22050)));
        ASSERT_TRUE(write("w1.wav", test::WavWriter::pcm16(sawtooth(7000, 90, 6000), 1, 44100)));
        ASSERT_TRUE(write("w2.wav", test::WavWriter::pcm16(sawtooth(500, 5, 12000), 1, 11025)));
        ASSERT_TRUE(write("wstereo.wav", test::WavWriter::pcm16(sawtooth(4000, 64, 7000), 2, 22050)));
        std::vector<uint8_t> eightBit(2000);
        for (size_t i = 0; i < eightBit.size(); ++i) eightBit[i] = static_cast<uint8_t>(64 + (i * 3) % 128);
        ASSERT_TRUE(write("w8bit.wav", test::WavWriter::pcm8(eightBit, 1, 8000)));
    }

    void runCommand(CMainFrame& frame, Command command) {
        // The short song twice as often: it ends, and plays out, while the run goes on.
        static const char* const songs[] = {"busy.mid", "short.mid",   "short.mid",
                                            "fast.mid", "damaged.mid", "missing.mid"};
        static const char* const maps[] = {"a.map", "b.map", "saved.map"};
        switch (command) {
        case Command::Play:
            step("Play (CMainFrame::onPlay)");
            frame.onPlay();
            break;
        case Command::Stop:
            step("Stop (CMainFrame::onStop)");
            frame.onStop();
            break;
        case Command::Pause:
            step("Pause (CMainFrame::onPause)");
            frame.onPause();
            break;
        case Command::LoadSong:
            step("Load MIDI file (CMainFrame::onLoadMidi)");
            prompts_.file = path(QString::fromLatin1(songs[below(6)]));
            frame.onLoadMidi();
            break;
        case Command::OpenPatchmap:
            step("Open Patchmap (CMainFrame::onOpenPatchmap)");
            prompts_.file = path(QString::fromLatin1(maps[below(3)]));
            frame.onOpenPatchmap();
            break;
        case Command::SavePatchmap:
            step("Save Patchmap (CMainFrame::onSavePatchmap)");
            frame.onSavePatchmap();
            break;
        case Command::SavePatchmapAs:
            step("Save Patchmap As (CMainFrame::onSavePatchmapAs)");
            prompts_.file = path(QStringLiteral("saved.map"));
            frame.onSavePatchmapAs();
            break;
        case Command::Editor:
            step("opening the Instrument Editor (CTonveroView::onInstrumentEditor)");
            frame.view()->onInstrumentEditor();
            break;
        case Command::Wait:
            step("waiting with the song as it is");
            // While the short song plays, long enough for it to end and play out.
            breathe(songPath.ends_with("short.mid") &&
                            (status() == TransportStatus::Playing || status() == TransportStatus::Ending)
                        ? 400
                        : 25);
            break;
        }
    }

    // A few moves in the open Instrument Editor (run modally by the View
    // menu's command, handed over by the prompter), then it closes.
    void workEditor(CInstrumentEditorDlg& editor) {
        editor.show();
        static const char* const wavs[] = {"w0.wav", "w1.wav", "w2.wav", "w8bit.wav", "wstereo.wav"};
        const int moves = 1 + below(6);
        for (int m = 0; m < moves && !HasFailure(); ++m) {
            switch (draw(rng_, kEditorMoves)) {
            case EditorMove::Program:
                step("choosing a program in the Instrument Editor");
                choose(editor.m_programList, below(editor.m_programList->count()));
                break;
            case EditorMove::Instrument:
                step("choosing an Instrument in the Instrument Editor");
                if (editor.m_instrumentList->count() > 0)
                    choose(editor.m_instrumentList, below(editor.m_instrumentList->count()));
                break;
            case EditorMove::Sound:
                step("choosing a sound in the Instrument Editor");
                if (editor.m_soundList->count() > 0) choose(editor.m_soundList, below(editor.m_soundList->count()));
                break;
            case EditorMove::InsertInstrument:
                step("inserting an Instrument (CInstrumentEditorDlg::onInsertInstrument)");
                prompts_.name = QStringLiteral("Stress %1").arg(nextInstrument_++);
                click(editor.control(D::kInsertInstrument));
                break;
            case EditorMove::DeleteInstrument:
                step("deleting an Instrument (CInstrumentEditorDlg::onDeleteInstrument)");
                click(editor.control(D::kDeleteInstrument));
                break;
            case EditorMove::InsertSound:
                step("inserting a sound (CInstrumentEditorDlg::onInsertSound)");
                prompts_.file = path(QString::fromLatin1(wavs[below(5)]));
                click(editor.control(D::kInsertSound));
                prompts_.file.clear();  // a refusal before the file dialog leaves it unused
                break;
            case EditorMove::DeleteSound:
                step("deleting a sound (CInstrumentEditorDlg::onDeleteSound)");
                click(editor.control(D::kDeleteSound));
                break;
            case EditorMove::Test:
                step("Test in the Instrument Editor (startTestNote)");
                click(editor.control(D::kTest));
                break;
            case EditorMove::Stop:
                step("Stop in the Instrument Editor (stopTestNote)");
                click(editor.control(D::kStop));
                break;
            case EditorMove::Type: {
                step("typing a value into the Instrument Editor");
                static const int fields[] = {D::kFrequency, D::kLoopEnd, D::kBasicNote, D::kLoopBegin,
                                             D::kSustainFading};
                const int field = fields[below(5)];
                const int value = field == D::kFrequency       ? 4000 + below(40000)
                                  : field == D::kSustainFading ? below(3)
                                                               : below(8000);
                static_cast<QLineEdit*>(editor.control(field))->setText(QString::number(value));
                if (below(4) == 0) click(editor.control(D::kLooped));
                break;
            }
            case EditorMove::Wait:
                step("waiting in the Instrument Editor");
                breathe();
                break;
            }
            expectConsistent("a move in the Instrument Editor");
        }
        step("closing the Instrument Editor");
    }

    // Waits, giving the other threads time, until the known song has
    // started its notes; the watchdog ends a wait that never ends.
    void waitForNotes() {
        for (;;) {
            {
                EngineLock lock(theEngine->mutex);
                ASSERT_EQ(transportStatus(*theEngine), TransportStatus::Playing);
                // Queued is not yet heard: the callback renders the song a little after it is queued.
                if (noteCounts(*theEngine).played >= 3 && theEngine->song.currentTick > 0 &&
                    soundingVoices(*theEngine) >= 2)
                    return;
            }
            breathe();
        }
    }

    // Nothing plays, no timer is left, no MixerVoice sounds.
    void expectIdle(const char* after) {
        // Cut voices ramp out over a few milliseconds of the callback's output.
        for (int wait = 0; wait < 200; ++wait) {
            {
                EngineLock lock(theEngine->mutex);
                if (soundingVoices(*theEngine) == 0) break;
            }
            breathe();
        }
        EngineLock lock(theEngine->mutex);
        EXPECT_EQ(transportStatus(*theEngine), TransportStatus::Idle) << after;
        EXPECT_EQ(theEngine->sequencerTimer, TimerId{0}) << after;
        EXPECT_EQ(theEngine->mixerTimer, TimerId{0}) << after;
        EXPECT_EQ(soundingVoices(*theEngine), 0) << after;
        EXPECT_EQ(strayVoice(*theEngine).toStdString(), "") << after;
    }

    TransportStatus status() {
        EngineLock lock(theEngine->mutex);
        return transportStatus(*theEngine);
    }

    QTemporaryDir dir_;
    StressPrompter prompts_;
    std::mt19937 rng_;
    std::unique_ptr<Watchdog> watchdog_;
    std::map<std::string, int> done_;  // steps taken, by name
    int nextInstrument_ = 0;
    CMainFrame* frame_ = nullptr;
};

TEST_F(ThreadStress, UserInterfaceAgainstTimerAndAudioThreads) {
    const auto seed = static_cast<uint32_t>(environmentNumber("TONVERO_STRESS_SEED", 20240611));
    const unsigned long seconds = environmentNumber("TONVERO_STRESS_SECONDS", TONVERO_STRESS_DEFAULT_SECONDS);
    const unsigned long watchdogSeconds = environmentNumber("TONVERO_STRESS_WATCHDOG", 60);
    std::printf(
        "thread stress: seed %u (TONVERO_STRESS_SEED), %lu s of commands (TONVERO_STRESS_SECONDS), "
        "deadlock after %lu s without progress (TONVERO_STRESS_WATCHDOG)\n",
        seed, seconds, watchdogSeconds);
    std::fflush(stdout);
    rng_.seed(seed);
    watchdog_ = std::make_unique<Watchdog>(watchdogSeconds, seed);
    writeFixtures();
    if (HasFatalFailure()) return;

    // The application as `tonvero --audio null` starts it: the real timer
    // service and the null output. The main window stays hidden and no
    // event loop runs: painting a window has Qt convert images on its own
    // thread pool, whose hand-overs ThreadSanitizer cannot see inside Qt's
    // uninstrumented code. breathe() calls what the refresh timer and the
    // paint would.
    step("starting the application");
    AppOptions options;
    options.audio = "null";
    // The Studio mixer, whatever the user's settings say.
    options.mixer.mode = MixerMode::Studio;
    options.mixerGiven = true;
    options.defaultPatchmap = path(QStringLiteral("start.map")).toStdString();
    options.showWindow = false;
    auto app = std::make_unique<CTonveroApp>(options);
    ASSERT_TRUE(app->initInstance());
    CMainFrame& frame = *app->frame();
    frame_ = &frame;
    prompts_.workEditor = [this](CInstrumentEditorDlg& editor) { workEditor(editor); };

    step("loading the first song");
    prompts_.file = path(QStringLiteral("busy.mid"));
    frame.onLoadMidi();
    ASSERT_EQ(status(), TransportStatus::Playing);

    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    int commands = 0;
    std::map<std::string, int> statuses;  // the transport's state before each command
    while (Clock::now() < end && !HasFailure()) {
        ++statuses[statusName(status())];
        const Command command = draw(rng_, kCommands);
        runCommand(frame, command);
        expectConsistent(commandName(command));
        ++commands;
    }
    if (HasFailure()) return;

    // Everything stops and nothing is left running or sounding.
    step("stopping at the end");
    frame.onStop();
    expectIdle("Stop at the end");

    // The song still plays: a known bank and song, its notes heard, Pause,
    // resume and Stop answering as they should.
    step("opening the known Patchmap at the end");
    prompts_.file = path(QStringLiteral("pristine.map"));
    frame.onOpenPatchmap();
    step("loading the known song at the end");
    prompts_.file = path(QStringLiteral("held.mid"));
    frame.onLoadMidi();
    step("waiting for the known song's notes");
    waitForNotes();
    if (HasFatalFailure()) return;
    step("pausing and resuming the known song");
    frame.onPause();
    EXPECT_EQ(status(), TransportStatus::Paused);
    frame.onPause();
    EXPECT_EQ(status(), TransportStatus::Playing);
    {
        EngineLock lock(theEngine->mutex);
        EXPECT_GE(soundingVoices(*theEngine), 2) << "the held notes of the known song do not sound";
    }
    step("stopping the known song");
    frame.onStop();
    expectIdle("Stop of the known song");

    // Shutting down while a song plays: the engine's destructor kills its timers.
    step("shutting down while a song plays");
    frame.onPlay();
    breathe();
    frame_ = nullptr;
    app.reset();
    EXPECT_EQ(theEngine, nullptr);

    std::string summary = "\n  commands given while the transport was";
    for (const auto& [name, count] : statuses) summary += " " + name + " " + std::to_string(count);
    for (const auto& [what, count] : done_) summary += "\n  " + std::to_string(count) + " x " + what;
    std::printf("thread stress: %d commands, %d notices, seed %u:%s\n", commands, prompts_.notices, seed,
                summary.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // The editors' dialogs need an application object; no event loop runs.
    // (GoogleTest rather than Qt Test: Qt Test's own watchdog thread hands
    // over through Qt's uninstrumented code, which ThreadSanitizer reports.)
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
