// The tonvero-bank program: its commands, exit codes and usage text.

#include "support/BankFixtures.h"
#include "support/WavWriter.h"
#include "bank/BankJson.h"
#include "bank/Patchmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace tonvero {
namespace {

struct ToolRun {
    int code = -1;
    std::string out;  // stdout
    std::string err;  // stderr
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolRun runTool(const std::string& arguments) {
    const std::string errFile = test::tempPath("stderr.txt");
    const std::string command = quoted(TONVERO_BANK_TOOL) + " " + arguments + " 2>" + quoted(errFile);
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
    const int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> err = test::readFileBytes(errFile);
    run.err.assign(err.begin(), err.end());
    return run;
}

TEST(BankTool, InfoPrintsTheBankAsJson) {
    const Bank bank = test::makeSmallBank();
    const std::string path = test::tempPath("small bank.map");
    ASSERT_TRUE(savePatchmap(bank, path));
    const ToolRun run = runTool("info " + quoted(path));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, bankToJson(bank) + "\n");
}

TEST(BankTool, CheckSaysOkOrWhy) {
    const std::string good = test::tempPath("good.map");
    ASSERT_TRUE(savePatchmap(test::makeExampleBank(), good));
    ToolRun run = runTool("check " + quoted(good));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "ok\n");

    const std::string wav = test::tempPath("sound.wav");
    ASSERT_TRUE(test::writeFileBytes(wav, test::WavWriter::pcm16({1}, 1, 8000)));
    run = runTool("check " + quoted(wav));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("error 3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(loadResultMessage(LoadNotPatchmap)), std::string::npos) << run.out;

    run = runTool("check " + quoted(test::tempPath("missing.map")));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find(loadResultMessage(LoadNotFound)), std::string::npos) << run.out;

    run = runTool("info " + quoted(wav));
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("error 3"), std::string::npos);
}

TEST(BankTool, InfoAndCheckReadVersionFour) {
    const Bank bank = test::makeArticulatedBank();
    const std::string path = test::tempPath("articulated.map");
    ASSERT_TRUE(savePatchmap(bank, path));
    ToolRun run = runTool("info " + quoted(path));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, bankToJson(bank) + "\n");
    EXPECT_NE(run.out.find("\"articulation\":{\"volumeEnvelope\":{"), std::string::npos);
    EXPECT_NE(run.out.find("\"kits\":[{\"program\":1,\"name\":\"Room Kit\""), std::string::npos);
    run = runTool("check " + quoted(path));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "ok\n");

    std::vector<uint8_t> bytes = test::readFileBytes(path);
    bytes.pop_back();  // the last sample cut short
    ASSERT_TRUE(test::writeFileBytes(path, bytes));
    run = runTool("check " + quoted(path));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("error 3 (LoadNotPatchmap)"), std::string::npos) << run.out;
}

TEST(BankTool, WrongArgumentsExitTwoWithUsage) {
    for (const char* arguments : {"", "info", "check", "info a b", "frobnicate x.map", "--bogus"}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.code, 2) << arguments;
        EXPECT_NE(run.err.find("Usage: tonvero-bank"), std::string::npos) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
    }
    const ToolRun help = runTool("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: tonvero-bank"), std::string::npos);
    EXPECT_NE(help.out.find("info FILE.map"), std::string::npos);
    EXPECT_NE(help.out.find("check FILE.map"), std::string::npos);
}

}  // namespace
}  // namespace tonvero
