#include "editor/ArticulationPanel.h"

#include "bank/Instrument.h"
#include "editor/ArticulationControl.h"
#include "editor/BankHistory.h"
#include "editor/DataExchange.h"
#include "editor/DialogTemplate.h"
#include "editor/EditCommands.h"
#include "editor/EditorEngine.h"
#include "editor/EnvelopeView.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <vector>

namespace tonvero {

const QString ArticulationPanel::kNoLink = QStringLiteral("Linked to: none");

namespace {

using namespace articulation_id;
using G = ArticulationGroup;

// Dialog units.
constexpr int kGroupTop = 22;
constexpr int kGroupHead = 11;  // from a group's top to its first row
constexpr int kGroupGap = 4;
constexpr int kRowPitch = 14;
constexpr int kEditWidth = 30;
constexpr int kEditHeight = 12;

// A column of groups, with the widths its labels and units need.
struct Column {
    int x;
    int labelWidth;
    int unitWidth;
    std::vector<G> groups;
};

const std::vector<Column>& columns() {
    static const std::vector<Column> c = {
        {4, 44, 22, {G::VolumeEnvelope, G::Filter}},
        {115, 44, 22, {G::ModulationEnvelope}},
        {226, 36, 18, {G::ModulationLfo, G::VibratoLfo}},
        {325, 50, 34, {G::Tone, G::Playing}},
    };
    return c;
}

std::vector<ControlLayout> panelControls() {
    using K = ControlKind;
    std::vector<ControlLayout> c;
    c.push_back({K::CheckBox, kArticulation, QStringLiteral("&Articulation"), 4, 6, 56, 10});
    c.push_back({K::Label, kLinkedTo, ArticulationPanel::kNoLink, 66, 7, ArticulationPanel::kWidth - 70, 8});
    for (const Column& column : columns()) {
        const int width = 4 + column.labelWidth + 2 + kEditWidth + 2 + column.unitWidth + 3;
        int top = kGroupTop;
        for (G group : column.groups) {
            int rows = 0;
            for (const ArticulationControl& f : articulationControls()) rows += f.group == group ? 1 : 0;
            const int extra = group == G::Playing ? 1 : 0;  // "Tail on release"
            const int height = kGroupHead + (rows + extra) * kRowPitch + 2;
            c.push_back(
                {K::GroupBox, 0, QString::fromLatin1(articulationGroupTitle(group)), column.x, top, width, height});
            int y = top + kGroupHead;
            for (const ArticulationControl& f : articulationControls()) {
                if (f.group != group) continue;
                const int labelX = column.x + 4;
                const int editX = labelX + column.labelWidth + 2;
                c.push_back({K::RightLabel, 0, QString::fromLatin1(f.label), labelX, y + 2, column.labelWidth, 8});
                c.push_back({K::Edit, f.id, {}, editX, y, kEditWidth, kEditHeight});
                c.push_back(
                    {K::Label, 0, QString::fromLatin1(f.unitText), editX + kEditWidth + 2, y + 2, column.unitWidth, 8});
                y += kRowPitch;
            }
            if (extra)
                c.push_back({K::CheckBox, kTailOnRelease, QStringLiteral("Tail on release"), column.x + 6, y + 1,
                             width - 10, 10});
            top += height + kGroupGap;
        }
    }
    return c;
}

// The unit a field is read in now: the velocity range keeps its low end at
// or below its high end.
FieldUnit unitFor(const ArticulationControl& field, const ZoneArticulation& a) {
    if (field.id == kVelocityLow) return FieldUnit::integer(0, a.velocityHigh);
    if (field.id == kVelocityHigh) return FieldUnit::integer(a.velocityLow, 127);
    return field.unit;
}

// The property that names a field's id on its edit.
constexpr const char* kFieldProperty = "articulationField";

bool isVolumeEnvelope(const ArticulationControl& field) { return field.group == G::VolumeEnvelope; }

// A field's name in a step: "Volume envelope Attack", "Pan".
QString stepName(const ArticulationControl& field) {
    const QString label = QString::fromLatin1(field.label);
    if (field.group == G::Tone || field.group == G::Playing) return label;
    return QString::fromLatin1(articulationGroupTitle(field.group)) + QLatin1Char(' ') + label;
}

// Writes one articulation value of the sound that plays `wave`.
std::function<void(int64_t)> storeInto(Instrument* instrument, const Wave* wave,
                                       int32_t& (*member)(ZoneArticulation&)) {
    return [instrument, wave, member](int64_t value) {
        if (Zone* zone = zoneOf(*instrument, wave); zone && zone->articulation)
            member(*zone->articulation) = static_cast<int32_t>(value);
    };
}

}  // namespace

ArticulationPanel::ArticulationPanel(EditedSoundSource source, QWidget* parent)
    : QWidget(parent), source_(std::move(source)) {
    layout_ = std::make_unique<DialogTemplate>(*this, panelControls());
    for (const ArticulationControl& f : articulationControls()) {
        auto* edit = layout_->get<QLineEdit>(f.id);
        edit->setProperty(kFieldProperty, f.id);
        edit->installEventFilter(this);
        if (f.tip) edit->setToolTip(QString::fromLatin1(f.tip));
    }
    connect(layout_->get<QCheckBox>(kArticulation), &QCheckBox::clicked, this,
            &ArticulationPanel::onArticulationClicked);
    connect(layout_->get<QCheckBox>(kTailOnRelease), &QCheckBox::clicked, this,
            &ArticulationPanel::onTailOnReleaseClicked);
    layout_->get<QCheckBox>(kArticulation)
        ->setToolTip(QStringLiteral("Shape the sound with envelopes, filter, LFOs and the values beside"));
    layout_->get<QCheckBox>(kTailOnRelease)
        ->setToolTip(QStringLiteral("A looped sound leaves its loop at note-off and plays on to its end"));
    load();
}

ArticulationPanel::~ArticulationPanel() = default;

QWidget* ArticulationPanel::control(int id) const { return layout_->control(id); }

void ArticulationPanel::attachEnvelopeView(EnvelopeView* view) {
    envelopeView_ = view;
    connect(view, &EnvelopeView::dragged, this, &ArticulationPanel::onEnvelopeDragged);
    connect(view, &EnvelopeView::dragStarted, this, [this] { ++drag_; });
    showEnvelope();
}

ZoneArticulation* ArticulationPanel::articulation() const {
    const EditedSound sound = source_ ? source_() : EditedSound{};
    return sound.zone ? sound.zone->articulation.get() : nullptr;
}

void ArticulationPanel::load() {
    const EditedSound sound = source_ ? source_() : EditedSound{};
    const ZoneArticulation* a = sound.zone ? sound.zone->articulation.get() : nullptr;
    const ZoneArticulation values = a ? *a : ZoneArticulation{};
    auto* box = layout_->get<QCheckBox>(kArticulation);
    box->setEnabled(sound.zone != nullptr);
    box->setChecked(a != nullptr);
    for (const ArticulationControl& f : articulationControls()) {
        showField(f, values);
        control(f.id)->setEnabled(a != nullptr);
    }
    auto* tail = layout_->get<QCheckBox>(kTailOnRelease);
    tail->setChecked(values.tailOnRelease);
    tail->setEnabled(a != nullptr);
    showLink();
    showEnvelope();
}

void ArticulationPanel::showField(const ArticulationControl& field, const ZoneArticulation& values) {
    ZoneArticulation copy = values;
    int32_t held = field.member(copy);
    DataExchange dx(this, DataExchange::Load);
    auto* edit = layout_->get<QLineEdit>(field.id);
    dx.unitValue(edit, held, field.unit);
    shown_[field.id] = edit->text();
}

void ArticulationPanel::showEnvelope() {
    if (!envelopeView_) return;
    const ZoneArticulation* a = articulation();
    envelopeView_->setEnvelope(a ? a->volumeEnvelope : EnvelopeSettings{}, a != nullptr);
}

void ArticulationPanel::showLink() {
    const EditedSound sound = source_ ? source_() : EditedSound{};
    const ZoneArticulation* a = sound.zone ? sound.zone->articulation.get() : nullptr;
    QString name;
    if (a && sound.instrument && a->linkedZone >= 0)
        if (const Zone* other = sound.instrument->zones[a->linkedZone]; other && other->wave)
            name = QString::fromStdString(other->wave->name);
    auto* label = layout_->get<QLabel>(kLinkedTo);
    label->setToolTip(name.isEmpty() ? QString() : QStringLiteral("Plays the other side of a stereo sound: ") + name);
    if (name.isEmpty()) return label->setText(kNoLink);
    // A sound's name is its file's full path: the middle gives way when it is too long.
    const QString prefix = QStringLiteral("Linked to: ");
    const int room = label->width() - label->fontMetrics().horizontalAdvance(prefix);
    label->setText(prefix + label->fontMetrics().elidedText(name, Qt::ElideMiddle, room));
}

void ArticulationPanel::onArticulationClicked() {
    const EditedSound sound = source_ ? source_() : EditedSound{};
    const bool on = layout_->get<QCheckBox>(kArticulation)->isChecked();
    if (sound.instrument && sound.zone && sound.zone->wave && on != (sound.zone->articulation != nullptr))
        bankHistory().record(articulationEdit(*sound.instrument, *sound.zone->wave, on));
    load();
}

void ArticulationPanel::onTailOnReleaseClicked() {
    ZoneArticulation* a = articulation();
    const EditedSound sound = source_ ? source_() : EditedSound{};
    if (!a || !sound.instrument || !sound.zone->wave) return load();
    const bool on = layout_->get<QCheckBox>(kTailOnRelease)->isChecked();
    if (on == a->tailOnRelease) return;
    Instrument* instrument = sound.instrument;
    const Wave* wave = sound.zone->wave.get();
    bankHistory().record(valueEdit(
        QStringLiteral("Tail on release"), kTailOnRelease, {instrument, wave}, a->tailOnRelease ? 1 : 0, on ? 1 : 0,
        [instrument, wave](int64_t value) {
            if (Zone* zone = zoneOf(*instrument, wave); zone && zone->articulation)
                zone->articulation->tailOnRelease = value != 0;
        },
        [](int64_t value) { return value ? QStringLiteral("on") : QStringLiteral("off"); }, false));
}

void ArticulationPanel::onFieldCommitted(int id) { commit(id, true); }

bool ArticulationPanel::commit(int id, bool tell) {
    const ArticulationControl* field = articulationControl(id);
    ZoneArticulation* a = articulation();
    if (committing_ || !field || !a) return true;
    auto* edit = layout_->get<QLineEdit>(id);
    if (edit->text() == shown_.value(id)) return true;  // nothing typed since it was shown
    const FieldUnit unit = unitFor(*field, *a);
    int32_t held = field->member(*a);
    if (tell) {
        committing_ = true;
        DataExchange dx(this, DataExchange::Save);
        dx.unitValue(edit, held, unit);
        committing_ = false;
        if (dx.failed()) return false;
    } else if (const auto value = unit.read(edit->text())) {
        held = *value;
    } else {
        return false;
    }
    const EditedSound sound = source_ ? source_() : EditedSound{};
    if (held != field->member(*a) && sound.instrument && sound.zone && sound.zone->wave) {
        const Wave* wave = sound.zone->wave.get();
        const QString unitText = QString::fromLatin1(field->unitText);
        const FieldUnit shownUnit = field->unit;
        bankHistory().record(valueEdit(stepName(*field), id, {sound.instrument, wave}, field->member(*a), held,
                                       storeInto(sound.instrument, wave, field->member),
                                       [shownUnit, unitText](int64_t value) {
                                           const QString number = shownUnit.format(static_cast<int32_t>(value));
                                           return unitText.isEmpty() ? number : number + QLatin1Char(' ') + unitText;
                                       }));
    }
    showField(*field, *a);
    if (isVolumeEnvelope(*field)) showEnvelope();
    return true;
}

void ArticulationPanel::onEnvelopeDragged(const EnvelopeSettings& envelope) {
    ZoneArticulation* a = articulation();
    const EditedSound sound = source_ ? source_() : EditedSound{};
    if (!a || !sound.instrument || !sound.zone->wave) return;
    // The drag sets the times and the sustain level; the key scalings stay.
    bankHistory().record(envelopeDragEdit(*sound.instrument, *sound.zone->wave, envelope, drag_));
    for (const ArticulationControl& f : articulationControls())
        if (isVolumeEnvelope(f)) showField(f, *a);
}

bool ArticulationPanel::eventFilter(QObject* watched, QEvent* event) {
    const int id = watched->property(kFieldProperty).toInt();
    if (id != 0 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // A refused value keeps its Enter from pressing the dialog's Test.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !commit(id, true)) return true;
    } else if (id != 0 && event->type() == QEvent::FocusOut) {
        // Leaving for another control takes the value; a window or a popup
        // taking the focus for a moment (a message among them) does not.
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::MouseFocusReason:
        case Qt::ShortcutFocusReason: commit(id, true); break;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ArticulationPanel::hideEvent(QHideEvent* event) {
    for (const ArticulationControl& f : articulationControls()) commit(f.id, false);
    QWidget::hideEvent(event);
}

}  // namespace tonvero
