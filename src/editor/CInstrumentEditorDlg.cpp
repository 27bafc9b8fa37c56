#include "editor/CInstrumentEditorDlg.h"

#include "bank/Bank.h"
#include "bank/WaveImport.h"
#include "editor/ArticulationPanel.h"
#include "editor/BankHistory.h"
#include "editor/CInstrumentNameDlg.h"
#include "editor/CLoopPointEditorDlg.h"
#include "editor/DataExchange.h"
#include "editor/DialogFont.h"
#include "editor/DialogTemplate.h"
#include "editor/EditCommands.h"
#include "editor/EditorEngine.h"
#include "editor/EnvelopeView.h"
#include "editor/KeyboardStrip.h"
#include "editor/PreviewNoteIds.h"
#include "editor/ProgramList.h"
#include "editor/Prompter.h"
#include "editor/SortedList.h"
#include "engine/MixerEngine.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace tonvero {

using D = CInstrumentEditorDlg;

const QString D::kDuplicateInstrument = QStringLiteral("Duplicate instrument names are not allowed!");
const QString D::kDeleteInstrumentQuestion = QStringLiteral("Do you want to delete current instrument ?");
const QString D::kCreateInstrumentFirst = QStringLiteral("Create a new instrument first!");
const QString D::kSelectInstrumentFirst = QStringLiteral("Select an instrument first!");
const QString D::kDuplicateWave = QStringLiteral("Duplicate wave files are not allowed!");
const QString D::kFileNotFound = QStringLiteral("File not found!");
const QString D::kUnreadableWave = QStringLiteral("Unable to read this wav file!");
const QString D::kTooManyChannels =
    QStringLiteral("This file contains more than two audio channels! You cannot use it here.");
const QString D::kNot8Or16Bit = QStringLiteral("This audio file is neither 8 or 16 bit. You cannot use it here.");
const QString D::kStereoNotice = QStringLiteral("This is a stereo audio file. It will be converted to mono.");
const QString D::k8BitNotice = QStringLiteral(
    "This is an 8 bit audio file. It will be converted to 16 bit.\nYou should use 16 bit samples for better quality!");
const QString D::kDeleteSoundQuestion = QStringLiteral("Do you want to delete current wave from the list ?");
const QString D::kBankFull = QStringLiteral("No more than 128 instruments are allowed!");
const QString D::kWaveFilter = QStringLiteral("RIFF wav files (*.wav)|*.wav||");
const QString D::kKeyboardHint =
    QStringLiteral("Press a key to hear the instrument at that key: lower on a key plays louder.");

