#include "app/ChannelView.h"

#include "app/AppGlobals.h"
#include "app/ChannelStrip.h"
#include "engine/MixerEngine.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include <algorithm>

namespace tonvero {

namespace {

// The column titles over the rows, placed as the rows place their columns.
class ChannelHeader : public QWidget {
public:
    explicit ChannelHeader(QWidget* parent) : QWidget(parent) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(fontMetrics().height() + 2);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        const ChannelColumns c = ChannelColumns::forRow(width(), height());
        p.drawText(c.number, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Ch"));
        p.drawText(c.name, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Instrument"));
        p.drawText(c.meter.adjusted(0, -20, 0, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Level"));
        p.drawText(c.keys.adjusted(0, -20, 0, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Notes"));
        p.drawText(c.volume, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Vol"));
        p.drawText(c.pan, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Pan"));
    }
};

QToolButton* makeToggle(const QString& text, const QString& tip, const QString& checkedColour, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setCheckable(true);
    // Clicking never takes the keyboard focus, so Space stays the transport's.
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(22, 18);
    button->setStyleSheet(QStringLiteral("QToolButton { border: 1px solid palette(mid); border-radius: 2px; }"
                                         "QToolButton:checked { background: %1; color: white; }")
                              .arg(checkedColour));
    return button;
}

}  // namespace

ChannelView::ChannelView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("channelView"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(1);
    grid->addWidget(new ChannelHeader(this), 0, 0);
    auto* muteTitle = new QLabel(QStringLiteral("M"), this);
    auto* soloTitle = new QLabel(QStringLiteral("S"), this);
    for (QLabel* title : {muteTitle, soloTitle}) {
        title->setAlignment(Qt::AlignCenter);
        title->setEnabled(false);
    }
    grid->addWidget(muteTitle, 0, 1);
    grid->addWidget(soloTitle, 0, 2);
    for (int channel = 0; channel < kMidiChannels; ++channel) {
        Row& row = rowOf(channel);
        row.strip = new ChannelStrip(channel, this);
        row.mute = makeToggle(QStringLiteral("M"), QStringLiteral("Mute channel %1").arg(channel + 1),
                              QStringLiteral("#c03028"), this);
        row.solo = makeToggle(QStringLiteral("S"), QStringLiteral("Solo channel %1").arg(channel + 1),
                              QStringLiteral("#c89010"), this);
        row.mute->setObjectName(QStringLiteral("mute%1").arg(channel + 1));
        row.solo->setObjectName(QStringLiteral("solo%1").arg(channel + 1));
        connect(row.mute, &QToolButton::toggled, this, [this, channel](bool on) { setMuted(channel, on); });
        connect(row.solo, &QToolButton::toggled, this, [this, channel](bool on) { setSoloed(channel, on); });
        grid->addWidget(row.strip, channel + 1, 0);
        grid->addWidget(row.mute, channel + 1, 1);
        grid->addWidget(row.solo, channel + 1, 2);
    }
    grid->setRowStretch(kMidiChannels + 1, 1);
    timer_.setInterval(kRefreshMillis);
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
}

void ChannelView::poll() {
    const double elapsed = sinceLastPoll_.isValid() ? static_cast<double>(sinceLastPoll_.restart()) / 1000.0 : 0.0;
    if (!sinceLastPoll_.isValid()) sinceLastPoll_.start();
    // After a stall the meters fall as after one slow tick, not all at once.
    poll(std::min(elapsed, 0.1));
}

void ChannelView::poll(double elapsed) {
    if (theEngine) {
        EngineLock lock(theEngine->mutex);
        channelActivity(*theEngine, activities_);
    } else {
        activities_ = {};
    }
    for (size_t channel = 0; channel < rows_.size(); ++channel)
        rows_[channel].strip->showActivity(activities_[channel], elapsed);
}

void ChannelView::setMuted(int channel, bool on) {
    const auto bit = static_cast<uint16_t>(1u << channel);
    muted_ = static_cast<uint16_t>(on ? muted_ | bit : muted_ & ~bit);
    if (!theEngine) return;
    EngineLock lock(theEngine->mutex);
    setChannelMuted(*theEngine, channel, on);
}

void ChannelView::setSoloed(int channel, bool on) {
    const auto bit = static_cast<uint16_t>(1u << channel);
    soloed_ = static_cast<uint16_t>(on ? soloed_ | bit : soloed_ & ~bit);
    if (!theEngine) return;
    EngineLock lock(theEngine->mutex);
    setChannelSoloed(*theEngine, channel, on);
}

void ChannelView::applyToEngine(MixerEngine& engine) const {
    EngineLock lock(engine.mutex);
    setMutedChannels(engine, muted_);
    setSoloedChannels(engine, soloed_);
}

void ChannelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    poll();
    timer_.start();
}

void ChannelView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

}  // namespace tonvero
