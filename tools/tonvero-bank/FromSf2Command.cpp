#include "FromSf2Command.h"

#include "BankCommand.h"

#include "bank/Patchmap.h"
#include "bank/Sf2Import.h"

#include <ostream>

namespace tonvero::tool {

int runFromSf2(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) return kExitUsage;
    const std::string& in = args[0];
    const std::string& map = args[1];

    Bank bank;
    std::string error;
    Sf2ImportReport report;
    if (!importSoundFont(in, bank, error, &report)) {
        err << in << ": " << error << '\n';
        return kExitFailed;
    }
    if (!savePatchmap(bank, map)) {
        err << map << ": cannot write the Patchmap.\n";
        return kExitFailed;
    }
    for (const std::string& note : report.notes) out << "note: " << note << '\n';
    out << map << ": " << report.instruments << " Instruments, " << report.kits << " drum kits besides, "
        << report.zones << " Zones playing " << report.sampleFrames << " samples, " << report.storedFrames
        << " of them stored; " << report.mappedEntries << " of 129 program entries mapped.\n";
    return kExitOk;
}

}  // namespace tonvero::tool
