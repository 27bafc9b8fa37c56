// tonvero-bank: command-line work on Patchmap files.
//
//   tonvero-bank info FILE.map     the bank as JSON on stdout
//   tonvero-bank check FILE.map    "ok" (exit 0), or the reason it does not load (exit 1)
//   tonvero-bank from-sf2 IN.sf2 OUT.map   a Patchmap built from a SoundFont 2 file
//
// Wrong arguments print the usage on stderr and exit 2; --help prints it on
// stdout, --version the program's version.

#include "BankCommand.h"
#include "FromSf2Command.h"
#include "tonvero/Version.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

using tonvero::tool::BankCommand;

const BankCommand kCommands[] = {
    {"info", "FILE.map", "print the bank as JSON", tonvero::tool::runInfo},
    {"check", "FILE.map", "say \"ok\" if the file loads, else why not (exit 1)", tonvero::tool::runCheck},
    {"from-sf2", "IN.sf2 OUT.map", "build a Patchmap from a SoundFont 2 file", tonvero::tool::runFromSf2},
};

void printUsage(std::ostream& out) {
    out << "Usage: tonvero-bank COMMAND ARGUMENTS...\n\nCommands:\n";
    size_t width = 0;
    for (const BankCommand& c : kCommands) width = std::max(width, std::strlen(c.name) + 1 + std::strlen(c.arguments));
    for (const BankCommand& c : kCommands) {
        const std::string synopsis = std::string(c.name) + " " + c.arguments;
        out << "  " << synopsis << std::string(width - synopsis.size() + 3, ' ') << c.help << '\n';
    }
    auto option = [&](const std::string& name, const char* help) {
        out << "  " << name << std::string(width > name.size() ? width - name.size() + 3 : 3, ' ') << help << '\n';
    };
    out << "\nOptions:\n";
    option("--help", "print this text");
    option("--version", "print the program's name and version");
    out << "\nExit status:\n  0 success, 1 failure, 2 wrong arguments.\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        printUsage(std::cout);
        return tonvero::tool::kExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "tonvero-bank " << tonvero::kVersionText << '\n';
        return tonvero::tool::kExitOk;
    }
    if (!args.empty()) {
        for (const BankCommand& command : kCommands) {
            if (args[0] != command.name) continue;
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            const int code = command.run(rest, std::cout, std::cerr);
            if (code == tonvero::tool::kExitUsage) {
                std::cerr << "tonvero-bank " << command.name << ": expected " << command.arguments << "\n\n";
                printUsage(std::cerr);
            }
            return code;
        }
        std::cerr << "tonvero-bank: unknown command '" << args[0] << "'\n\n";
    }
    printUsage(std::cerr);
    return tonvero::tool::kExitUsage;
}
