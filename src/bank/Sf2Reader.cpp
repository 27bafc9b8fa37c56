#include "bank/Sf2Reader.h"

#include "bank/FileUtil.h"
#include "bank/OggSampleDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace tonvero {
namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The most samples the sample data may hold once compressed samples are
// decoded (2 GiB of them): far above any real SoundFont's, and a damaged one
// cannot exhaust the memory.
constexpr uint64_t kMostSampleData = uint64_t{1} << 30;

// A chunk's four-character id as text for messages, with unprintable bytes shown as '?'.
std::string fourcc(const uint8_t* p) {
    std::string id(4, '?');
    for (size_t i = 0; i < 4; ++i)
        if (p[i] >= 0x20 && p[i] < 0x7F) id[i] = static_cast<char>(p[i]);
    return id;
}

bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// A fixed-size name field: up to the first NUL, control bytes replaced, trailing spaces dropped.
std::string nameField(const uint8_t* p, size_t size) {
    std::string name;
    for (size_t i = 0; i < size && p[i] != 0; ++i)
        name.push_back(p[i] < 0x20 || p[i] == 0x7F ? '?' : static_cast<char>(p[i]));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

struct Chunk {
    const uint8_t* id = nullptr;
    std::span<const uint8_t> body;
};

// Splits `area` into its chunks (8-byte header, body, pad byte after an odd
// body). Fails when a header or a body runs past the area.
bool splitChunks(std::span<const uint8_t> area, const std::string& where, std::vector<Chunk>& out, std::string& error) {
    size_t offset = 0;
    while (offset < area.size()) {
        if (area.size() - offset < 8) {
            error = "Damaged SoundFont: a chunk header in " + where + " is cut short.";
            return false;
        }
        const uint8_t* header = area.data() + offset;
        const uint32_t size = le32(header + 4);
        if (size > area.size() - offset - 8) {
            error = "Damaged SoundFont: the '" + fourcc(header) + "' chunk in " + where + " claims " +
                    std::to_string(size) + " bytes, but only " + std::to_string(area.size() - offset - 8) + " follow.";
            return false;
        }
        out.push_back({header, area.subspan(offset + 8, size)});
        offset += 8 + static_cast<size_t>(size);
        if ((size & 1) != 0 && offset < area.size()) ++offset;  // RIFF pad byte
    }
    return true;
}

// The record tables of the "pdta" list, each with its record size.
struct Table {
    const char* id;
    size_t recordSize;
    size_t minimumRecords;  // the terminal record counts
    std::span<const uint8_t> body{};
    bool found = false;
    size_t count() const { return body.size() / recordSize; }
    const uint8_t* record(size_t i) const { return body.data() + i * recordSize; }
};

class Parser {
public:
    // `mapping`, when the bytes are a mapped file's, keeps them alive for the
    // font's sample data to read in place; otherwise the font gets a copy of
    // the sample data.
    Parser(std::span<const uint8_t> bytes, std::shared_ptr<const MappedFile> mapping, std::string& error)
        : bytes_(bytes), mapping_(std::move(mapping)), error_(error) {}

    bool run(Sf2Font& font);

private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }
    bool readInfo(std::span<const uint8_t> body);
    bool readSampleData(std::span<const uint8_t> body);
    bool readPresetData(std::span<const uint8_t> body);
    bool readSamples();
    bool decodeSample(size_t index, Sf2Sample& sample);
    bool readZones(const Table& bags, const Table& gens, const Table& mods, size_t firstBag, size_t endBag,
                   const std::string& owner, std::vector<Sf2Zone>& zones);
    bool readPresets();
    bool readInstruments();

    std::span<const uint8_t> bytes_;
    std::shared_ptr<const MappedFile> mapping_;
    std::string& error_;
    Sf2Font font_;
    std::span<const uint8_t> sampleBytes_;  // the "smpl" chunk's body
    size_t plainSamples_ = 0;               // 16-bit samples of it, before decoded ones are added
    // Compressed data already decoded, by its byte range: where its samples lie.
    std::map<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>> decoded_;
    bool infoSeen_ = false, sampleDataSeen_ = false, presetDataSeen_ = false;
    Table phdr_{"phdr", 38, 1}, pbag_{"pbag", 4, 1}, pmod_{"pmod", 10, 0}, pgen_{"pgen", 4, 1}, inst_{"inst", 22, 1},
        ibag_{"ibag", 4, 1}, imod_{"imod", 10, 0}, igen_{"igen", 4, 1}, shdr_{"shdr", 46, 1};
};

