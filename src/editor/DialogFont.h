#pragma once
// The font the editors' dialogs are laid out in: "MS Sans Serif" 8 point, or
// the sans-serif face the system puts in its place. Dialog units are measured
// in it, so the dialogs keep their proportions on every system.

#include <QFont>

namespace tonvero {

QFont editorDialogFont();

}  // namespace tonvero
