#include "app/CTonveroDoc.h"

#include "editor/BankHistory.h"

#include <QFileInfo>

namespace tonvero {

bool CTonveroDoc::isModified() const { return bankHistory().isModified(); }

void CTonveroDoc::setPathName(const QString& path) { title_ = QFileInfo(path).fileName(); }

}  // namespace tonvero
