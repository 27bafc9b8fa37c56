#include "editor/CInstrumentEditorDlg.h"

#include "bank/Bank.h"
#include "bank/LoopFinder.h"
#include "bank/NoteName.h"
#include "bank/PitchEstimate.h"
#include "bank/SampleFile.h"
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
#include <QFileInfo>
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
const QString D::kWaveFilter = QStringLiteral(
    "Sound files (*.wav *.aif *.aiff *.flac *.ogg *.oga *.opus "
    "*.mp3)|*.wav;*.aif;*.aiff;*.flac;*.ogg;*.oga;*.opus;*.mp3|"
    "RIFF wav files (*.wav)|*.wav||");
const QString D::kStereoPairQuestion = QStringLiteral(
    "This is a stereo audio file. Import it as a linked stereo pair of sounds?\n(No mixes it into one mono sound.)");
const QString D::kMixedDownNotice =
    QStringLiteral("This file has more than two audio channels. They will be mixed into one mono sound.");
const QString D::kNoPitchFound = QStringLiteral("No steady pitch could be found in this sound.");
const QString D::kNoLoopFound = QStringLiteral("No loop could be found in this sound: it is too short or silent.");
const QString D::kCrossfadeQuestion = QStringLiteral(
    "The ends of the best loop found do not match closely (%1 %). Smooth the loop with a crossfade?\n"
    "(The crossfade is written into a copy of the sound's samples; Undo brings the old ones back.)");
const QString D::kKeyboardHint =
    QStringLiteral("Press a key to hear the instrument at that key: lower on a key plays louder.");

namespace {

constexpr float kMaxFading = 1000.0f;

// The dialog's parts beside and under the fields, in dialog units.
constexpr int kFieldsWidth = 292;
constexpr int kWidth = kFieldsWidth + ArticulationPanel::kWidth;
constexpr int kEnvelopeTop = 197;
constexpr int kEnvelopeHeight = 76;
constexpr int kKeyInfoTop = kEnvelopeTop + kEnvelopeHeight + 5;
constexpr int kKeyboardTop = kKeyInfoTop + 11;
constexpr int kKeyboardHeight = 44;
constexpr int kHeight = kKeyboardTop + kKeyboardHeight + 7;

DialogLayout editorLayout() {
    using K = ControlKind;
    const auto label = [](const char* text, int x, int y, int w, int h) {
        return ControlLayout{K::Label, 0, QString::fromLatin1(text), x, y, w, h};
    };
    const auto edit = [](int id, int x, int y) { return ControlLayout{K::Edit, id, {}, x, y, 40, 14}; };
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
                {K::Label, D::kRangeStartNote, {}, 260, 13, 30, 8},
                label("R&ange End", 173, 29, 37, 8),
                edit(D::kRangeEnd, 217, 26),
                {K::Label, D::kRangeEndNote, {}, 260, 29, 30, 8},
                label("&Basic Note", 174, 44, 36, 8),
                edit(D::kBasicNote, 217, 42),
                {K::Label, D::kBasicNoteName, {}, 260, 44, 30, 8},
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
                {K::PushButton, D::kFindPitch, QStringLiteral("Find Pitch"), 171, 182, 46, 12},
                {K::PushButton, D::kFindLoop, QStringLiteral("Find Loop"), 221, 182, 46, 12},
                {K::Custom,
                 D::kArticulationPanel,
                 {},
                 kFieldsWidth,
                 0,
                 ArticulationPanel::kWidth,
                 ArticulationPanel::kHeight},
                {K::Custom, D::kEnvelopeView, {}, 8, kEnvelopeTop, kWidth - 16, kEnvelopeHeight},
                {K::Label, D::kKeyInfo, D::kKeyboardHint, 8, kKeyInfoTop, kWidth - 16, 8},
                {K::Custom, D::kKeyboard, {}, 8, kKeyboardTop, kWidth - 16, kKeyboardHeight},
            }};
}

