#pragma once
// One subcommand of tonvero-bank: its name, its arguments for the usage text,
// one line of help, and the function that runs it. A new subcommand is one
// more entry in the table of main.cpp.

#include <iosfwd>
#include <string>
#include <vector>

namespace tonvero::tool {

// Exit codes of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the command ran and the answer is no (or it could not finish)
constexpr int kExitUsage = 2;   // wrong arguments

struct BankCommand {
    const char* name;
    const char* arguments;  // as shown in the usage text, e.g. "FILE.map"
    const char* help;
    // `args` are the arguments after the subcommand's name. Returns an exit
    // code; kExitUsage makes main print the usage text.
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tonvero::tool