bool Parser::run(Sf2Font& font) {
    if (bytes_.size() < 12)
        return fail("Not a SoundFont: the file is only " + std::to_string(bytes_.size()) + " bytes long.");
    if (!isId(bytes_.data(), "RIFF")) return fail("Not a SoundFont: the file is not a RIFF file.");
    if (!isId(bytes_.data() + 8, "sfbk"))
        return fail("Not a SoundFont: the RIFF form is '" + fourcc(bytes_.data() + 8) + "', not 'sfbk'.");
    const uint32_t riffSize = le32(bytes_.data() + 4);
    if (riffSize < 4) return fail("Damaged SoundFont: the RIFF size is too small.");
    if (riffSize > bytes_.size() - 8)
        return fail("Damaged SoundFont: the file is cut short (" + std::to_string(riffSize - (bytes_.size() - 8)) +
                    " bytes of its RIFF form are missing).");

    std::vector<Chunk> lists;
    if (!splitChunks(bytes_.subspan(12, riffSize - 4), "the RIFF form", lists, error_)) return false;
    for (const Chunk& chunk : lists) {
        if (!isId(chunk.id, "LIST") || chunk.body.size() < 4) continue;  // unknown chunks are skipped
        const uint8_t* type = chunk.body.data();
        const auto body = chunk.body.subspan(4);
        bool seen = false;
        bool ok = true;
        if (isId(type, "INFO")) {
            seen = std::exchange(infoSeen_, true);
            if (!seen) ok = readInfo(body);
        } else if (isId(type, "sdta")) {
            seen = std::exchange(sampleDataSeen_, true);
            if (!seen) ok = readSampleData(body);
        } else if (isId(type, "pdta")) {
            seen = std::exchange(presetDataSeen_, true);
            if (!seen) ok = readPresetData(body);
        }
        if (seen) return fail("Damaged SoundFont: the '" + fourcc(type) + "' list appears twice.");
        if (!ok) return false;
    }
    if (!infoSeen_) return fail("Damaged SoundFont: the 'INFO' list is missing.");
    if (!sampleDataSeen_) return fail("Damaged SoundFont: the sample data ('sdta' list) is missing.");
    if (!presetDataSeen_) return fail("Damaged SoundFont: the preset data ('pdta' list) is missing.");
    if (!readSamples() || !readInstruments() || !readPresets()) return false;
    font = std::move(font_);
    return true;
}

bool Parser::readInfo(std::span<const uint8_t> body) {
    std::vector<Chunk> chunks;
    if (!splitChunks(body, "the 'INFO' list", chunks, error_)) return false;
    bool versionSeen = false;
    for (const Chunk& chunk : chunks) {
        if (isId(chunk.id, "ifil")) {
            if (chunk.body.size() != 4)
                return fail("Damaged SoundFont: the version chunk ('ifil') is " + std::to_string(chunk.body.size()) +
                            " bytes long instead of 4.");
            font_.versionMajor = le16(chunk.body.data());
            font_.versionMinor = le16(chunk.body.data() + 2);
            versionSeen = true;
        } else if (isId(chunk.id, "INAM")) {
            font_.name = nameField(chunk.body.data(), chunk.body.size());
        }
    }
    if (!versionSeen) return fail("Damaged SoundFont: the version chunk ('ifil') is missing.");
    if (font_.versionMajor != 2 && font_.versionMajor != 3)
        return fail("Unsupported SoundFont version " + std::to_string(font_.versionMajor) + "." +
                    std::to_string(font_.versionMinor) + "; only version 2 and 3 files can be imported.");
    return true;
}

