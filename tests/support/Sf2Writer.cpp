#include "Sf2Writer.h"

#include <cstring>

namespace tonvero::test {
namespace {

class Bytes {
public:
    void u8(uint8_t v) { data.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    // Byte by byte: GCC 12 at -O2 under ThreadSanitizer takes a four-byte
    // range insert into an empty vector for an overflow (-Wstringop-overflow).
    void id(const char* fourcc) {
        for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(fourcc[i]));
    }
    void name20(const std::string& name) {
        for (size_t i = 0; i < 20; ++i) u8(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    }
    void append(const std::vector<uint8_t>& more) { data.insert(data.end(), more.begin(), more.end()); }
    // A chunk with this id around `body`, padded to an even length.
    void chunk(const char* fourcc, const std::vector<uint8_t>& body) {
        id(fourcc);
        u32(static_cast<uint32_t>(body.size()));
        append(body);
        if (body.size() % 2 != 0) u8(0);
    }
    void list(const char* type, const std::vector<uint8_t>& body) {
        Bytes inner;
        inner.id(type);
        inner.append(body);
        chunk("LIST", inner.data);
    }
    std::vector<uint8_t> data;
};

constexpr uint32_t kGuardSamples = 46;

// Writes the bag, modulator and generator tables of a list of zone lists
// (one per preset or instrument); `firstBags` receives each owner's first bag.
void writeZones(const std::vector<const std::vector<Sf2TestZone>*>& owners, Bytes& bags, Bytes& mods, Bytes& gens,
                std::vector<uint16_t>& firstBags) {
    uint16_t bag = 0, gen = 0, mod = 0;
    for (const auto* zones : owners) {
        firstBags.push_back(bag);
        for (const Sf2TestZone& zone : *zones) {
            bags.u16(gen);
            bags.u16(mod);
            for (const auto& [oper, amount] : zone.generators) {
                gens.u16(oper);
                gens.u16(amount);
                ++gen;
            }
            for (const Sf2TestZone::Modulator& m : zone.modulators) {
                mods.u16(m.source);
                mods.u16(m.destination);
                mods.u16(static_cast<uint16_t>(m.amount));
                mods.u16(m.amountSource);
                mods.u16(m.transform);
                ++mod;
            }
            ++bag;
        }
    }
    firstBags.push_back(bag);
    bags.u16(gen);  // terminal bag
    bags.u16(mod);
    gens.u32(0);                              // terminal generator
    for (int i = 0; i < 10; ++i) mods.u8(0);  // terminal modulator
}

}  // namespace

uint16_t Sf2Writer::addSample(Sf2TestSample sample) {
    samples_.push_back(std::move(sample));
    compressed_.emplace_back();
    return static_cast<uint16_t>(samples_.size() - 1);
}

uint16_t Sf2Writer::addCompressedSample(Sf2TestSample sample, std::vector<uint8_t> stream) {
    sample.type |= 0x10;
    samples_.push_back(std::move(sample));
    compressed_.push_back(std::move(stream));
    return static_cast<uint16_t>(samples_.size() - 1);
}

uint16_t Sf2Writer::addInstrument(std::string name, std::vector<Sf2TestZone> zones) {
    instruments_.push_back({std::move(name), std::move(zones)});
    return static_cast<uint16_t>(instruments_.size() - 1);
}

void Sf2Writer::addPreset(std::string name, uint16_t program, uint16_t bank, std::vector<Sf2TestZone> zones) {
    presets_.push_back({std::move(name), program, bank, std::move(zones)});
}

Sf2Writer& Sf2Writer::version(uint16_t major, uint16_t minor) {
    major_ = major;
    minor_ = minor;
    return *this;
}

std::vector<uint8_t> Sf2Writer::image() const {
    Bytes info;
    Bytes ifil;
    ifil.u16(major_);
    ifil.u16(minor_);
    info.chunk("ifil", ifil.data);
    info.chunk("INAM", {'T', 'e', 's', 't', 0, 0});

    Bytes smpl, shdr;
    for (size_t index = 0; index < samples_.size(); ++index) {
        const Sf2TestSample& s = samples_[index];
        const std::vector<uint8_t>& compressed = compressed_[index];
        const auto at = static_cast<uint32_t>(smpl.data.size());
        uint32_t start = at / 2, end = 0, loopBase = start;
        if (!compressed.empty()) {
            smpl.append(compressed);
            start = at;  // bytes of the Ogg stream; loops count decoded samples from its first
            end = at + static_cast<uint32_t>(compressed.size());
            loopBase = 0;
            if (smpl.data.size() % 2 != 0) smpl.u8(0);
        } else {
            for (int16_t v : s.data) smpl.u16(static_cast<uint16_t>(v));
            for (uint32_t i = 0; i < kGuardSamples; ++i) smpl.u16(0);
            end = start + static_cast<uint32_t>(s.data.size());
        }
        shdr.name20(s.name);
        shdr.u32(start);
        shdr.u32(end);
        shdr.u32(loopBase + s.loopStart);
        shdr.u32(loopBase + s.loopEnd);
        shdr.u32(s.sampleRate);
        shdr.u8(s.originalPitch);
        shdr.u8(static_cast<uint8_t>(s.pitchCorrection));
        shdr.u16(s.link);
        shdr.u16(s.type);
    }
    shdr.name20("EOS");
    for (int i = 0; i < 26; ++i) shdr.u8(0);
    Bytes sdta;
    sdta.chunk("smpl", smpl.data);

    Bytes pbag, pmod, pgen, ibag, imod, igen, phdr, inst;
    std::vector<const std::vector<Sf2TestZone>*> owners;
    std::vector<uint16_t> firstBags;
    for (const Preset& p : presets_) owners.push_back(&p.zones);
    writeZones(owners, pbag, pmod, pgen, firstBags);
    for (size_t i = 0; i < presets_.size(); ++i) {
        phdr.name20(presets_[i].name);
        phdr.u16(presets_[i].program);
        phdr.u16(presets_[i].bank);
        phdr.u16(firstBags[i]);
        phdr.u32(0);
        phdr.u32(0);
        phdr.u32(0);
    }
    phdr.name20("EOP");
    phdr.u16(0);
    phdr.u16(0);
    phdr.u16(firstBags.back());
    phdr.u32(0);
    phdr.u32(0);
    phdr.u32(0);

    owners.clear();
    firstBags.clear();
    for (const Instrument& i : instruments_) owners.push_back(&i.zones);
    writeZones(owners, ibag, imod, igen, firstBags);
    for (size_t i = 0; i < instruments_.size(); ++i) {
        inst.name20(instruments_[i].name);
        inst.u16(firstBags[i]);
    }
    inst.name20("EOI");
    inst.u16(firstBags.back());

    Bytes pdta;
    pdta.chunk("phdr", phdr.data);
    pdta.chunk("pbag", pbag.data);
    pdta.chunk("pmod", pmod.data);
    pdta.chunk("pgen", pgen.data);
    pdta.chunk("inst", inst.data);
    pdta.chunk("ibag", ibag.data);
    pdta.chunk("imod", imod.data);
    pdta.chunk("igen", igen.data);
    pdta.chunk("shdr", shdr.data);

    Bytes form;
    form.id("sfbk");
    form.list("INFO", info.data);
    form.list("sdta", sdta.data);
    form.list("pdta", pdta.data);
    Bytes file;
    file.chunk("RIFF", form.data);
    return file.data;
}

size_t Sf2Writer::findChunkBody(const std::vector<uint8_t>& image, const char* id) {
    for (size_t i = 12; i + 8 <= image.size(); ++i)
        if (std::memcmp(image.data() + i, id, 4) == 0) return i + 8;
    return 0;
}

}  // namespace tonvero::test
