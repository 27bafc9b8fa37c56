#pragma once
// A SoundFont 2 file as plain records, checked by Sf2Reader: every index in
// here points at an existing record and every sample header lies inside
// `sampleData`, so the importer can follow them without further checks.
//
// Threads: plain data; built and read on whichever thread imports a bank.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tonvero {

class MappedFile;

// Generator operators the importer reads (the SoundFont 2 numbering).
namespace Sf2Gen {
constexpr uint16_t StartAddrsOffset = 0;
constexpr uint16_t EndAddrsOffset = 1;
constexpr uint16_t StartloopAddrsOffset = 2;
constexpr uint16_t EndloopAddrsOffset = 3;
constexpr uint16_t StartAddrsCoarseOffset = 4;
constexpr uint16_t ModLfoToPitch = 5;
constexpr uint16_t VibLfoToPitch = 6;
constexpr uint16_t ModEnvToPitch = 7;
constexpr uint16_t InitialFilterFc = 8;
constexpr uint16_t InitialFilterQ = 9;
constexpr uint16_t ModLfoToFilterFc = 10;
constexpr uint16_t ModEnvToFilterFc = 11;
constexpr uint16_t EndAddrsCoarseOffset = 12;
constexpr uint16_t ModLfoToVolume = 13;
constexpr uint16_t ChorusEffectsSend = 15;
constexpr uint16_t ReverbEffectsSend = 16;
constexpr uint16_t Pan = 17;
constexpr uint16_t DelayModLfo = 21;
constexpr uint16_t FreqModLfo = 22;
constexpr uint16_t DelayVibLfo = 23;
constexpr uint16_t FreqVibLfo = 24;
constexpr uint16_t DelayModEnv = 25;
constexpr uint16_t AttackModEnv = 26;
constexpr uint16_t HoldModEnv = 27;
constexpr uint16_t DecayModEnv = 28;
constexpr uint16_t SustainModEnv = 29;
constexpr uint16_t ReleaseModEnv = 30;
constexpr uint16_t KeynumToModEnvHold = 31;
constexpr uint16_t KeynumToModEnvDecay = 32;
constexpr uint16_t DelayVolEnv = 33;
constexpr uint16_t AttackVolEnv = 34;
constexpr uint16_t HoldVolEnv = 35;
constexpr uint16_t DecayVolEnv = 36;
constexpr uint16_t SustainVolEnv = 37;
constexpr uint16_t ReleaseVolEnv = 38;
constexpr uint16_t KeynumToVolEnvHold = 39;
constexpr uint16_t KeynumToVolEnvDecay = 40;
constexpr uint16_t Instrument = 41;
constexpr uint16_t KeyRange = 43;
constexpr uint16_t VelRange = 44;
constexpr uint16_t StartloopAddrsCoarseOffset = 45;
constexpr uint16_t Keynum = 46;
constexpr uint16_t Velocity = 47;
constexpr uint16_t InitialAttenuation = 48;
constexpr uint16_t EndloopAddrsCoarseOffset = 50;
constexpr uint16_t CoarseTune = 51;
constexpr uint16_t FineTune = 52;
constexpr uint16_t SampleID = 53;
constexpr uint16_t SampleModes = 54;
constexpr uint16_t ScaleTuning = 56;
constexpr uint16_t ExclusiveClass = 57;
constexpr uint16_t OverridingRootKey = 58;
constexpr uint16_t Count = 61;  // operators from here on are unknown and ignored
}  // namespace Sf2Gen

// Sample header type bits.
namespace Sf2SampleType {
constexpr uint16_t Mono = 1;
constexpr uint16_t Right = 2;
constexpr uint16_t Left = 4;
constexpr uint16_t Linked = 8;
constexpr uint16_t Compressed = 0x10;  // Ogg Vorbis data: SoundFont 3
constexpr uint16_t Rom = 0x8000;       // data in a sound chip's ROM, not in the file
}  // namespace Sf2SampleType

