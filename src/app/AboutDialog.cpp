#include "app/AboutDialog.h"

#include "app/ToolbarIcons.h"
#include "editor/DialogTemplate.h"

#include <QLabel>
#include <QPushButton>

namespace tonvero {

namespace {

constexpr int kIconArea = 1000;
constexpr int kOk = 1;

DialogLayout aboutLayout() {
    return {
        QStringLiteral("About Tonvero"),
        262,
        73,
        {
            {ControlKind::Custom, kIconArea, {}, 11, 17, 20, 20},
            {ControlKind::Label, 0, QStringLiteral("Tonvero Editor Version 0.9"), 40, 10, 150, 8},
            {ControlKind::Label, 0, QStringLiteral("Tonvero Mixer Engine 1.0"), 40, 22, 150, 8},
            {ControlKind::Label, 0, QStringLiteral("A General MIDI player with its own sample mixer."), 40, 34, 170, 8},
            {ControlKind::Label, 0, QStringLiteral("Written for Linux with Qt, PortAudio and libsndfile."), 40, 46, 170,
             8},
            {ControlKind::DefaultButton, kOk, QStringLiteral("OK"), 219, 7, 32, 14},
        }};
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    DialogTemplate layout(*this, aboutLayout());
    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(32, 32));
    layout.place(icon, kIconArea);
    connect(layout.get<QPushButton>(kOk), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tonvero