namespace {

constexpr float kMaxFading = 1000.0f;

// The dialog's parts beside and under the fields, in dialog units.
constexpr int kFieldsWidth = 268;
constexpr int kWidth = kFieldsWidth + ArticulationPanel::kWidth;
constexpr int kEnvelopeTop = 197;
constexpr int kEnvelopeHeight = 76;
constexpr int kKeyInfoTop = kEnvelopeTop + kEnvelopeHeight + 5;
constexpr int kKeyboardTop = kKeyInfoTop + 11;
constexpr int kKeyboardHeight = 44;
constexpr int kHeight = kKeyboardTop + kKeyboardHeight + 7;

DialogSpec editorSpec() {
    using K = ControlKind;
    const auto label = [](const char* text, int x, int y, int w, int h) {
        return ControlSpec{K::Label, 0, QString::fromLatin1(text), x, y, w, h};
    };
    const auto edit = [](int id, int x, int y) { return ControlSpec{K::Edit, id, {}, x, y, 40, 14}; };
    return {QStringLiteral("Instrument Editor"),
            kWidth,
            kHeight,
            {
                label("&Midi Program Number", 49, 9, 68, 8),
                {K::DropDownList, D::kProgramList, {}, 11, 22, 149, 156, true},
                label("&Instrument", 66, 45, 37, 8),
                {K::DropDownList, D::kInstrumentList, {}, 11, 60, 149, 118, true},
                {K::PushButton, D::kInsertInstrument, QStringLiteral("I&nsert"), 30, 79, 50, 14},
                {K::PushButton, D::kDeleteInstrument, QStringLiteral("&Delete"), 90, 79, 50, 14},
                label("&Sounds", 70, 109, 25, 8),
                {K::DropDownList, D::kSoundList, {}, 12, 122, 148, 58, true},
                {K::PushButton, D::kInsertSound, QStringLiteral("Ins&ert"), 30, 143, 50, 14},
                {K::PushButton, D::kDeleteSound, QStringLiteral("Dele&te"), 89, 143, 50, 14},
                {K::DefaultButton, D::kTest, QStringLiteral("Test"), 30, 165, 50, 14},
                {K::PushButton, D::kStop, QStringLiteral("Stop"), 89, 165, 50, 14},
                label("&Range Start", 171, 13, 39, 8),
                edit(D::kRangeStart, 217, 10),
                label("R&ange End", 173, 29, 37, 8),
                edit(D::kRangeEnd, 217, 26),
                label("&Basic Note", 174, 44, 36, 8),
                edit(D::kBasicNote, 217, 42),
                label("&Frequency", 176, 59, 34, 8),
                edit(D::kFrequency, 217, 58),
                {K::PushButton, D::kLoopEdit, QStringLiteral("&Loop Edit"), 175, 73, 35, 12},
                {K::CheckBox, D::kLooped, QStringLiteral("Loo&ped"), 217, 74, 40, 10},
                label("Loop Begin", 173, 89, 37, 8),
                edit(D::kLoopBegin, 217, 86),
                label("Loop End", 178, 105, 32, 8),
                edit(D::kLoopEnd, 217, 102),
                label("&Hold Pos", 180, 121, 30, 8),
                edit(D::kHoldPos, 217, 118),
                label("S&ustain Fading", 162, 137, 48, 8),
                edit(D::kSustainFading, 217, 134),
                label("Loop Fadi&ng", 170, 153, 40, 8),
                edit(D::kLoopFading, 217, 150),
                label("&Cutoff Fading", 167, 169, 43, 8),
                edit(D::kCutoffFading, 217, 166),
                {K::Custom, D::kArticulationPanel, {}, kFieldsWidth, 0, ArticulationPanel::kWidth,
                 ArticulationPanel::kHeight},
                {K::Custom, D::kEnvelopeView, {}, 8, kEnvelopeTop, kWidth - 16, kEnvelopeHeight},
                {K::Label, D::kKeyInfo, D::kKeyboardHint, 8, kKeyInfoTop, kWidth - 16, 8},
                {K::Custom, D::kKeyboard, {}, 8, kKeyboardTop, kWidth - 16, kKeyboardHeight},
            }};
}

constexpr int kEditIds[] = {D::kRangeStart, D::kRangeEnd,      D::kBasicNote,   D::kFrequency, D::kLoopBegin,
                            D::kLoopEnd,    D::kSustainFading, D::kLoopFading, D::kHoldPos,   D::kCutoffFading};

QString nameOf(const std::string& name) { return QString::fromStdString(name); }

// How each field's value sits in the bank, for its undo step: the step's
// name, and whether it is the Instrument's (else the sound's Zone or Wave).
struct StoredField {
    int id;
    const char* name;
    bool ofInstrument;
    int64_t (*get)(const Instrument&, const Zone&);
    void (*set)(Instrument&, Zone&, int64_t);
};

template <typename T> T as(int64_t value) { return static_cast<T>(value); }

const StoredField kStoredFields[] = {
    {D::kRangeStart, "Range Start", false, [](const Instrument&, const Zone& z) -> int64_t { return z.rangeStart; },
     [](Instrument&, Zone& z, int64_t v) { z.rangeStart = as<int32_t>(v); }},
    {D::kRangeEnd, "Range End", false, [](const Instrument&, const Zone& z) -> int64_t { return z.rangeEnd; },
     [](Instrument&, Zone& z, int64_t v) { z.rangeEnd = as<int32_t>(v); }},
    {D::kBasicNote, "Basic Note", false, [](const Instrument&, const Zone& z) -> int64_t { return z.basicNote; },
     [](Instrument&, Zone& z, int64_t v) { z.basicNote = as<int32_t>(v); }},
    {D::kFrequency, "Frequency", false, [](const Instrument&, const Zone& z) -> int64_t { return z.wave->frequency; },
     [](Instrument&, Zone& z, int64_t v) { z.wave->frequency = as<uint32_t>(v); }},
    {D::kLooped, "Looped", false, [](const Instrument&, const Zone& z) -> int64_t { return z.wave->looped; },
     [](Instrument&, Zone& z, int64_t v) { z.wave->looped = as<int32_t>(v); }},
    {D::kLoopBegin, "Loop Begin", false, [](const Instrument&, const Zone& z) -> int64_t { return z.wave->loopBegin; },
     [](Instrument&, Zone& z, int64_t v) { z.wave->loopBegin = as<int32_t>(v); }},
    {D::kLoopEnd, "Loop End", false, [](const Instrument&, const Zone& z) -> int64_t { return z.wave->loopEnd; },
     [](Instrument&, Zone& z, int64_t v) { z.wave->loopEnd = as<int32_t>(v); }},
    {D::kHoldPos, "Hold Pos", false, [](const Instrument&, const Zone& z) -> int64_t { return z.wave->holdPos; },
     [](Instrument&, Zone& z, int64_t v) { z.wave->holdPos = as<int32_t>(v); }},
    {D::kSustainFading, "Sustain Fading", true,
     [](const Instrument& i, const Zone&) -> int64_t { return i.sustainFading; },
     [](Instrument& i, Zone&, int64_t v) { i.sustainFading = as<uint32_t>(v); }},
    {D::kLoopFading, "Loop Fading", true, [](const Instrument& i, const Zone&) -> int64_t { return i.loopFading; },
     [](Instrument& i, Zone&, int64_t v) { i.loopFading = as<uint32_t>(v); }},
    {D::kCutoffFading, "Cutoff Fading", true,
     [](const Instrument& i, const Zone&) -> int64_t { return i.cutoffFading; },
     [](Instrument& i, Zone&, int64_t v) { i.cutoffFading = as<uint32_t>(v); }},
};

const StoredField* storedField(int id) {
    for (const StoredField& f : kStoredFields)
        if (f.id == id) return &f;
    return nullptr;
}

bool isUndoOrRedo(const QKeyEvent& key) {
    const QKeyCombination pressed = key.keyCombination();
    return pressed == QKeyCombination(Qt::ControlModifier, Qt::Key_Z) ||
           pressed == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
}

// The window the Instrument Editor belongs to: the caller's, else the active
// one, else the application's main window. A modal dialog without one is
// marked on X11 as transient for the whole application, and a window manager
// may then keep the focus on it even over a dialog it opens in turn (the Loop
// Point Editor), while Qt hands the focus back to that dialog: the two trade
// the focus for ever and the Loop Point Editor is never drawn.
QWidget* ownerWindow(QWidget* parent) {
    if (parent) return parent->window();
    if (QWidget* active = QApplication::activeWindow()) return active->window();
    QWidget* any = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->windowType() == Qt::Popup || top->windowType() == Qt::ToolTip) continue;
        if (qobject_cast<QMainWindow*>(top)) return top;
        if (!any) any = top;
    }
    return any;
}

}  // namespace