bool Parser::readSampleData(std::span<const uint8_t> body) {
    std::vector<Chunk> chunks;
    if (!splitChunks(body, "the 'sdta' list", chunks, error_)) return false;
    bool found = false;
    for (const Chunk& chunk : chunks) {
        if (!isId(chunk.id, "smpl")) continue;  // "sm24" adds 8 low bits that a 16-bit bank drops
        if (found) return fail("Damaged SoundFont: the sample data ('smpl') appears twice.");
        found = true;
        // An odd byte count is refused once the samples show there is no compressed data.
        sampleBytes_ = chunk.body;
        plainSamples_ = chunk.body.size() / 2;
        if (mapping_) {
            font_.sampleData.setPlain(chunk.body, mapping_, mapping_.get());
        } else {
            auto copy = std::make_shared<const std::vector<uint8_t>>(chunk.body.begin(), chunk.body.end());
            font_.sampleData.setPlain(*copy, copy, nullptr);
        }
    }
    return true;
}

bool Parser::readPresetData(std::span<const uint8_t> body) {
    std::vector<Chunk> chunks;
    if (!splitChunks(body, "the 'pdta' list", chunks, error_)) return false;
    Table* tables[] = {&phdr_, &pbag_, &pmod_, &pgen_, &inst_, &ibag_, &imod_, &igen_, &shdr_};
    for (const Chunk& chunk : chunks)
        for (Table* table : tables)
            if (isId(chunk.id, table->id)) {
                if (table->found)
                    return fail(std::string("Damaged SoundFont: the '") + table->id + "' chunk appears twice.");
                table->found = true;
                table->body = chunk.body;
            }
    for (const Table* table : tables) {
        if (!table->found) return fail(std::string("Damaged SoundFont: the '") + table->id + "' chunk is missing.");
        if (table->body.size() % table->recordSize != 0)
            return fail(std::string("Damaged SoundFont: the '") + table->id + "' chunk holds " +
                        std::to_string(table->body.size()) + " bytes, not a whole number of " +
                        std::to_string(table->recordSize) + "-byte records.");
        if (table->count() < table->minimumRecords)
            return fail(std::string("Damaged SoundFont: the '") + table->id + "' chunk lacks its terminal record.");
    }
    return true;
}

bool Parser::readSamples() {
    const size_t count = shdr_.count() - 1;  // the last record only ends the list
    font_.samples.resize(count);
    bool compressed = false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* r = shdr_.record(i);
        Sf2Sample& s = font_.samples[i];
        s.name = nameField(r, 20);
        s.start = le32(r + 20);
        s.end = le32(r + 24);
        s.loopStart = le32(r + 28);
        s.loopEnd = le32(r + 32);
        s.sampleRate = le32(r + 36);
        s.originalPitch = r[40];
        s.pitchCorrection = static_cast<int8_t>(r[41]);
        s.link = le16(r + 42);
        s.type = le16(r + 44);
        const std::string which = "sample " + std::to_string(i) + " " + quoted(s.name);
        if ((s.type & Sf2SampleType::Rom) != 0) continue;  // not in the file; the importer skips it
        if ((s.type & Sf2SampleType::Compressed) != 0) {
            compressed = true;
            if (!decodeSample(i, s)) return false;
        } else if (s.start > s.end || s.end > plainSamples_) {
            return fail("Damaged SoundFont: " + which + " spans " + std::to_string(s.start) + ".." +
                        std::to_string(s.end) + ", outside the " + std::to_string(plainSamples_) +
                        " samples of sample data.");
        }
        if (s.sampleRate == 0) return fail("Damaged SoundFont: " + which + " has a sample rate of 0.");
        if ((s.type & (Sf2SampleType::Left | Sf2SampleType::Right | Sf2SampleType::Linked)) != 0 && s.link >= count)
            return fail("Damaged SoundFont: " + which + " is linked to sample " + std::to_string(s.link) +
                        ", but the file has " + std::to_string(count) + " samples.");
    }
    if (!compressed && sampleBytes_.size() % 2 != 0)
        return fail("Damaged SoundFont: the sample data ('smpl') has an odd byte count.");
    return true;
}

