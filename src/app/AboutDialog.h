#pragma once
// Help > About: dialog 100, 262 x 73 dialog units.

#include <QDialog>

namespace tonvero {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tonvero
