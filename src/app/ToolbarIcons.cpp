#include "app/ToolbarIcons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace tonvero {

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 15;

void drawFolder(QPainter& p) {
    p.setPen(QColor(120, 90, 20));
    p.setBrush(QColor(240, 200, 90));
    p.drawRect(1, 4, 13, 9);
    p.drawRect(1, 2, 5, 2);
}

void drawDisk(QPainter& p, QColor body) {
    p.setPen(Qt::black);
    p.setBrush(body);
    p.drawRect(1, 1, 13, 13);
    p.setBrush(Qt::white);
    p.drawRect(4, 1, 7, 5);
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(4, 9, 7, 5);
}

void drawNote(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(2, 9, 5, 4));
    p.drawEllipse(QRectF(9, 8, 5, 4));
    p.drawLine(6, 11, 6, 2);
    p.drawLine(13, 10, 13, 1);
    p.drawLine(6, 2, 13, 1);
    p.drawLine(6, 3, 13, 2);
}

// Two arrows chasing each other round: the song plays again from the loop's start.
void drawLoop(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(20, 100, 150), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(2.5, 2.5, 11, 10), 30 * 16, 150 * 16);
    p.drawArc(QRectF(2.5, 2.5, 11, 10), 210 * 16, 150 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 100, 150));
    QPainterPath head;
    head.moveTo(11.5, 1.5);
    head.lineTo(15, 5);
    head.lineTo(10.5, 6);
    head.closeSubpath();
    head.moveTo(4.5, 13.5);
    head.lineTo(1, 10);
    head.lineTo(5.5, 9);
    head.closeSubpath();
    p.drawPath(head);
}

// A bracket with its letter: the A-B range's start or end.
void drawLoopEdge(QPainter& p, bool start) {
    const QColor colour(180, 90, 10);
    p.setPen(QPen(colour, 1));
    const int x = start ? 2 : 13;
    const int hook = start ? 3 : -3;
    p.drawLine(x, 2, x, 12);
    p.drawLine(x, 2, x + hook, 2);
    p.drawLine(x, 12, x + hook, 12);
    QFont font;
    font.setPixelSize(9);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(start ? 5 : 2, 2, 9, 11), Qt::AlignCenter, QString(QLatin1Char(start ? 'A' : 'B')));
}

void drawClearLoop(QPainter& p) {
    p.setPen(QPen(QColor(180, 90, 10), 1));
    p.drawLine(1, 4, 1, 10);
    p.drawLine(14, 4, 14, 10);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(170, 20, 20), 1.6));
    p.drawLine(QPointF(4, 3.5), QPointF(11, 10.5));
    p.drawLine(QPointF(11, 3.5), QPointF(4, 10.5));
}

void drawSpeaker(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath body;
    body.moveTo(1, 5);
    body.lineTo(4, 5);
    body.lineTo(8, 1.5);
    body.lineTo(8, 13.5);
    body.lineTo(4, 10);
    body.lineTo(1, 10);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(50, 50, 50));
    p.drawPath(body);
    p.setPen(QPen(QColor(50, 50, 50), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 4.5, 5, 6), -50 * 16, 100 * 16);
    p.drawArc(QRectF(6, 2, 8.5, 11), -50 * 16, 100 * 16);
}

QPixmap draw(ToolbarImage image) {
    QPixmap pixmap(kWidth, kHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (image) {
    case ToolbarImage::Open: drawFolder(p); break;
    case ToolbarImage::Save: drawDisk(p, QColor(40, 70, 160)); break;
    case ToolbarImage::SaveAs:
        drawDisk(p, QColor(40, 130, 70));
        p.setPen(QColor(200, 30, 30));
        p.drawLine(11, 12, 15, 8);
        break;
    case ToolbarImage::LoadMidi: drawNote(p); break;
    case ToolbarImage::Stop:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(170, 20, 20));
        p.drawRect(3, 3, 10, 9);
        break;
    case ToolbarImage::Play: {
        QPainterPath path;
        path.moveTo(4, 2);
        path.lineTo(13, 7.5);
        path.lineTo(4, 13);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 130, 20));
        p.drawPath(path);
        break;
    }
    case ToolbarImage::Pause:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 30, 120));
        p.drawRect(4, 3, 3, 9);
        p.drawRect(9, 3, 3, 9);
        break;
    case ToolbarImage::Unassigned:
        p.setPen(QColor(90, 90, 90));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(3, 2.5, 10, 10));
        p.drawLine(8, 5, 8, 8);
        p.drawPoint(8, 10);
        break;
    case ToolbarImage::Loop: drawLoop(p); break;
    case ToolbarImage::LoopStart: drawLoopEdge(p, true); break;
    case ToolbarImage::LoopEnd: drawLoopEdge(p, false); break;
    case ToolbarImage::ClearLoop: drawClearLoop(p); break;
    case ToolbarImage::Volume: drawSpeaker(p); break;
    }
    return pixmap;
}

}  // namespace

QIcon toolbarIcon(ToolbarImage image) { return QIcon(draw(image)); }

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(32, 60, 110));
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
        // A waveform across a note head: a player that makes its own sound.
        QPainterPath wave;
        wave.moveTo(8, 32);
        for (int x = 8; x <= 56; ++x) wave.lineTo(x, 32 - 14 * std::sin((x - 8) * 0.26));
        p.setPen(QPen(QColor(250, 200, 80), 4));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(18, 38, 14, 10));
        p.drawRect(QRectF(29, 14, 3, 30));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tonvero
