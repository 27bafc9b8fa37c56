#pragma once
// What the editor suites share: the shared engine rig with its output open
// (the Custom Mixer unless another mode is asked for), the scripted prompter installed in place of the real
// dialogs, WAV files written into a fresh folder, and the moves a user makes
// (choosing an entry, typing into a field, clicking a button), each reaching
// the same handler a real one does.

#include "bank/Bank.h"
#include "editor/CInstrumentEditorDlg.h"
#include "editor/ArticulationPanel.h"
#include "editor/CInstrumentNameDlg.h"
#include "editor/Prompter.h"
#include "support/EngineRig.h"
#include "support/WavWriter.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace tonvero::test {

class EditorRig {
public:
    explicit EditorRig(MixerMode mode = MixerMode::Software) : rig_(mode, 44100, EngineRig::Output::Open) {
        setPrompter(&prompter);
    }
    ~EditorRig() { setPrompter(nullptr); }
    EditorRig(const EditorRig&) = delete;
    EditorRig& operator=(const EditorRig&) = delete;

    MixerEngine& engine() { return rig_.e(); }
    Bank& bank() { return rig_.e().bank; }
    VirtualTimerService& clock() { return rig_.clock(); }
    OfflineAudio& audio() { return rig_.audio; }

    // A file in this rig's own folder (made on first use, removed with the rig).
    QString path(const QString& name) const { return dir_.filePath(name); }
    // Writes a WAV file and returns its path.
    QString writeWav(const QString& name, const std::vector<uint8_t>& bytes) const {
        const QString file = path(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        writeFileBytes(file.toStdString(), bytes);
        return file;
    }
    QString wav16Mono(const QString& name, const std::vector<int16_t>& samples, uint32_t rate = 22050) const {
        return writeWav(name, WavWriter::pcm16(samples, 1, rate));
    }

    // Adds an Instrument straight into the bank with one Zone per named Wave
    // (each `count` samples of a slow ramp at 22050 Hz); returns its slot.
    int32_t addInstrument(const std::string& name, const std::vector<std::string>& waves = {}, uint32_t count = 1000) {
        EngineLock lock(engine().mutex);
        const int32_t slot = bank().insertInstrument(name);
        for (const std::string& waveName : waves) {
            WaveShape shape{std::vector<int16_t>(count), 22050};
            for (uint32_t i = 0; i < count; ++i) shape.samples[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
            Bank::addZone(instrument(slot), makeWave(std::move(shape), waveName));
        }
        return slot;
    }
    Instrument& instrument(int32_t slot) { return *bank().instruments[static_cast<size_t>(slot)]; }

    // The editor, made and opened (its initialisation has run).
    std::unique_ptr<CInstrumentEditorDlg> openEditor() {
        auto dialog = std::make_unique<CInstrumentEditorDlg>();
        dialog->show();
        return dialog;
    }

    // ---- what a user does ----
    static void choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    static void chooseText(QComboBox* list, const QString& text) {
        choose(list, list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    static void click(QWidget* button) { static_cast<QAbstractButton*>(button)->click(); }
    static void type(QWidget* edit, const QString& text) { static_cast<QLineEdit*>(edit)->setText(text); }
    static QString text(QWidget* edit) { return static_cast<QLineEdit*>(edit)->text(); }
    // Types into an articulation field and takes the value, as Enter or
    // leaving the field does.
    static void enter(CInstrumentEditorDlg& editor, int field, const QString& text) {
        type(editor.control(field), text);
        editor.m_articulation->onFieldCommitted(field);
    }
    static QStringList entries(const QComboBox* list) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        return items;
    }

    // The next name dialog gets `name` typed and OK.
    void answerName(const QString& name) {
        prompter.answerDialog([name](QDialog& dialog) {
            auto& nameDialog = static_cast<CInstrumentNameDlg&>(dialog);
            nameDialog.nameEdit()->setText(name);
            nameDialog.accept();
            return nameDialog.result();
        });
    }
    // Inserts an Instrument through the dialog's Insert button.
    void insertInstrument(CInstrumentEditorDlg& editor, const QString& name) {
        answerName(name);
        click(editor.control(CInstrumentEditorDlg::kInsertInstrument));
    }
    // Inserts a sound through the dialog's Insert button and the file dialog.
    void insertSound(CInstrumentEditorDlg& editor, const QString& file) {
        prompter.answerFile(file);
        click(editor.control(CInstrumentEditorDlg::kInsertSound));
    }
    // The text every field shows, in the dialog's tab order.
    static QStringList fields(const CInstrumentEditorDlg& editor) {
        using D = CInstrumentEditorDlg;
        QStringList shown;
        for (int id : {D::kRangeStart, D::kRangeEnd, D::kBasicNote, D::kFrequency}) shown << text(editor.control(id));
        shown << (static_cast<QCheckBox*>(editor.control(D::kLooped))->isChecked() ? "checked" : "unchecked");
        for (int id : {D::kLoopBegin, D::kLoopEnd, D::kHoldPos, D::kSustainFading, D::kLoopFading, D::kCutoffFading})
            shown << text(editor.control(id));
        return shown;
    }

    ScriptedPrompter prompter;

private:
    QTemporaryDir dir_;
    EngineRig rig_;
};

}  // namespace tonvero::test