void runInstrumentEditor(QWidget* parent) {
    if (!theEngine) return;
    CInstrumentEditorDlg dialog(ownerWindow(parent));
    prompter().runModal(dialog);
}

CInstrumentEditorDlg::CInstrumentEditorDlg(QWidget* parent) : QDialog(parent) {
    setFont(editorDialogFont());
    layout_ = std::make_unique<DialogTemplate>(*this, editorSpec());
    m_soundList = layout_->get<QComboBox>(kSoundList);
    m_programList = layout_->get<QComboBox>(kProgramList);
    m_instrumentList = layout_->get<QComboBox>(kInstrumentList);
    // The program list comes with the dialog: its entries sort in program order.
    for (int p = 0; p < kProgramListEntries; ++p) insertSorted(*m_programList, programListEntry(p));

    const auto clicked = [this](int id, void (CInstrumentEditorDlg::*handler)()) {
        connect(layout_->get<QPushButton>(id), &QPushButton::clicked, this, handler);
    };
    clicked(kInsertInstrument, &D::onInsertInstrument);
    clicked(kDeleteInstrument, &D::onDeleteInstrument);
    clicked(kInsertSound, &D::onInsertSound);
    clicked(kDeleteSound, &D::onDeleteSound);
    clicked(kTest, &D::onTest);
    clicked(kStop, &D::onStop);
    clicked(kLoopEdit, &D::onLoopEdit);
    // Only the user's choices reach the selection handlers (a choice made in
    // code, like selecting a name, does not notify).
    connect(m_programList, &QComboBox::activated, this, &D::onProgramSelected);
    connect(m_instrumentList, &QComboBox::activated, this, &D::onInstrumentSelected);
    connect(m_soundList, &QComboBox::activated, this, &D::onSoundSelected);
    // A sound's name is its file's full path, often wider than the list:
    // the whole of the chosen entry shows as its tip.
    for (QComboBox* list : {m_instrumentList, m_soundList})
        connect(list, &QComboBox::currentTextChanged, list, &QWidget::setToolTip);
    for (int id : kEditIds) {
        connect(layout_->get<QLineEdit>(id), &QLineEdit::textChanged, this, [this, id] {
            if (!loading_) onFieldChanged(id);
        });
    }
    connect(layout_->get<QCheckBox>(kLooped), &QCheckBox::clicked, this, [this] { onFieldChanged(kLooped); });

    // The parts that ask for the chosen sound each time they act.
    const EditedSoundSource source = [this] { return editedSound(); };
    m_articulation = new ArticulationPanel(source, this);
    layout_->place(m_articulation, kArticulationPanel);
    m_envelope = new EnvelopeView(this);
    layout_->place(m_envelope, kEnvelopeView);
    m_articulation->attachEnvelopeView(m_envelope);
    m_keyboard = new KeyboardStrip(source, this);
    layout_->place(m_keyboard, kKeyboard);
    connect(m_keyboard, &KeyboardStrip::played, this, &D::showKeyInfo);

    // Undo and redo of the bank's history, here as in the main window's Edit menu.
    addAction(bankHistory().makeUndoAction(this));
    addAction(bankHistory().makeRedoAction(this));
    for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->installEventFilter(this);
    connect(&bankHistory(), &BankHistory::restored, this, &D::reloadBank);
}