// A compressed sample's start and end are byte offsets of its Ogg stream in
// the "smpl" chunk, and its loop points count decoded samples from its first
// one. Its decoded samples are added to the sample data, and the header is
// rewritten to point at them like any other sample's.
bool Parser::decodeSample(size_t index, Sf2Sample& s) {
    const std::string which = "sample " + std::to_string(index) + " " + quoted(s.name);
    if (s.start >= s.end || s.end > sampleBytes_.size())
        return fail("Damaged SoundFont: the compressed data of " + which + " spans bytes " + std::to_string(s.start) +
                    ".." + std::to_string(s.end) + ", not a range inside the " + std::to_string(sampleBytes_.size()) +
                    " bytes of sample data.");
    const auto range = std::make_pair(s.start, s.end);
    auto found = decoded_.find(range);
    if (found == decoded_.end()) {
        const size_t first = font_.sampleData.size();
        if (first >= kMostSampleData)
            return fail("The SoundFont's samples decode to more than " + std::to_string(kMostSampleData) +
                        " samples; it is too large to import.");
        std::string why;
        if (!OggSampleDecoder::decode(sampleBytes_.subspan(s.start, s.end - s.start), font_.sampleData.decoded(), why,
                                      kMostSampleData - first))
            return fail("Damaged SoundFont: the compressed data of " + which + " " + why + ".");
        found = decoded_
                    .emplace(range, std::make_pair(static_cast<uint32_t>(first),
                                                   static_cast<uint32_t>(font_.sampleData.size())))
                    .first;
    }
    const uint32_t first = found->second.first;
    const auto moved = [first](uint32_t relative) {
        return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{first} + relative, UINT32_MAX));
    };
    s.loopStart = moved(s.loopStart);
    s.loopEnd = moved(s.loopEnd);
    s.start = first;
    s.end = found->second.second;
    return true;
}

// Reads the zones of bags firstBag .. endBag - 1: each bag's generators run
// up to the next bag's first generator.
bool Parser::readZones(const Table& bags, const Table& gens, const Table& mods, size_t firstBag, size_t endBag,
                       const std::string& owner, std::vector<Sf2Zone>& zones) {
    for (size_t b = firstBag; b < endBag; ++b) {
        const uint16_t genBegin = le16(bags.record(b)), genEnd = le16(bags.record(b + 1));
        const uint16_t modBegin = le16(bags.record(b) + 2), modEnd = le16(bags.record(b + 1) + 2);
        if (genBegin > genEnd || genEnd > gens.count())
            return fail("Damaged SoundFont: a zone of " + owner + " names generators " + std::to_string(genBegin) +
                        ".." + std::to_string(genEnd) + " of " + std::to_string(gens.count()) + " in '" + gens.id +
                        "'.");
        if (modBegin > modEnd || modEnd > mods.count())
            return fail("Damaged SoundFont: a zone of " + owner + " names modulators " + std::to_string(modBegin) +
                        ".." + std::to_string(modEnd) + " of " + std::to_string(mods.count()) + " in '" + mods.id +
                        "'.");
        Sf2Zone zone;
        zone.modulators = static_cast<uint32_t>(modEnd - modBegin);
        zone.modulatorList.reserve(modEnd - modBegin);
        for (size_t m = modBegin; m < modEnd; ++m) {
            const uint8_t* record = mods.record(m);
            zone.modulatorList.push_back({le16(record), le16(record + 2), static_cast<int16_t>(le16(record + 4)),
                                          le16(record + 6), le16(record + 8)});
        }
        zone.generators.reserve(genEnd - genBegin);
        for (size_t g = genBegin; g < genEnd; ++g)
            zone.generators.push_back({le16(gens.record(g)), le16(gens.record(g) + 2)});
        zones.push_back(std::move(zone));
    }
    return true;
}

