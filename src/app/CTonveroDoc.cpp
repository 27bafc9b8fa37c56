#include "app/CTonveroDoc.h"

#include <QFileInfo>

namespace tonvero {

void CTonveroDoc::setPathName(const QString& path) { title_ = QFileInfo(path).fileName(); }

}  // namespace tonvero