bool CInstrumentEditorDlg::eventFilter(QObject* watched, QEvent* event) {
    // Not taken by the field, the keys reach the dialog's Undo and Redo.
    if (event->type() == QEvent::ShortcutOverride && isUndoOrRedo(*static_cast<QKeyEvent*>(event))) {
        event->ignore();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CInstrumentEditorDlg::reloadBank() {
    if (!initialised_) return;
    const QString sound = selectedText(*m_soundList);
    m_instrumentList->clear();
    m_soundList->clear();
    const Bank* bank = editedBank();
    if (!bank) return refreshParts();
    for (int32_t s = 0; s < bank->instrumentCount; ++s)
        if (const Instrument* instrument = bank->instruments[static_cast<size_t>(s)].get())
            insertSorted(*m_instrumentList, nameOf(instrument->name));
    const Instrument* instrument = programSlotInstrument(selectedProgram());
    if (bank->instrumentCount == 0 || !instrument) {
        m_instrumentList->setCurrentIndex(-1);
        return refreshParts();
    }
    // Showing the program's Instrument assigns nothing: it is already the program's.
    selectByPrefix(*m_instrumentList, nameOf(instrument->name));
    fillSoundList(*instrument);
    const int kept = m_soundList->findText(sound, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_soundList->setCurrentIndex(kept >= 0 ? kept : m_soundList->count() - 1);
    onSoundSelected();
}

CInstrumentEditorDlg::~CInstrumentEditorDlg() {
    // Hidden while whole, so the keyboard releases its note and the panel
    // keeps a value typed, both asking this dialog for the chosen sound.
    hide();
}

QWidget* CInstrumentEditorDlg::control(int id) const {
    switch (id) {
    case kArticulationPanel: return m_articulation;
    case kEnvelopeView: return m_envelope;
    case kKeyboard: return m_keyboard;
    default: break;
    }
    if (QWidget* own = layout_->control(id)) return own;
    return m_articulation ? m_articulation->control(id) : nullptr;
}

uint32_t CInstrumentEditorDlg::storedFading(float shown) {
    const double stored = std::trunc(static_cast<double>(shown) * 65536.0);
    if (!(stored > 0.0)) return 0;
    return static_cast<uint32_t>(std::min(stored, static_cast<double>(std::numeric_limits<uint32_t>::max())));
}

float CInstrumentEditorDlg::shownFading(uint32_t stored) {
    return static_cast<float>(static_cast<double>(stored) / 65536.0);
}

bool CInstrumentEditorDlg::updateData(bool save) {
    DataExchange dx(this, save ? DataExchange::Save : DataExchange::Load);
    const auto edit = [this](int id) { return layout_->get<QLineEdit>(id); };
    loading_ = !save;
    dx.signedInteger(edit(kRangeStart), m_rangeStart);
    dx.signedInteger(edit(kRangeEnd), m_rangeEnd);
    dx.checkBox(layout_->get<QCheckBox>(kLooped), m_looped);
    dx.signedInteger(edit(kBasicNote), m_basicNote);
    dx.unsignedInteger(edit(kFrequency), m_frequency);
    dx.unsignedInteger(edit(kLoopBegin), m_loopBegin);
    dx.unsignedInteger(edit(kLoopEnd), m_loopEnd);
    dx.number(edit(kLoopFading), m_loopFading, 0.0f, kMaxFading);
    dx.number(edit(kSustainFading), m_sustainFading, 0.0f, kMaxFading);
    dx.unsignedInteger(edit(kHoldPos), m_holdPos);
    dx.number(edit(kCutoffFading), m_cutoffFading, 0.0f, kMaxFading);
    loading_ = false;
    return !dx.failed();
}

void CInstrumentEditorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        onInitDialog();
    }
}

void CInstrumentEditorDlg::onInitDialog() {
    updateData(false);
    m_programList->setCurrentIndex(0);
    const Bank* bank = editedBank();
    if (!bank) return;
    for (int32_t s = 0; s < bank->instrumentCount; ++s)
        if (const Instrument* instrument = bank->instruments[static_cast<size_t>(s)].get())
            insertSorted(*m_instrumentList, nameOf(instrument->name));
    if (bank->instrumentCount != 0) {
        if (const Instrument* instrument = programSlotInstrument(0)) {
            selectByPrefix(*m_instrumentList, nameOf(instrument->name));
            onInstrumentSelected();
        }
    }
    refreshParts();
    m_programList->setFocus();
}

int CInstrumentEditorDlg::selectedProgram() const { return m_programList->currentIndex(); }

std::optional<CInstrumentEditorDlg::Sound> CInstrumentEditorDlg::currentSound() const {
    Instrument* instrument = programSlotInstrument(selectedProgram());
    if (m_soundList->currentIndex() < 0 || m_instrumentList->currentIndex() < 0 || !instrument) return std::nullopt;
    const std::string name = selectedText(*m_soundList).toStdString();
    for (int32_t z = 0; z < instrument->zones.count(); ++z) {
        Zone* zone = instrument->zones[z];
        if (zone && zone->wave && zone->wave->name == name) return Sound{instrument, zone};
    }
    return std::nullopt;
}

EditedSound CInstrumentEditorDlg::editedSound() const {
    EditedSound sound;
    if (m_instrumentList->currentIndex() >= 0) sound.instrument = programSlotInstrument(selectedProgram());
    if (const auto chosen = currentSound()) sound = {chosen->instrument, chosen->zone};
    return sound;
}

void CInstrumentEditorDlg::refreshParts() {
    m_articulation->load();
    m_keyboard->update();
}

void CInstrumentEditorDlg::showKeyInfo(int key, int velocity) {
    auto* info = layout_->get<QLabel>(kKeyInfo);
    if (key < 0) return info->setText(kKeyboardHint);
    info->setText(QStringLiteral("Key %1 (%2), velocity %3")
                      .arg(QString::fromStdString(KeyboardGeometry::noteName(key)))
                      .arg(key)
                      .arg(velocity));
}

void CInstrumentEditorDlg::loadSound(Instrument* instrument, Zone* zone) {
    if (!instrument || !zone) return;
    m_rangeStart = zone->rangeStart;
    m_rangeEnd = zone->rangeEnd;
    m_basicNote = zone->basicNote;
    if (const Wave* wave = zone->wave.get()) {
        m_frequency = wave->frequency;
        m_looped = wave->looped;
        m_loopBegin = static_cast<uint32_t>(wave->loopBegin);
        m_loopEnd = static_cast<uint32_t>(wave->loopEnd);
        m_holdPos = static_cast<uint32_t>(wave->holdPos);
    }
    m_loopFading = shownFading(instrument->loopFading);
    m_sustainFading = shownFading(instrument->sustainFading);
    m_cutoffFading = shownFading(instrument->cutoffFading);
    updateData(false);
}

void CInstrumentEditorDlg::fillSoundList(const Instrument& instrument) {
    m_soundList->clear();
    for (int32_t z = 0; z < instrument.zones.count(); ++z) {
        const Zone* zone = instrument.zones[z];
        if (zone && zone->wave) insertSorted(*m_soundList, nameOf(zone->wave->name));
    }
}

void CInstrumentEditorDlg::onProgramSelected() {
    const Bank* bank = editedBank();
    const Instrument* instrument = programSlotInstrument(selectedProgram());
    if (bank && bank->instrumentCount != 0 && instrument) {
        selectByPrefix(*m_instrumentList, nameOf(instrument->name));
        onInstrumentSelected();
        return;
    }
    m_instrumentList->setCurrentIndex(-1);
    m_soundList->clear();
    refreshParts();
}

void CInstrumentEditorDlg::onInstrumentSelected() {
    Bank* bank = editedBank();
    const int p = selectedProgram();
    const QString n = selectedText(*m_instrumentList);
    if (!bank || n.isEmpty() || p < 0 || p >= Bank::kProgramEntries) return;
    // Choosing an Instrument assigns it to the selected program.
    const std::string name = n.toStdString();
    int32_t matched = -1;
    for (int32_t i = 0; i < bank->instrumentCount; ++i) {
        const Instrument* instrument = bank->instruments[static_cast<size_t>(i)].get();
        if (instrument && instrument->name == name) matched = i;
    }
    if (matched < 0) return;
    if (bank->programMap[static_cast<size_t>(p)] != matched)
        bankHistory().record(assignEdit(*bank, p, matched, programListEntry(p)));
    fillSoundList(*bank->instruments[static_cast<size_t>(matched)]);
    if (m_soundList->count() > 0) m_soundList->setCurrentIndex(m_soundList->count() - 1);
    onSoundSelected();
    updateData(false);
}

void CInstrumentEditorDlg::onSoundSelected() {
    if (m_soundList->currentIndex() < 0 || m_instrumentList->currentIndex() < 0) return refreshParts();
    Instrument* instrument = programSlotInstrument(selectedProgram());
    if (instrument) {
        const std::string name = selectedText(*m_soundList).toStdString();
        for (int32_t z = 0; z < instrument->zones.count(); ++z) {
            Zone* zone = instrument->zones[z];
            if (zone && zone->wave && zone->wave->name == name) loadSound(instrument, zone);
        }
    }
    updateData(false);
    refreshParts();
}

void CInstrumentEditorDlg::onFieldChanged(int id) {
    const auto sound = currentSound();
    if (!sound) return;
    // Every keystroke validates the whole dialog; whatever fails, this
    // field's member (its last value that passed) is stored.
    updateData(true);
    storeField(id, *sound);
}

void CInstrumentEditorDlg::storeField(int id, const Sound& sound) {
    const StoredField* field = storedField(id);
    Instrument* instrument = sound.instrument;
    const Wave* wave = sound.zone->wave.get();
    if (!field || (!wave && !field->ofInstrument)) return;
    int64_t value = 0;
    switch (id) {
    case kRangeStart: value = m_rangeStart; break;
    case kRangeEnd: value = m_rangeEnd; break;
    case kBasicNote: value = m_basicNote; break;
    case kSustainFading: value = storedFading(m_sustainFading); break;
    case kLoopFading: value = storedFading(m_loopFading); break;
    case kCutoffFading: value = storedFading(m_cutoffFading); break;
    case kFrequency: value = m_frequency; break;
    case kLooped: value = m_looped; break;
    case kLoopBegin: value = static_cast<int32_t>(m_loopBegin); break;
    case kLoopEnd: value = static_cast<int32_t>(m_loopEnd); break;
    case kHoldPos: value = static_cast<int32_t>(m_holdPos); break;
    default: return;
    }
    const int64_t before = field->get(*instrument, *sound.zone);
    if (value == before) return;
    // The step finds the sound by its Wave when it runs: the Zone it is in may be another by then.
    auto store = [instrument, wave, set = field->set](int64_t v) {
        if (Zone* zone = zoneOf(*instrument, wave)) set(*instrument, *zone, v);
    };
    std::function<QString(int64_t)> show;
    if (field->ofInstrument)
        show = [](int64_t v) { return QString::number(shownFading(static_cast<uint32_t>(v))); };
    else if (id == kLooped)
        show = [](int64_t v) { return v ? QStringLiteral("on") : QStringLiteral("off"); };
    // A fading is the Instrument's, whichever of its sounds shows it.
    const EditTarget target{instrument, field->ofInstrument ? nullptr : wave};
    bankHistory().record(valueEdit(QString::fromLatin1(field->name), id, target, before, value, std::move(store),
                                   std::move(show), id != kLooped));
}

void CInstrumentEditorDlg::onInsertInstrument() {
    Bank* bank = editedBank();
    if (!bank) return;
    // The bank has 128 slots: a further Instrument is refused before its name is asked.
    if (bank->instrumentCount >= Bank::kInstrumentSlots) {
        prompter().notify(this, kBankFull);
        return;
    }
    CInstrumentNameDlg nameDialog(this);
    if (prompter().runModal(nameDialog) != QDialog::Accepted || nameDialog.m_name.isEmpty()) return;
    const QString name = nameDialog.m_name;
    for (int i = 0; i < m_instrumentList->count(); ++i) {
        if (m_instrumentList->itemText(i) == name) {
            prompter().notify(this, kDuplicateInstrument);
            return;
        }
    }
    // The new Instrument and its assignment to the program are one step.
    BankHistory::Step step(QStringLiteral("Insert Instrument ") + name);
    const int32_t before = bank->instrumentCount;
    bankHistory().record(insertInstrumentEdit(name.toStdString()));
    if (bank->instrumentCount == before) {
        prompter().notify(this, kBankFull);
        return;
    }
    m_instrumentList->setCurrentIndex(insertSorted(*m_instrumentList, name));
    onInstrumentSelected();
}

void CInstrumentEditorDlg::onDeleteInstrument() {
    Bank* bank = editedBank();
    if (!bank || m_instrumentList->count() == 0) return;
    if (!prompter().confirm(this, kDeleteInstrumentQuestion)) return;
    const int selected = m_instrumentList->currentIndex();
    if (selected < 0) return;  // nothing chosen: nothing to delete
    const std::string name = m_instrumentList->itemText(selected).toStdString();
    m_instrumentList->removeItem(selected);
    // The deletion (which cuts the voices that play its Waves) and the
    // assignment of the Instrument chosen next are one step.
    BankHistory::Step step(QStringLiteral("Delete Instrument ") + nameOf(name));
    if (const int32_t slot = bank->findInstrumentByName(name); slot >= 0)
        bankHistory().record(deleteInstrumentEdit(*bank, slot));
    if (m_instrumentList->count() == 0) {
        m_instrumentList->setCurrentIndex(-1);
        m_soundList->clear();
        refreshParts();
        return;
    }
    m_instrumentList->setCurrentIndex(0);
    onInstrumentSelected();
}

void CInstrumentEditorDlg::onInsertSound() {
    if (m_instrumentList->count() == 0) {
        prompter().notify(this, kCreateInstrumentFirst);
        return;
    }
    Instrument* instrument = programSlotInstrument(selectedProgram());
    if (selectedText(*m_instrumentList).isEmpty() || !instrument) {
        prompter().notify(this, kSelectInstrumentFirst);
        return;
    }
    const QString path = prompter().openFile(this, {QStringLiteral("*.wav"), QStringLiteral("*.wav"), kWaveFilter});
    if (path.isEmpty()) return;
    for (int i = 0; i < m_soundList->count(); ++i) {
        if (m_soundList->itemText(i) == path) {
            prompter().notify(this, kDuplicateWave);
            return;
        }
    }
    if (QFile file(path); !file.open(QIODevice::ReadOnly)) {
        prompter().notify(this, kFileNotFound);
        return;
    }
    // The Wave is read and converted outside the lock: nothing else sees it
    // until it joins the Instrument.
    auto wave = std::make_unique<Wave>();
    if (loadWaveFile(*wave, path.toStdString()) == 0) {
        prompter().notify(this, kUnreadableWave);
        return;
    }
    const uint16_t channels = wave->format.channels;
    const uint16_t bits = wave->format.bitsPerSample;
    if (channels > 2) {
        prompter().notify(this, kTooManyChannels);
        return;
    }
    if (bits != 8 && bits != 16) {
        prompter().notify(this, kNot8Or16Bit);
        return;
    }
    if (channels == 2) prompter().notify(this, kStereoNotice);
    if (bits == 8) prompter().notify(this, k8BitNotice);
    if (channels == 2 || bits == 8) convertToMono16(*wave);

    m_soundList->setCurrentIndex(insertSorted(*m_soundList, path));
    // The import is a step of the bank's history; its undo takes the sound out again.
    bankHistory().record(importSoundEdit(*instrument, std::move(wave)));
    Zone* zone = instrument->zones[instrument->zones.count() - 1];
    loadSound(instrument, zone);
    refreshParts();
}

void CInstrumentEditorDlg::onDeleteSound() {
    if (m_soundList->count() == 0) return;
    if (!prompter().confirm(this, kDeleteSoundQuestion)) return;
    const int selected = m_soundList->currentIndex();
    if (selected < 0) return;  // nothing chosen: nothing to delete
    const std::string name = m_soundList->itemText(selected).toStdString();
    m_soundList->removeItem(selected);
    if (Instrument* instrument = programSlotInstrument(selectedProgram())) {
        BankHistory::Step step(QStringLiteral("Delete Sound ") + soundName(name));
        // The last Zone moves into a freed place; the scan goes on at the next
        // position. Each removal cuts the voices that play its Wave.
        for (int32_t z = 0; z < instrument->zones.count(); ++z) {
            Zone* zone = instrument->zones[z];
            if (!zone || !zone->wave || zone->wave->name != name) continue;
            bankHistory().record(deleteSoundEdit(*instrument, z));
        }
    }
    // The fields keep showing the deleted sound until another one is chosen;
    // the articulation panel shows the sound its edits now reach.
    if (m_soundList->count() > 0)
        m_soundList->setCurrentIndex(0);
    else
        update();
    refreshParts();
}

void CInstrumentEditorDlg::onTest() {
    const auto sound = currentSound();
    if (!sound) return;
    editorPreviewId = startTestNote(sound->instrument, sound->zone);
}

void CInstrumentEditorDlg::onStop() { stopTestNote(editorPreviewId); }

void CInstrumentEditorDlg::onLoopEdit() {
    const auto sound = currentSound();
    if (!sound || !sound->zone->wave) return;
    Wave* wave = sound->zone->wave.get();
    CLoopPointEditorDlg loopEditor(this);
    loopEditor.m_wave = wave;
    loopEditor.m_instrument = sound->instrument;
    loopEditor.m_zone = sound->zone;
    const int32_t beginBefore = wave->loopBegin;
    const int32_t endBefore = wave->loopEnd;
    if (prompter().runModal(loopEditor) == QDialog::Accepted) {
        // The Loop Point Editor moved the loop in place: what it did becomes one step.
        if (wave->loopBegin != beginBefore || wave->loopEnd != endBefore)
            bankHistory().record(loopPointsEdit(*sound->instrument, *wave, beginBefore, endBefore, wave->loopBegin,
                                                wave->loopEnd));
        m_loopBegin = static_cast<uint32_t>(wave->loopBegin);
        m_loopEnd = static_cast<uint32_t>(wave->loopEnd);
        updateData(false);
        return;
    }
    auto lock = lockEngine();
    wave->loopBegin = loopEditor.m_savedLoopBegin;
    wave->loopEnd = loopEditor.m_savedLoopEnd;
}

}  // namespace tonvero
