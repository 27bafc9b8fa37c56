#include "app/ChannelNames.h"

#include "editor/ProgramList.h"
#include "engine/ChannelMonitor.h"

namespace tonvero {

QString programName(int program) {
    if (program < 0 || program > 127) return {};
    // The program list's entries read "000 - Acoustic Grand".
    const QString entry = programListEntry(program);
    const qsizetype dash = entry.indexOf(QStringLiteral(" - "));
    return dash < 0 ? entry : entry.mid(dash + 3);
}

QString drumKitName(int program) {
    switch (program) {
    case 0: return QStringLiteral("Standard");
    case 8: return QStringLiteral("Room");
    case 16: return QStringLiteral("Power");
    case 24: return QStringLiteral("Electronic");
    case 25: return QStringLiteral("TR-808");
    case 32: return QStringLiteral("Jazz");
    case 40: return QStringLiteral("Brush");
    case 48: return QStringLiteral("Orchestra");
    case 56: return QStringLiteral("SFX");
    default: return QStringLiteral("Drum Kit %1").arg(program);
    }
}

QString channelSoundName(const ChannelActivity& activity) {
    return activity.drums ? drumKitName(activity.program) : programName(activity.program);
}

}  // namespace tonvero
