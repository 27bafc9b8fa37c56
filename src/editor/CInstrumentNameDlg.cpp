#include "editor/CInstrumentNameDlg.h"

#include "editor/DataExchange.h"
#include "editor/DialogFont.h"
#include "editor/DialogTemplate.h"

#include <QLineEdit>
#include <QPushButton>

namespace tonvero {

namespace {

DialogLayout nameDialogLayout() {
    return {QStringLiteral("Enter New Instrument Name"),
            186,
            76,
            {
                {ControlKind::Edit, CInstrumentNameDlg::kNameEdit, {}, 29, 19, 122, 14},
                {ControlKind::DefaultButton, CInstrumentNameDlg::kOk, QStringLiteral("OK"), 65, 43, 50, 14},
            }};
}

}  // namespace

CInstrumentNameDlg::CInstrumentNameDlg(QWidget* parent) : QDialog(parent) {
    setFont(editorDialogFont());
    DialogTemplate layout(*this, nameDialogLayout());
    edit_ = layout.get<QLineEdit>(kNameEdit);
    connect(layout.get<QPushButton>(kOk), &QPushButton::clicked, this, &CInstrumentNameDlg::accept);
    doDataExchange(false);
}

void CInstrumentNameDlg::doDataExchange(bool save) {
    DataExchange dx(this, save ? DataExchange::Save : DataExchange::Load);
    dx.text(edit_, m_name);
}

void CInstrumentNameDlg::accept() {
    doDataExchange(true);
    QDialog::accept();
}

}  // namespace tonvero
