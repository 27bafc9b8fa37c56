#include "editor/DialogFont.h"

namespace tonvero {

QFont editorDialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace tonvero
