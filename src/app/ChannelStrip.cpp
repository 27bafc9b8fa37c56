#include "app/ChannelStrip.h"

#include "app/ChannelNames.h"
#include "editor/KeyboardGeometry.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

constexpr int kGap = 6;
constexpr int kNumberWidth = 20;
constexpr int kMinNameWidth = 70;
constexpr int kMeterWidth = 64;
constexpr int kWhiteKeyWidth = 4;
constexpr int kKeysWidth = KeyboardGeometry::kWhiteKeys * kWhiteKeyWidth;
constexpr int kVolumeWidth = 28;
constexpr int kPanWidth = 30;
constexpr int kRowHeight = 18;

// The meter shows 48 dB below full scale.
constexpr float kMeterFloorDb = -48.0f;
// Amplitude falls by 20 dB a second: a factor of ten.
constexpr double kFallPerSecond = 10.0;
constexpr double kPeakHoldSeconds = 1.0;
constexpr float kSilent = 0.001f;  // -60 dB: the meter is empty below

const QColor kWhiteKey(250, 250, 246);
const QColor kBlackKey(40, 40, 40);
const QColor kSoundingWhite(255, 150, 40);
const QColor kSoundingBlack(200, 95, 0);

// The part of the meter's width a level fills, 0..1.
double meterFraction(float level) {
    if (level <= kSilent) return 0;
    const double db = 20.0 * std::log10(std::min(level, 1.0f));
    return std::clamp((db - kMeterFloorDb) / -kMeterFloorDb, 0.0, 1.0);
}

bool keySounds(const ChannelActivity& activity, int key) {
    return (activity.keys[static_cast<size_t>(key / 64)] >> (key % 64)) & 1;
}

KeyboardGeometry keyboardIn(const QRect& keys) {
    KeyboardGeometry geometry;
    geometry.area = {keys.left(), keys.top(), keys.left() + keys.width(), keys.top() + keys.height()};
    return geometry;
}

QRect toRect(const PixelRect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

QString panText(int pan) {
    if (pan == 64) return QStringLiteral("C");
    return pan < 64 ? QStringLiteral("L%1").arg(64 - pan) : QStringLiteral("R%1").arg(pan - 64);
}

}  // namespace

ChannelColumns ChannelColumns::forRow(int width, int height) {
    ChannelColumns c;
    const int inner = std::max(1, height - 4);
    const int fixedRight = kMeterWidth + kKeysWidth + kVolumeWidth + kPanWidth + 4 * kGap + 2;
    c.number = QRect(2, 0, kNumberWidth, height);
    const int nameLeft = c.number.right() + 1 + kGap;
    const int nameWidth = std::max(kMinNameWidth, width - fixedRight - nameLeft - kGap);
    c.name = QRect(nameLeft, 0, nameWidth, height);
    int x = c.name.right() + 1 + kGap;
    c.meter = QRect(x, 2 + inner / 4, kMeterWidth, std::max(1, inner / 2));
    x += kMeterWidth + kGap;
    c.keys = QRect(x, 2, kKeysWidth, inner);
    x += kKeysWidth + kGap;
    c.volume = QRect(x, 0, kVolumeWidth, height);
    x += kVolumeWidth + kGap;
    c.pan = QRect(x, 0, kPanWidth, height);
    return c;
}

ChannelStrip::ChannelStrip(int channel, QWidget* parent) : QWidget(parent), channel_(channel) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    name_ = programName(0);
    shown_.drums = channel == 9;
    if (shown_.drums) name_ = drumKitName(0);
}

QSize ChannelStrip::sizeHint() const {
    const ChannelColumns c = ChannelColumns::forRow(0, kRowHeight);
    return QSize(c.pan.right() + 1 + kGap + 80, kRowHeight);
}

QSize ChannelStrip::minimumSizeHint() const {
    const ChannelColumns c = ChannelColumns::forRow(0, kRowHeight);
    return QSize(c.pan.right() + 1 + 2, kRowHeight);
}

void ChannelStrip::showActivity(const ChannelActivity& activity, double elapsedSeconds) {
    const double fall = std::pow(kFallPerSecond, -std::max(0.0, elapsedSeconds));
    const float level = std::isfinite(activity.level) ? std::clamp(activity.level, 0.0f, 1.0f) : 0.0f;
    float meter = std::max(level, static_cast<float>(meter_ * fall));
    if (meter < kSilent) meter = 0;
    float peak = peak_;
    if (level >= peak) {
        peak = level;
        peakAge_ = 0;
    } else {
        peakAge_ += elapsedSeconds;
        if (peakAge_ > kPeakHoldSeconds) peak = static_cast<float>(peak * fall);
        if (peak < kSilent) peak = 0;
    }
    const bool changed = meter != meter_ || peak != peak_ || activity.program != shown_.program ||
                         activity.drums != shown_.drums || activity.volume != shown_.volume ||
                         activity.pan != shown_.pan || activity.keys != shown_.keys || activity.muted != shown_.muted ||
                         activity.soloed != shown_.soloed || activity.audible != shown_.audible;
    if (activity.program != shown_.program || activity.drums != shown_.drums) name_ = channelSoundName(activity);
    shown_ = activity;
    meter_ = meter;
    peak_ = peak;
    if (changed) update();
}

void ChannelStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    columns_ = ChannelColumns::forRow(width(), height());
    drawBackdrop();
}

void ChannelStrip::drawBackdrop() {
    backdrop_ = QPixmap(size() * devicePixelRatioF());
    backdrop_.setDevicePixelRatio(devicePixelRatioF());
    const QColor row = palette().color(channel_ % 2 ? QPalette::AlternateBase : QPalette::Base);
    backdrop_.fill(row);
    QPainter p(&backdrop_);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(columns_.number, Qt::AlignRight | Qt::AlignVCenter, QString::number(channel_ + 1));
    // The meter's empty track.
    p.fillRect(columns_.meter, QColor(30, 34, 30));
    // The keyboard with no key sounding: white keys, then the black keys over them.
    const KeyboardGeometry keyboard = keyboardIn(columns_.keys);
    p.fillRect(columns_.keys, kWhiteKey);
    p.setPen(QColor(170, 170, 165));
    for (int key = 0; key < KeyboardGeometry::kKeys; ++key)
        if (!KeyboardGeometry::isBlack(key) && key % 12 == 0) {
            const QRect r = toRect(keyboard.keyRect(key));
            p.drawLine(r.left(), r.top(), r.left(), r.bottom());  // a line at each C
        }
    for (int key = 0; key < KeyboardGeometry::kKeys; ++key)
        if (KeyboardGeometry::isBlack(key)) p.fillRect(toRect(keyboard.keyRect(key)), kBlackKey);
    p.setPen(QColor(120, 120, 120));
    p.setBrush(Qt::NoBrush);
    p.drawRect(columns_.keys.adjusted(0, 0, -1, -1));
}

void ChannelStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, backdrop_);
    const bool audible = shown_.audible && !shown_.muted;
    p.setPen(palette().color(audible ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    p.drawText(columns_.name.adjusted(0, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(name_, Qt::ElideRight, columns_.name.width() - 2));

    // The meter: green to yellow to red across the track, filled to the level.
    const QRect track = columns_.meter;
    const int filled = static_cast<int>(std::lround(meterFraction(meter_) * track.width()));
    if (filled > 0) {
        if (audible) {
            QLinearGradient colours(track.left(), 0, track.right(), 0);
            colours.setColorAt(0.0, QColor(40, 170, 60));
            colours.setColorAt(0.75, QColor(150, 200, 40));
            colours.setColorAt(0.88, QColor(230, 200, 30));
            colours.setColorAt(1.0, QColor(230, 50, 30));
            p.fillRect(QRect(track.left(), track.top(), filled, track.height()), colours);
        } else {
            p.fillRect(QRect(track.left(), track.top(), filled, track.height()), QColor(110, 110, 110));
        }
    }
    const int peakX = static_cast<int>(std::lround(meterFraction(peak_) * track.width()));
    if (peakX > 0) p.fillRect(QRect(track.left() + peakX - 2, track.top(), 2, track.height()), QColor(240, 240, 240));

    // The sounding keys: white ones first, then the black keys are drawn over them again.
    if (shown_.keys[0] | shown_.keys[1]) {
        const KeyboardGeometry keyboard = keyboardIn(columns_.keys);
        bool whiteSounds = false;
        for (int key = 0; key < KeyboardGeometry::kKeys; ++key)
            if (!KeyboardGeometry::isBlack(key) && keySounds(shown_, key)) {
                p.fillRect(toRect(keyboard.keyRect(key)).adjusted(0, 1, 0, -1), kSoundingWhite);
                whiteSounds = true;
            }
        for (int key = 0; key < KeyboardGeometry::kKeys; ++key)
            if (KeyboardGeometry::isBlack(key) && (whiteSounds || keySounds(shown_, key)))
                p.fillRect(toRect(keyboard.keyRect(key)), keySounds(shown_, key) ? kSoundingBlack : kBlackKey);
    }

    p.setPen(palette().color(QPalette::Text));
    p.drawText(columns_.volume, Qt::AlignRight | Qt::AlignVCenter, QString::number(shown_.volume));
    p.drawText(columns_.pan, Qt::AlignRight | Qt::AlignVCenter, panText(shown_.pan));
}

}  // namespace tonvero
