// Every file of the committed fuzz corpora goes through the check its
// libFuzzer target runs: the seeds made by fuzz/make_seeds must load, and
// every other input (what fuzzing kept, and the inputs of crashes since
// fixed) must be refused cleanly or pass every check. A broken check aborts
// with the input's name; so does a sanitizer report.

#include "LoaderChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace tonvero::fuzz {
namespace {

using Check = Outcome (*)(const uint8_t*, size_t);

// Names given by libFuzzer are the 40 hex digits of the input's SHA-1; the
// seeds have names that say what they hold.
bool isSeedName(const std::string& name) {
    return name.size() != 40 ||
           !std::all_of(name.begin(), name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[maybe_unused]] void sayWhichInput() {
    std::fprintf(stderr, "while replaying the fuzz input %s\n", inputName().c_str());
}

struct Replayed {
    int files = 0;
    int seeds = 0;
    int accepted = 0;
    std::vector<std::string> refusedSeeds;
};

Replayed replay(const std::string& target, Check check) {
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(sayWhichInput);
#endif
    Replayed r;
    const std::filesystem::path dir = std::filesystem::path(TONVERO_FUZZ_CORPUS) / target;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        const std::vector<uint8_t> bytes = readAll(path);
        setInputName(path.string());
        const Outcome outcome = check(bytes.data(), bytes.size());
        ++r.files;
        if (outcome == Outcome::Accepted) ++r.accepted;
        if (isSeedName(path.filename().string())) {
            ++r.seeds;
            if (outcome != Outcome::Accepted) r.refusedSeeds.push_back(path.filename().string());
        }
    }
    setInputName({});
    ::testing::Test::RecordProperty("files", r.files);
    ::testing::Test::RecordProperty("accepted", r.accepted);
    return r;
}

void expectSeedsLoad(const Replayed& r, int leastSeeds) {
    EXPECT_GE(r.seeds, leastSeeds) << "the corpus lacks the seeds fuzz/make_seeds writes";
    for (const std::string& name : r.refusedSeeds) ADD_FAILURE() << "the seed " << name << " was refused";
    EXPECT_GT(r.files, r.seeds) << "nothing that fuzzing found is kept";
}

TEST(FuzzCorpus, SongsLoadAndPlayToTheirEndOrAreRefused) { expectSeedsLoad(replay("song", checkSong), 13); }

TEST(FuzzCorpus, PatchmapsRoundTripOrAreRefusedLeavingTheBank) {
    expectSeedsLoad(replay("patchmap", checkPatchmap), 9);
}

TEST(FuzzCorpus, WavFilesImportAndConvertOrAreRefused) { expectSeedsLoad(replay("wave", checkWave), 9); }

TEST(FuzzCorpus, SoundFontsBuildSavableBanksOrAreRefused) { expectSeedsLoad(replay("soundfont", checkSoundFont), 3); }

}  // namespace
}  // namespace tonvero::fuzz
