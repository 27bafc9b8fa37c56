// The bank as JSON: the exact text for a small bank, and names that need escaping.

#include "support/BankFixtures.h"
#include "bank/BankJson.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

TEST(BankJson, ExampleBankExactly) {
    Bank bank = test::makeExampleBank();
    bank.programMap[128] = 0;
    bank.programMap[1] = 0;
    Bank::addZone(*bank.instruments[0], nullptr)->rangeEnd = 5;
    bank.insertInstrument("Empty");
    bank.instruments[1]->cutoffFading = 0x10000;

    std::string programMap;
    for (int p = 0; p < 129; ++p) programMap += p == 0 ? "0" : ",0";
    EXPECT_EQ(bankToJson(bank),
              "{\"programMap\":[" + programMap +
                  "],\"instruments\":["
                  "{\"name\":\"Piano\",\"index\":0,\"loopFading\":16384,\"sustainFading\":32768,\"cutoffFading\":0,"
                  "\"zones\":[{\"rangeStart\":0,\"rangeEnd\":120,\"basicNote\":60,\"wave\":{\"name\":\"Sound\","
                  "\"sampleCount\":2,\"loopBegin\":0,\"loopEnd\":0,\"holdPos\":0,\"frequency\":22050,\"looped\":0,"
                  "\"reserved\":128,\"sampleSum\":0}},"
                  "{\"rangeStart\":0,\"rangeEnd\":5,\"basicNote\":60,\"wave\":null}]},"
                  "{\"name\":\"Empty\",\"index\":1,\"loopFading\":16384,\"sustainFading\":32768,\"cutoffFading\":65536,"
                  "\"zones\":[]}]}");
}

TEST(BankJson, SampleSumIsSixtyFourBit) {
    Bank bank;
    bank.insertInstrument("i");
    Bank::addZone(*bank.instruments[0], test::makeWave("w", std::vector<int16_t>(100000, 32767)));
    EXPECT_NE(bankToJson(bank).find("\"sampleSum\":3276700000}"), std::string::npos);
}

TEST(BankJson, StringsAreEscaped) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("line\nfeed\ttab"), "\"line\\nfeed\\ttab\"");
    EXPECT_EQ(jsonString(std::string("nul\0x\x1f", 6)), "\"nul\\u0000x\\u001f\"");
    EXPECT_EQ(jsonString("Fl\xC3\xBCgel \xE2\x82\xAC"), "\"Fl\xC3\xBCgel \xE2\x82\xAC\"") << "UTF-8 passes";
    EXPECT_EQ(jsonString("Fl\xFCgel"), "\"Fl\xC3\xBCgel\"") << "a Latin-1 byte becomes its character";
    EXPECT_EQ(jsonString("\xC3"), "\"\xC3\x83\"") << "a cut sequence";
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xC3\xAD\xC2\xA0\xC2\x80\"") << "no surrogates";
}

}  // namespace
}  // namespace tonvero
