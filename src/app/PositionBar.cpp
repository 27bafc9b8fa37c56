#include "app/PositionBar.h"

#include "app/PositionSlider.h"
#include "app/ToolbarIcons.h"
#include "render/SongTimeText.h"

#include <QAction>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace tonvero {

PositionBar::PositionBar(const QList<QAction*>& loopActions, QWidget* parent)
    : QToolBar(QStringLiteral("Position"), parent) {
    setObjectName(QStringLiteral("positionBar"));
    setIconSize(QSize(16, 15));
    setMovable(true);
    setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);

    slider_ = new PositionSlider(this);
    slider_->setObjectName(QStringLiteral("positionSlider"));
    slider_->setEnabled(false);
    connect(slider_, &PositionSlider::seekRequested, this, &PositionBar::seekRequested);
    connect(slider_, &QSlider::sliderMoved, this, [this](int milliseconds) {
        time_->setText(QString::fromStdString(formatSongPosition(milliseconds / 1000.0, slider_->maximum() / 1000.0)));
    });
    addWidget(slider_);

    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("positionText"));
    time_->setAlignment(Qt::AlignCenter);
    time_->setMinimumWidth(time_->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")) + 8);
    addWidget(time_);
    addSeparator();
    for (QAction* loop : loopActions) addAction(loop);
    addSeparator();

    auto* speaker = new QLabel(this);
    speaker->setPixmap(toolbarIcon(ToolbarImage::Volume).pixmap(QSize(16, 15)));
    speaker->setToolTip(QStringLiteral("Master volume"));
    addWidget(speaker);
    volume_ = new QSlider(Qt::Horizontal, this);
    volume_->setObjectName(QStringLiteral("volumeSlider"));
    volume_->setRange(0, 100);
    volume_->setValue(100);
    volume_->setSingleStep(1);
    volume_->setPageStep(10);
    volume_->setFixedWidth(100);
    volume_->setToolTip(QStringLiteral("Master volume"));
    addWidget(volume_);
    volumeText_ = new QLabel(QStringLiteral("100%"), this);
    volumeText_->setMinimumWidth(volumeText_->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 6);
    volumeText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    addWidget(volumeText_);
    connect(volume_, &QSlider::valueChanged, this, [this](int percent) {
        volumeText_->setText(QStringLiteral("%1%").arg(percent));
        emit volumeChanged(percent);
    });
}

QString PositionBar::positionText() const { return time_->text(); }

void PositionBar::showPosition(double positionSeconds, double lengthSeconds, bool loaded) {
    slider_->setEnabled(loaded);
    if (!loaded) {
        slider_->showPosition(0, 0);
        time_->clear();
        return;
    }
    slider_->showPosition(positionSeconds, lengthSeconds);
    // While the user drags, the text tells where the handle would take the song.
    const double shown = slider_->userHolds() ? slider_->handleSeconds() : positionSeconds;
    time_->setText(QString::fromStdString(formatSongPosition(shown, lengthSeconds)));
}

void PositionBar::showVolume(int percent) {
    const QSignalBlocker quiet(volume_);
    volume_->setValue(percent);
    volumeText_->setText(QStringLiteral("%1%").arg(volume_->value()));
}

}  // namespace tonvero
