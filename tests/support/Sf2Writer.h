#pragma once
// Builds SoundFont 2 files in memory for tests: samples, instruments with
// their zones and presets with theirs, written as the "sfbk" RIFF form with
// the INFO, sdta and pdta lists and every terminal record.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tonvero::test {

// One zone: its generators in the order given (put the instrument or sample
// generator last, as SoundFont files do).
struct Sf2TestZone {
    struct Modulator {
        uint16_t source, destination;
        int16_t amount;
        uint16_t amountSource, transform;
    };
    std::vector<std::pair<uint16_t, uint16_t>> generators;
    std::vector<Modulator> modulators;

    // A modulator of `source` moving generator `destination` by `amount`.
    Sf2TestZone& mod(uint16_t source, uint16_t destination, int16_t amount, uint16_t amountSource = 0) {
        modulators.push_back({source, destination, amount, amountSource, 0});
        return *this;
    }

    Sf2TestZone& gen(uint16_t oper, int32_t amount) {
        generators.emplace_back(oper, static_cast<uint16_t>(amount));
        return *this;
    }
    Sf2TestZone& range(uint16_t oper, uint8_t low, uint8_t high) {
        generators.emplace_back(oper, static_cast<uint16_t>(low | (high << 8)));
        return *this;
    }
};

struct Sf2TestSample {
    std::string name = "sample";
    std::vector<int16_t> data;
    uint32_t loopStart = 0, loopEnd = 0;  // relative to the sample's first value; end exclusive
    uint32_t sampleRate = 44100;
    uint8_t originalPitch = 60;
    int8_t pitchCorrection = 0;
    uint16_t link = 0;
    uint16_t type = 1;  // mono
};

class Sf2Writer {
public:
    // Returns the sample's index. Each sample's data is followed by 46 zeros;
    // compressed data is followed by nothing but a pad byte to an even length.
    uint16_t addSample(Sf2TestSample sample);
    // A compressed sample (SoundFont 3): `stream` (an Ogg stream) is written
    // instead of sample.data, the header's start and end are the byte offsets
    // of it in the sample data, its loop counts decoded samples from its first
    // one, and its type gets the 0x10 bit.
    uint16_t addCompressedSample(Sf2TestSample sample, std::vector<uint8_t> stream);
    // Returns the instrument's index.
    uint16_t addInstrument(std::string name, std::vector<Sf2TestZone> zones);
    void addPreset(std::string name, uint16_t program, uint16_t bank, std::vector<Sf2TestZone> zones);

    // The version written in the "ifil" chunk.
    Sf2Writer& version(uint16_t major, uint16_t minor);

    std::vector<uint8_t> image() const;

    // Offsets of chunks in the last image, for tests that damage a field:
    // the body of the first chunk with this id, or 0 when there is none.
    static size_t findChunkBody(const std::vector<uint8_t>& image, const char* id);

private:
    struct Instrument {
        std::string name;
        std::vector<Sf2TestZone> zones;
    };
    struct Preset {
        std::string name;
        uint16_t program, bank;
        std::vector<Sf2TestZone> zones;
    };
    std::vector<Sf2TestSample> samples_;
    std::vector<std::vector<uint8_t>> compressed_;  // per sample; empty for a plain one
    std::vector<Instrument> instruments_;
    std::vector<Preset> presets_;
    uint16_t major_ = 2, minor_ = 1;
};

}  // namespace tonvero::test