constexpr int kEditIds[] = {D::kRangeStart, D::kRangeEnd,      D::kBasicNote,  D::kFrequency, D::kLoopBegin,
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

template <typename T>
T as(int64_t value) {
    return static_cast<T>(value);
}

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
    layout_ = std::make_unique<DialogTemplate>(*this, editorLayout());
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
    clicked(kFindPitch, &D::onFindPitch);
    clicked(kFindLoop, &D::onFindLoop);
    enableProgramSearch(m_programList);
    // Only the user's choices reach the selection handlers (a choice made in
    // code, like selecting a name, does not notify).
    connect(m_programList, &QComboBox::activated, this, &D::onProgramSelected);
    connect(m_instrumentList, &QComboBox::activated, this, &D::onInstrumentSelected);
    connect(m_soundList, &QComboBox::activated, this, &D::onSoundSelected);
    // The whole of the chosen entry shows as its tip; a sound imported here
    // shows the full path of its file.
    for (QComboBox* list : {m_instrumentList, m_soundList})
        connect(list, &QComboBox::currentIndexChanged, list, [list](int index) {
            const QVariant path = list->itemData(index, Qt::ToolTipRole);
            list->setToolTip(path.isValid() ? path.toString() : list->itemText(index));
        });
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
    showNoteNames();
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
    showNoteNames();
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
    // A sound is named by its file's name; the sound list tells sounds apart by it.
    const QString name = QFileInfo(path).fileName();
    for (int i = 0; i < m_soundList->count(); ++i) {
        if (m_soundList->itemText(i) == name) {
            prompter().notify(this, kDuplicateWave);
            return;
        }
    }
    if (QFile file(path); !file.open(QIODevice::ReadOnly)) {
        prompter().notify(this, kFileNotFound);
        return;
    }
    // The Waves are read and converted outside the lock: nothing else sees
    // them until they join the Instrument.
    std::vector<std::unique_ptr<Zone>> zones;
    if (!readSound(path, zones)) return;
    m_soundList->setCurrentIndex(-1);
    for (const auto& zone : zones) {
        const int at = insertSorted(*m_soundList, nameOf(zone->wave->name));
        m_soundList->setItemData(at, path, Qt::ToolTipRole);
    }
    // The import is a step of the bank's history; its undo takes the sound out again.
    const int32_t first = instrument->zones.count();
    {
        BankHistory::Step step(QStringLiteral("Import ") + name);
        for (auto& zone : zones) bankHistory().record(importZoneEdit(*instrument, std::move(zone)));
    }
    Zone* zone = instrument->zones[first];
    m_soundList->setCurrentIndex(m_soundList->findText(nameOf(zone->wave->name)));
    loadSound(instrument, zone);
    refreshParts();
}

bool CInstrumentEditorDlg::readSound(const QString& path, std::vector<std::unique_ptr<Zone>>& zones) {
    const std::string name = QFileInfo(path).fileName().toStdString();
    const auto zoneOf = [&](std::vector<int16_t> samples, uint32_t rate, const std::string& waveName) {
        auto zone = std::make_unique<Zone>();
        zone->wave = std::make_unique<Wave>();
        zone->wave->setSamples(samples);
        zone->wave->frequency = rate;
        zone->wave->updateFormat();
        zone->wave->name = waveName;
        return zone;
    };
    // 8- and 16-bit PCM WAV files of one or two channels are read as they always were.
    auto wave = std::make_unique<Wave>();
    if (loadWaveFile(*wave, path.toStdString()) != 0 && wave->format.channels <= 2 &&
        (wave->format.bitsPerSample == 8 || wave->format.bitsPerSample == 16)) {
        if (wave->format.channels == 2) prompter().notify(this, kStereoNotice);
        if (wave->format.bitsPerSample == 8) prompter().notify(this, k8BitNotice);
        if (wave->format.channels == 2 || wave->format.bitsPerSample == 8) convertToMono16(*wave);
        wave->name = name;
        auto zone = std::make_unique<Zone>();
        zone->wave = std::move(wave);
        proposeTuning(*zone, std::nullopt, 0);
        zones.push_back(std::move(zone));
        return true;
    }
    // Anything else libsndfile reads: deeper samples dithered to 16 bits.
    SampleFileResult read = readSampleFile(path.toStdString());
    if (!read.ok()) {
        prompter().notify(this, kUnreadableWave + QStringLiteral("\n") + QString::fromStdString(name) +
                                    QStringLiteral(" ") + QString::fromStdString(read.error) + QStringLiteral("."));
        return false;
    }
    SampleFile& sound = read.sound;
    const auto rate = static_cast<uint32_t>(sound.sampleRate);
    if (sound.mixedDown) prompter().notify(this, kMixedDownNotice);
    if (sound.channels == 2 && prompter().confirm(this, kStereoPairQuestion)) {
        // Two sounds over the same keys, panned apart and linked, so the
        // Studio mixer plays them as one stereo sound.
        zones.push_back(zoneOf(std::move(sound.left), rate, name + " (left)"));
        zones.push_back(zoneOf(std::move(sound.right), rate, name + " (right)"));
    } else {
        zones.push_back(zoneOf(std::move(sound.mono), rate, name));
    }
    for (auto& zone : zones) {
        if (sound.loop) {
            zone->wave->looped = 1;
            zone->wave->loopBegin = sound.loop->begin;
            zone->wave->loopEnd = sound.loop->end;
        }
        proposeTuning(*zone, sound.rootKey, sound.detuneCents);
    }
    if (zones.size() == 2) {
        const int32_t first = programSlotInstrument(selectedProgram())->zones.count();
        for (int side = 0; side < 2; ++side) {
            auto articulation = std::make_unique<ZoneArticulation>();
            articulation->pan = side == 0 ? -500 : 500;
            articulation->linkedZone = first + 1 - side;
            zones[static_cast<size_t>(side)]->articulation = std::move(articulation);
        }
        // Both sides play at the pitch found in the left one.
        zones[1]->basicNote = zones[0]->basicNote;
        zones[1]->wave->frequency = zones[0]->wave->frequency;
    }
    return true;
}

