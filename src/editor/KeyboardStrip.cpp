#include "editor/KeyboardStrip.h"

#include "bank/Bank.h"
#include "editor/EditorEngine.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace tonvero {

namespace {

struct KeyColours {
    QColor plain, unheld, inRange;
};
const KeyColours kWhite{QColor(255, 255, 255), QColor(205, 205, 205), QColor(208, 225, 250)};
const KeyColours kBlack{QColor(25, 25, 25), QColor(120, 120, 120), QColor(35, 65, 130)};
const QColor kPressed(255, 165, 50);

}  // namespace

KeyboardStrip::KeyboardStrip(EditedSoundSource source, QWidget* parent) : QWidget(parent), source_(std::move(source)) {
    // A click takes the focus, so a value typed into a field is taken before the key sounds.
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
    setToolTip(QStringLiteral("Press a key to hear the instrument: lower on a key plays louder"));
}

KeyboardStrip::~KeyboardStrip() {
    // No one is told any more: the dialog is going too.
    if (noteId_ > 0) stopTestNote(noteId_);
}

KeyboardGeometry KeyboardStrip::geometry() const {
    KeyboardGeometry g;
    g.area = {0, 0, width(), height()};
    return g;
}

void KeyboardStrip::play(int32_t key, int32_t velocity) {
    release();
    key_ = key;
    velocity_ = velocity;
    const EditedSound sound = source_ ? source_() : EditedSound{};
    const int32_t id = startKeyNote(sound.instrument, key, velocity);
    noteId_ = id > 0 ? id : 0;
    update();
    emit played(key, velocity);
}

void KeyboardStrip::release() {
    if (key_ < 0) return;
    if (noteId_ > 0) stopTestNote(noteId_);
    key_ = -1;
    velocity_ = 0;
    noteId_ = 0;
    update();
    emit played(-1, 0);
}

void KeyboardStrip::follow(const QPoint& at) {
    const KeyboardGeometry g = geometry();
    const auto key = g.keyAt(at.x(), at.y());
    if (!key) return release();
    if (*key != key_) play(*key, g.velocityAt(*key, at.y()));
}

void KeyboardStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    held_ = true;
    release();
    follow(event->position().toPoint());
}

void KeyboardStrip::mouseMoveEvent(QMouseEvent* event) {
    if (!held_) return;
    // The button went up where the strip did not see it (a message took the mouse): the note ends.
    if (!(event->buttons() & Qt::LeftButton)) {
        held_ = false;
        return release();
    }
    follow(event->position().toPoint());
}

void KeyboardStrip::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    held_ = false;
    release();
}

void KeyboardStrip::leaveEvent(QEvent* event) {
    release();
    QWidget::leaveEvent(event);
}

void KeyboardStrip::hideEvent(QHideEvent* event) {
    held_ = false;
    release();
    QWidget::hideEvent(event);
}

void KeyboardStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const KeyboardGeometry g = geometry();
    const EditedSound sound = source_ ? source_() : EditedSound{};
    const auto colour = [&](int32_t key, const KeyColours& c) {
        if (key == key_) return kPressed;
        if (!Bank::findZone(sound.instrument, key)) return c.unheld;
        if (sound.zone && key >= sound.zone->rangeStart && key <= sound.zone->rangeEnd) return c.inRange;
        return c.plain;
    };
    painter.setPen(QColor(90, 90, 90));
    const QFontMetrics metrics = fontMetrics();
    for (int32_t key = 0; key < KeyboardGeometry::kKeys; ++key) {
        if (KeyboardGeometry::isBlack(key)) continue;
        const PixelRect r = g.keyRect(key);
        const QRect box(r.left, r.top, r.width(), r.height());
        painter.fillRect(box, colour(key, kWhite));
        painter.drawRect(box.adjusted(0, 0, 0, -1));
        // Every C is named, where the name fits.
        const QString name = QString::fromStdString(KeyboardGeometry::noteName(key));
        if (key % 12 == 0 && metrics.horizontalAdvance(name) <= r.width())
            painter.drawText(box.adjusted(0, 0, 0, -2), Qt::AlignHCenter | Qt::AlignBottom, name);
    }
    for (int32_t key = 1; key < KeyboardGeometry::kKeys; ++key) {
        if (!KeyboardGeometry::isBlack(key)) continue;
        const PixelRect r = g.keyRect(key);
        painter.fillRect(QRect(r.left, r.top, r.width(), r.height()), colour(key, kBlack));
    }
    // The chosen sound's basic note: a dot near the key's top.
    if (sound.zone && sound.zone->basicNote >= 0 && sound.zone->basicNote < KeyboardGeometry::kKeys) {
        const PixelRect r = g.keyRect(sound.zone->basicNote);
        const int32_t size = std::max(3, r.width() / 3);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 40, 40));
        painter.drawEllipse(QRect(r.left + (r.width() - size) / 2, r.top + 3, size, size));
    }
}

}  // namespace tonvero