bool Parser::readInstruments() {
    const size_t count = inst_.count() - 1;
    font_.instruments.resize(count);
    for (size_t i = 0; i < count; ++i) {
        Sf2Instrument& instrument = font_.instruments[i];
        instrument.name = nameField(inst_.record(i), 20);
        const std::string owner = "instrument " + std::to_string(i) + " " + quoted(instrument.name);
        const uint16_t first = le16(inst_.record(i) + 20), end = le16(inst_.record(i + 1) + 20);
        if (first > end || end >= ibag_.count())
            return fail("Damaged SoundFont: " + owner + " names zones " + std::to_string(first) + ".." +
                        std::to_string(end) + " of " + std::to_string(ibag_.count() - 1) + " in 'ibag'.");
        if (!readZones(ibag_, igen_, imod_, first, end, owner, instrument.zones)) return false;
        for (const Sf2Zone& zone : instrument.zones)
            for (const Sf2Generator& gen : zone.generators)
                if (gen.oper == Sf2Gen::SampleID && gen.amount >= font_.samples.size())
                    return fail("Damaged SoundFont: " + owner + " names sample " + std::to_string(gen.amount) +
                                ", but the file has " + std::to_string(font_.samples.size()) + " samples.");
    }
    return true;
}

bool Parser::readPresets() {
    const size_t count = phdr_.count() - 1;
    font_.presets.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* r = phdr_.record(i);
        Sf2Preset& preset = font_.presets[i];
        preset.name = nameField(r, 20);
        preset.program = le16(r + 20);
        preset.bank = le16(r + 22);
        const std::string owner =
            "preset " + std::to_string(preset.bank) + ":" + std::to_string(preset.program) + " " + quoted(preset.name);
        const uint16_t first = le16(r + 24), end = le16(phdr_.record(i + 1) + 24);
        if (first > end || end >= pbag_.count())
            return fail("Damaged SoundFont: " + owner + " names zones " + std::to_string(first) + ".." +
                        std::to_string(end) + " of " + std::to_string(pbag_.count() - 1) + " in 'pbag'.");
        if (!readZones(pbag_, pgen_, pmod_, first, end, owner, preset.zones)) return false;
        for (const Sf2Zone& zone : preset.zones)
            for (const Sf2Generator& gen : zone.generators)
                if (gen.oper == Sf2Gen::Instrument && gen.amount >= font_.instruments.size())
                    return fail("Damaged SoundFont: " + owner + " names instrument " + std::to_string(gen.amount) +
                                ", but the file has " + std::to_string(font_.instruments.size()) + " instruments.");
    }
    return true;
}

}  // namespace

bool Sf2Reader::parse(std::span<const uint8_t> bytes, Sf2Font& font, std::string& error) {
    Parser parser(bytes, nullptr, error);
    return parser.run(font);
}

bool Sf2Reader::readFile(const std::string& path, Sf2Font& font, std::string& error) {
    // RIFF sizes are 32-bit: a larger file cannot be one SoundFont.
    constexpr size_t kLargestFile = size_t{0xFFFFFFFFu} + 8;
    std::shared_ptr<const MappedFile> mapping = MappedFile::open(path, SIZE_MAX);
    if (!mapping) {
        error = "Cannot open the SoundFont file " + path + ".";
        return false;
    }
    if (mapping->size() > kLargestFile) {
        error = "Not a SoundFont: " + path + " is too large.";
        return false;
    }
    // The sample data is read in place from the mapping, a piece at a time.
    Parser parser(std::span<const uint8_t>(mapping->data(), mapping->size()), mapping, error);
    return parser.run(font);
}

}  // namespace tonvero