struct Sf2Generator {
    uint16_t oper = 0;
    uint16_t amount = 0;  // as stored: signed, unsigned or a lo/hi byte range by operator

    int16_t signedAmount() const { return static_cast<int16_t>(amount); }
    uint8_t rangeLow() const { return static_cast<uint8_t>(amount & 0xFF); }
    uint8_t rangeHigh() const { return static_cast<uint8_t>(amount >> 8); }
};

// A modulator: a source (a controller, velocity...) moving a generator.
struct Sf2Modulator {
    uint16_t source = 0;       // the source operator: index, controller flag, direction, polarity, curve
    uint16_t destination = 0;  // the generator moved
    int16_t amount = 0;
    uint16_t amountSource = 0;
    uint16_t transform = 0;
};

// One preset or instrument zone: its generators and its modulators, in file order.
struct Sf2Zone {
    std::vector<Sf2Generator> generators;
    uint32_t modulators = 0;
    std::vector<Sf2Modulator> modulatorList;
};

struct Sf2Preset {
    std::string name;
    uint16_t program = 0;  // MIDI program 0..127
    uint16_t bank = 0;     // 0 for General MIDI melodic sounds, 128 for drum kits
    std::vector<Sf2Zone> zones;
};

struct Sf2Instrument {
    std::string name;
    std::vector<Sf2Zone> zones;
};

// A compressed sample (SoundFont 3) is read decoded: its start, end and loop
// points then count samples of its decoded data in `sampleData`, like any other.
struct Sf2Sample {
    std::string name;
    uint32_t start = 0;          // first sample in `sampleData`
    uint32_t end = 0;            // one past the last sample
    uint32_t loopStart = 0;      // first sample of the loop (not checked: see Sf2Reader.h)
    uint32_t loopEnd = 0;        // one past the last sample of the loop
    uint32_t sampleRate = 0;     // Hz, never 0
    uint8_t originalPitch = 60;  // MIDI key recorded; 255 means unpitched
    int8_t pitchCorrection = 0;  // cents
    uint16_t link = 0;           // the other side of a stereo pair (an index into `samples`)
    uint16_t type = Sf2SampleType::Mono;
};

// The sample data of a SoundFont, one index space for two parts: the "smpl"
// chunk's 16-bit samples, read in place from the file's bytes (which it keeps
// alive), then the decoded samples of every compressed sample. Reading a
// range copies it out as values, so the importer reads the data in pieces
// and never holds a copy of it all.
class Sf2SampleData {
public:
    size_t size() const { return plain_.size() / 2 + decoded_.size(); }
    int16_t operator[](size_t i) const;
    // Copies samples [start, start + count), which must lie inside, to `out`.
    void read(size_t start, size_t count, int16_t* out) const;
    // The samples [start, end) will not be read again soon: the memory holding
    // the file's bytes for them may be given back (they can still be read).
    void release(size_t start, size_t end) const;

    // The "smpl" chunk's bytes (an even count is not required: the last odd
    // byte is no sample) and what keeps them alive; `mapping`, when the bytes
    // are a mapped file's, is what release gives pages back to.
    void setPlain(std::span<const uint8_t> bytes, std::shared_ptr<const void> owner, const MappedFile* mapping);
    // The decoded samples, appended to as compressed samples are decoded.
    std::vector<int16_t>& decoded() { return decoded_; }

private:
    std::span<const uint8_t> plain_;
    std::shared_ptr<const void> owner_;
    const MappedFile* mapping_ = nullptr;
    std::vector<int16_t> decoded_;
};

struct Sf2Font {
    uint16_t versionMajor = 2;
    uint16_t versionMinor = 1;
    std::string name;  // the INAM text, if any
    // The "smpl" chunk's 16-bit samples, then the decoded data of every
    // compressed sample.
    Sf2SampleData sampleData;
    std::vector<Sf2Preset> presets;
    std::vector<Sf2Instrument> instruments;
    std::vector<Sf2Sample> samples;
};

}  // namespace tonvero
