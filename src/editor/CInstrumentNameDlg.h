#pragma once
// "Enter New Instrument Name": asks for the name of a new Instrument. OK (the
// button or Enter) reads the edit into m_name exactly as typed, spaces and
// all, with no length limit; Escape and the close box cancel and leave
// m_name empty.
//
// Threads: user-interface thread only.

#include <QDialog>
#include <QString>

class QLineEdit;

namespace tonvero {

class CInstrumentNameDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNameEdit = 1020;
    static constexpr int kOk = 1;

    explicit CInstrumentNameDlg(QWidget* parent = nullptr);

    QString m_name;  // empty at construction

    QLineEdit* nameEdit() const { return edit_; }

public slots:
    // Reads the edit into m_name and ends the dialog with OK.
    void accept() override;

private:
    void doDataExchange(bool save);

    QLineEdit* edit_ = nullptr;
};

}  // namespace tonvero
