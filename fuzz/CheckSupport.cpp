// What every loader check shares: the way a broken promise ends the run, and
// the scratch directory for the loaders that insist on a path.

#include "LoaderChecks.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>
#include <unistd.h>

namespace tonvero::fuzz {

namespace {

std::string& currentInput() {
    static std::string name;
    return name;
}

std::string& scratchPath() {
    static std::string path;
    return path;
}

void removeScratch() {
    if (scratchPath().empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(scratchPath(), ignored);
}

std::string makeScratch() {
    std::vector<std::string> bases{"/dev/shm"};
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) bases.emplace_back(tmp);
    bases.emplace_back("/tmp");
    for (const std::string& base : bases) {
        std::string pattern = base + "/tonvero-fuzz-XXXXXX";
        if (::access(base.c_str(), W_OK) != 0) continue;
        if (::mkdtemp(pattern.data())) return pattern;
    }
    checkFailed("no writable directory for scratch files (tried /dev/shm, $TMPDIR and /tmp)");
}

}  // namespace

void checkFailed(const std::string& what) {
    if (currentInput().empty())
        std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    else
        std::fprintf(stderr, "fuzz check failed: %s (input %s)\n", what.c_str(), currentInput().c_str());
    std::fflush(stderr);
    std::abort();
}

void setInputName(const std::string& name) { currentInput() = name; }
const std::string& inputName() { return currentInput(); }

const std::string& scratchDirectory() {
    if (scratchPath().empty()) {
        scratchPath() = makeScratch();
        std::atexit(removeScratch);
    }
    return scratchPath();
}

}  // namespace tonvero::fuzz
