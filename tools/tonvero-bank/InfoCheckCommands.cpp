// `info` and `check`: load a Patchmap and show it, or say whether it loads.

#include "BankCommand.h"

#include "bank/BankJson.h"
#include "bank/Patchmap.h"

#include <ostream>

namespace tonvero::tool {

namespace {

const char* resultName(LoadResult result) {
    switch (result) {
    case LoadOk: return "LoadOk";
    case LoadUnknownVersion: return "LoadUnknownVersion";
    case LoadNotFound: return "LoadNotFound";
    case LoadNotPatchmap: return "LoadNotPatchmap";
    }
    return "unknown";
}

// Loads `path`; on failure writes the code and the program's message for it.
bool load(const std::string& path, Bank& bank, std::ostream& report) {
    const LoadResult result = loadPatchmap(bank, path);
    if (result == LoadOk) return true;
    report << path << ": error " << static_cast<int>(result) << " (" << resultName(result)
           << "): " << loadResultMessage(result) << '\n';
    return false;
}

}  // namespace

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) return kExitUsage;
    Bank bank;
    if (!load(args[0], bank, err)) return kExitFailed;
    out << bankToJson(bank) << '\n';
    return kExitOk;
}

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    if (args.size() != 1) return kExitUsage;
    Bank bank;
    if (!load(args[0], bank, out)) return kExitFailed;
    out << "ok\n";
    return kExitOk;
}

}  // namespace tonvero::tool
