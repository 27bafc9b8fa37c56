#pragma once
// "Instrument Editor": the one place where the user changes the bank. Three
// drop-down lists choose, from the top down, the MIDI program, the
// Instrument that program plays (choosing one assigns it) and one sound of
// that Instrument; the fields edit the sound's Zone and Wave and the
// Instrument's three fading values. Every change reaches the bank at once,
// as a step of the bank's history (BankHistory.h); there is no OK or Cancel,
// closing the dialog keeps everything, and Ctrl+Z / Ctrl+Shift+Z undo and
// redo the steps (a number typed digit by digit into a field is one step).
// After an undo or redo the lists and fields show the bank as it now is.
//
// Beside the fields, the articulation panel edits the sound's articulation
// (ArticulationPanel); under them the volume envelope's curve can be dragged
// (EnvelopeView), and a keyboard plays the chosen Instrument at any key and
// velocity (KeyboardStrip).
//
// Fading values are stored as 16.16 fixed point and shown divided by 65536:
// typing 0.3 stores 19660, which shows as 0.299988 when the sound is loaded again.
//
// Threads: user-interface thread only. Changes to the bank hold the engine
// lock (see EditorEngine.h), so a song may play while the dialog is open.

#include "editor/EditedSound.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QWidget;

namespace tonvero {

class ArticulationPanel;
class DialogTemplate;
class EnvelopeView;
class KeyboardStrip;
struct Instrument;
struct Zone;

// Runs the Instrument Editor modally over `parent`'s window (the View menu's
// "&InstrumentEditor" command); without one, over the active window or the
// main window. Does nothing when there is no engine.
void runInstrumentEditor(QWidget* parent);

class CInstrumentEditorDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInsertInstrument = 1002;
    static constexpr int kDeleteInstrument = 1003;
    static constexpr int kTest = 1004;
    static constexpr int kStop = 1005;
    static constexpr int kRangeStart = 1006;
    static constexpr int kRangeEnd = 1007;
    static constexpr int kBasicNote = 1008;
    static constexpr int kFrequency = 1009;
    static constexpr int kLooped = 1010;
    static constexpr int kLoopBegin = 1011;
    static constexpr int kLoopEnd = 1012;
    static constexpr int kSustainFading = 1013;
    static constexpr int kLoopFading = 1014;
    static constexpr int kInstrumentList = 1015;
    static constexpr int kInsertSound = 1016;
    static constexpr int kDeleteSound = 1017;
    static constexpr int kSoundList = 1018;
    static constexpr int kProgramList = 1019;
    static constexpr int kLoopEdit = 1021;
    static constexpr int kHoldPos = 1042;
    static constexpr int kCutoffFading = 1043;
    static constexpr int kArticulationPanel = 1100;
    static constexpr int kEnvelopeView = 1101;
    static constexpr int kKeyboard = 1102;
    static constexpr int kKeyInfo = 1103;  // the key and velocity that sound, or how to play
    static constexpr int kFindPitch = 1104;
    static constexpr int kFindLoop = 1105;
    static constexpr int kRangeStartNote = 1106;  // the note names beside the key fields
    static constexpr int kRangeEndNote = 1107;
    static constexpr int kBasicNoteName = 1108;
    // Find Loop offers a crossfade for a loop whose ends match worse than this (1: exactly).
    static constexpr double kGoodLoopScore = 0.9;

    // The texts of the dialog's own messages.
    static const QString kDuplicateInstrument;
    static const QString kDeleteInstrumentQuestion;
    static const QString kCreateInstrumentFirst;
    static const QString kSelectInstrumentFirst;
    static const QString kDuplicateWave;
    static const QString kFileNotFound;
    static const QString kUnreadableWave;
    static const QString kTooManyChannels;
    static const QString kNot8Or16Bit;
    static const QString kStereoNotice;
    static const QString k8BitNotice;
    static const QString kDeleteSoundQuestion;
    static const QString kBankFull;
    static const QString kWaveFilter;
    static const QString kKeyboardHint;
    static const QString kStereoPairQuestion;
    static const QString kMixedDownNotice;
    static const QString kNoPitchFound;
    static const QString kNoLoopFound;
    static const QString kCrossfadeQuestion;

