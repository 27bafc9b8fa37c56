#pragma once
// The toolbar's images, drawn here in code (16 x 15 pixels, as the toolbar
// buttons are), and the application icon.

#include <QIcon>

namespace tonvero {

enum class ToolbarImage { Open, Save, SaveAs, LoadMidi, Stop, Play, Pause, Unassigned };

QIcon toolbarIcon(ToolbarImage image);
QIcon applicationIcon();

}  // namespace tonvero
