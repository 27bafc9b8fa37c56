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

TEST(BankJson, ArticulationAndKitsOnlyWhereTheBankHasThem) {
    Bank bank;
    bank.insertInstrument("Pad");
    Bank::addZone(*bank.instruments[0], nullptr);
    Zone* shaped = Bank::addZone(*bank.instruments[0], nullptr);
    shaped->articulation = std::make_unique<ZoneArticulation>();
    shaped->articulation->volumeEnvelope.sustain = 1440;
    shaped->articulation->vibratoLfo.toPitch = -50;
    shaped->articulation->pan = -500;
    shaped->articulation->tailOnRelease = true;
    shaped->articulation->linkedZone = 0;
    bank.kits[9] = std::make_unique<Instrument>("Brush", 2);

    const std::string json = bankToJson(bank);
    const std::string plainZone = "{\"rangeStart\":0,\"rangeEnd\":120,\"basicNote\":60,\"wave\":null}";
    EXPECT_NE(json.find("\"zones\":[" + plainZone + ",{"), std::string::npos) << json;
    EXPECT_NE(
        json.find("\"wave\":null,\"articulation\":{"
                  "\"volumeEnvelope\":{\"delay\":-12000,\"attack\":-12000,\"hold\":-12000,\"decay\":-12000,"
                  "\"sustain\":1440,\"release\":-12000,\"keyToHold\":0,\"keyToDecay\":0},"
                  "\"modulationEnvelope\":{\"delay\":-12000,\"attack\":-12000,\"hold\":-12000,\"decay\":-12000,"
                  "\"sustain\":0,\"release\":-12000,\"keyToHold\":0,\"keyToDecay\":0},"
                  "\"modulationEnvelopeToPitch\":0,\"modulationEnvelopeToFilter\":0,"
                  "\"modulationLfo\":{\"delay\":-12000,\"frequency\":0,\"toPitch\":0,\"toFilter\":0,\"toVolume\":0},"
                  "\"vibratoLfo\":{\"delay\":-12000,\"frequency\":0,\"toPitch\":-50,\"toFilter\":0,\"toVolume\":0},"
                  "\"attenuation\":0,\"pan\":-500,\"coarseTune\":0,\"fineTune\":0,\"scaleTuning\":100,"
                  "\"filterCutoff\":13500,\"filterResonance\":0,\"exclusiveClass\":0,\"velocityLow\":0,"
                  "\"velocityHigh\":127,\"tailOnRelease\":true,\"linkedZone\":0,\"velocityToFilter\":-2400,"
                  "\"modulationToVibrato\":50,\"pressureToVibrato\":50,\"reverbSend\":0,\"chorusSend\":0}}]}],"
                  "\"kits\":[{\"program\":9,\"name\":\"Brush\",\"index\":2,\"loopFading\":16384,"
                  "\"sustainFading\":32768,\"cutoffFading\":0,\"zones\":[]}]}"),
        std::string::npos)
        << json;
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