    explicit CInstrumentEditorDlg(QWidget* parent = nullptr);
    ~CInstrumentEditorDlg() override;

    // ---- members, in declared order (the value members are 0 at construction) ----
    QComboBox* m_soundList = nullptr;             // 1018
    QComboBox* m_programList = nullptr;           // 1019
    QComboBox* m_instrumentList = nullptr;        // 1015
    int32_t m_rangeStart = 0;                     // Zone rangeStart
    int32_t m_rangeEnd = 0;                       // Zone rangeEnd
    int32_t m_looped = 0;                         // Wave looped
    int32_t m_basicNote = 0;                      // Zone basicNote
    uint32_t m_frequency = 0;                     // Wave frequency, Hz
    uint32_t m_loopBegin = 0;                     // Wave loopBegin
    uint32_t m_loopEnd = 0;                       // Wave loopEnd
    float m_loopFading = 0;                       // Instrument loopFading / 65536
    float m_sustainFading = 0;                    // Instrument sustainFading / 65536
    uint32_t m_holdPos = 0;                       // Wave holdPos
    float m_cutoffFading = 0;                     // Instrument cutoffFading / 65536
    ArticulationPanel* m_articulation = nullptr;  // 1100
    EnvelopeView* m_envelope = nullptr;           // 1101
    KeyboardStrip* m_keyboard = nullptr;          // 1102

    // The control with this id, the articulation panel's among them.
    QWidget* control(int id) const;

    // Moves every member into its control (save false) or every control
    // into its member (save true; stops at the first field that fails, with
    // a message and the focus there). True when nothing failed.
    bool updateData(bool save);

    // A fading value as stored (16.16, truncated) and as shown.
    static uint32_t storedFading(float shown);
    static float shownFading(uint32_t stored);

    struct Sound {
        Instrument* instrument;
        Zone* zone;
    };
    // The selected program's Instrument and the Zone whose Wave is named by
    // the selected sound entry; nothing when either list has no selection.
    std::optional<Sound> currentSound() const;
    // The chosen Instrument (when the list has one chosen) and sound, for
    // the articulation panel and the keyboard.
    EditedSound editedSound() const;

public slots:
    // The handlers, reached by the controls as listed in the constructor.
    void onInsertInstrument();
    void onDeleteInstrument();
    void onProgramSelected();
    void onInstrumentSelected();
    void onInsertSound();
    void onDeleteSound();
    void onSoundSelected();
    void onFieldChanged(int id);
    void onTest();
    void onStop();
    void onLoopEdit();
    // Proposes the Frequency that puts the Basic Note in tune with the pitch
    // heard in the samples; proposes loop points where the waveform matches
    // best (with a crossfade into a copy when it matches poorly). Each one step.
    void onFindPitch();
    void onFindLoop();
    // The bank was changed by an undo or redo: the lists and fields show it
    // afresh, keeping the program and, where it is still there, the sound.
    void reloadBank();

protected:
    void showEvent(QShowEvent* event) override;
    // Ctrl+Z and Ctrl+Shift+Z in a field are the dialog's undo and redo, not the field's.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onInitDialog();
    int selectedProgram() const;
    void loadSound(Instrument* instrument, Zone* zone);
    void storeField(int id, const Sound& sound);
    void fillSoundList(const Instrument& instrument);
    // The articulation panel and the keyboard show the chosen sound afresh.
    void refreshParts();
    void showKeyInfo(int key, int velocity);
    // Reads a sample file into the Zones an import adds (two for a linked
    // stereo pair); false, with a message, when it cannot be used.
    bool readSound(const QString& path, std::vector<std::unique_ptr<Zone>>& zones);
    // The Basic Note and Frequency of a new sound: from the file's root note,
    // else the pitch found in its samples, else a note name in its name.
    static void proposeTuning(Zone& zone, std::optional<int32_t> rootKey, int32_t detuneCents);
    void showNoteNames();

    std::unique_ptr<DialogTemplate> layout_;
    bool initialised_ = false;
    bool loading_ = false;  // a load is writing the controls: their notifications are not the user's
};

}  // namespace tonvero
