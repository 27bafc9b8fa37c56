#pragma once
// The toolbars' images, drawn here in code (16 x 15 pixels, as the toolbar
// buttons are), and the application icon.

#include <QIcon>

namespace tonvero {

enum class ToolbarImage {
    Open,
    Save,
    SaveAs,
    LoadMidi,
    Stop,
    Play,
    Pause,
    Unassigned,
    // The position toolbar's.
    Loop,
    LoopStart,
    LoopEnd,
    ClearLoop,
    Volume,
};

QIcon toolbarIcon(ToolbarImage image);
QIcon applicationIcon();

}  // namespace tonvero