void CInstrumentEditorDlg::proposeTuning(Zone& zone, std::optional<int32_t> rootKey, int32_t detuneCents) {
    Wave& wave = *zone.wave;
    // The file's own root note first, then the pitch heard in the samples,
    // then a note named at the end of the file's name.
    if (rootKey) {
        zone.basicNote = *rootKey;
        wave.frequency = static_cast<uint32_t>(std::lround(wave.frequency * std::pow(2.0, -detuneCents / 1200.0)));
        return;
    }
    if (const auto pitch = estimatePitch(wave.samples.span(), wave.frequency)) {
        const TuningProposal tuning = tonvero::proposeTuning(wave.frequency, pitch->hz);
        zone.basicNote = tuning.basicNote;
        wave.frequency = tuning.frequency;
        return;
    }
    if (const auto named = findNoteNameAtEnd(wave.name)) zone.basicNote = *named;
}

void CInstrumentEditorDlg::onFindPitch() {
    const auto sound = currentSound();
    if (!sound || !sound->zone->wave) return;
    const Wave& wave = *sound->zone->wave;
    // The samples sound at `frequency` at the basic note: the pitch found
    // there gives the key and frequency that put the basic note in tune.
    const auto pitch = estimatePitch(wave.samples.span(), wave.frequency);
    if (!pitch) {
        prompter().notify(this, kNoPitchFound);
        return;
    }
    const TuningProposal tuning = tonvero::proposeTuning(wave.frequency, pitch->hz);
    // Typed into the fields as the user would, as one step.
    BankHistory::Step step(QStringLiteral("Find Pitch ") + soundName(wave.name));
    layout_->get<QLineEdit>(kBasicNote)->setText(QString::number(tuning.basicNote));
    layout_->get<QLineEdit>(kFrequency)->setText(QString::number(tuning.frequency));
}

void CInstrumentEditorDlg::onFindLoop() {
    const auto sound = currentSound();
    if (!sound || !sound->zone->wave) return;
    Wave& wave = *sound->zone->wave;
    LoopSearch search;
    if (const auto pitch = estimatePitch(wave.samples.span(), wave.frequency))
        search.period = wave.frequency / pitch->hz;
    const auto loop = findLoop(wave.samples.span(), search);
    if (!loop) {
        prompter().notify(this, kNoLoopFound);
        return;
    }
    BankHistory::Step step(QStringLiteral("Find Loop ") + soundName(wave.name));
    if (loop->score < kGoodLoopScore &&
        prompter().confirm(this, kCrossfadeQuestion.arg(std::lround(std::max(0.0, loop->score) * 100)))) {
        const int32_t fade = std::min(loop->loopBegin, (loop->loopEnd - loop->loopBegin + 1) / 2);
        bankHistory().record(
            samplesEdit(QStringLiteral("Crossfade Loop ") + soundName(wave.name), *sound->instrument, wave,
                        SampleData(crossfadeLoop(wave.samples.span(), loop->loopBegin, loop->loopEnd, fade))));
    }
    bankHistory().record(
        loopPointsEdit(*sound->instrument, wave, wave.loopBegin, wave.loopEnd, loop->loopBegin, loop->loopEnd));
    if (!wave.looped) {
        layout_->get<QCheckBox>(kLooped)->setChecked(true);
        onFieldChanged(kLooped);
    }
    loadSound(sound->instrument, sound->zone);
    refreshParts();
}

void CInstrumentEditorDlg::showNoteNames() {
    const auto show = [this](int id, int32_t key) {
        layout_->get<QLabel>(id)->setText(QString::fromStdString(noteName(key)));
    };
    show(kRangeStartNote, m_rangeStart);
    show(kRangeEndNote, m_rangeEnd);
    show(kBasicNoteName, m_basicNote);
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
            bankHistory().record(
                loopPointsEdit(*sound->instrument, *wave, beginBefore, endBefore, wave->loopBegin, wave->loopEnd));
        m_loopBegin = static_cast<uint32_t>(wave->loopBegin);
        m_loopEnd = static_cast<uint32_t>(wave->loopEnd);
        updateData(false);
        return;
    }
    EditorEngineLock lock;
    wave->loopBegin = loopEditor.m_savedLoopBegin;
    wave->loopEnd = loopEditor.m_savedLoopEnd;
}

}  // namespace tonvero
