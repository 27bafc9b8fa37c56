#include "bank/BankJson.h"

#include "bank/ArticulationField.h"
#include "bank/Utf8.h"

#include <algorithm>
#include <cstdio>

namespace tonvero {

namespace {

void appendEscaped(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
        } else if (const size_t n = utf8Length(s, i); n > 0) {
            out.append(s.substr(i, n));
            i += n;
        } else {  // a stray byte: its Latin-1 character, encoded as UTF-8
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    out += '"';
}

void appendField(std::string& out, const char* key, int64_t value, bool first = false) {
    if (!first) out += ',';
    out += '"';
    out += key;
    out += "\":";
    out += std::to_string(value);
}

void appendWave(std::string& out, const Wave& w) {
    int64_t sum = 0;
    for (int16_t v : w.samples) sum += v;
    out += "{\"name\":";
    appendEscaped(out, w.name);
    appendField(out, "sampleCount", w.sampleCount);
    appendField(out, "loopBegin", w.loopBegin);
    appendField(out, "loopEnd", w.loopEnd);
    appendField(out, "holdPos", w.holdPos);
    appendField(out, "frequency", w.frequency);
    appendField(out, "looped", w.looped);
    appendField(out, "reserved", w.reserved);
    appendField(out, "sampleSum", sum);
    out += '}';
}

void appendKey(std::string& out, std::string_view key) {
    out += '"';
    out += key;
    out += "\":";
}

// The fields in stored order, those of one envelope or LFO in an object of its own.
void appendArticulation(std::string& out, const ZoneArticulation& a) {
    out += ",\"articulation\":{";
    std::string_view group;
    bool first = true;
    for (const ArticulationField& field : articulationFields()) {
        if (field.group != group) {
            if (!group.empty()) out += '}';
            if (!field.group.empty()) {
                if (!first) out += ',';
                appendKey(out, field.group);
                out += '{';
                first = true;
            }
            group = field.group;
        }
        if (!first) out += ',';
        first = false;
        appendKey(out, field.name);
        const int32_t value = field.get(a);
        if (field.kind == ArticulationField::Kind::Flag) {
            out += value ? "true" : "false";
        } else {
            out += std::to_string(value);
        }
    }
    if (!group.empty()) out += '}';
    out += '}';
}

// A kit also shows its program number, first.
void appendInstrument(std::string& out, const Instrument& in, int32_t kitProgram = -1) {
    out += '{';
    if (kitProgram >= 0) {
        appendField(out, "program", kitProgram, true);
        out += ',';
    }
    out += "\"name\":";
    appendEscaped(out, in.name);
    appendField(out, "index", in.index);
    appendField(out, "loopFading", in.loopFading);
    appendField(out, "sustainFading", in.sustainFading);
    appendField(out, "cutoffFading", in.cutoffFading);
    out += ",\"zones\":[";
    for (int32_t z = 0; z < in.zones.count(); ++z) {
        const Zone* zone = in.zones[z];
        if (z > 0) out += ',';
        out += '{';
        appendField(out, "rangeStart", zone->rangeStart, true);
        appendField(out, "rangeEnd", zone->rangeEnd);
        appendField(out, "basicNote", zone->basicNote);
        out += ",\"wave\":";
        if (zone->wave) {
            appendWave(out, *zone->wave);
        } else {
            out += "null";
        }
        if (zone->articulation) appendArticulation(out, *zone->articulation);
        out += '}';
    }
    out += "]}";
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out;
    appendEscaped(out, text);
    return out;
}

std::string bankToJson(const Bank& bank) {
    std::string out = "{\"programMap\":[";
    for (size_t p = 0; p < bank.programMap.size(); ++p) {
        if (p > 0) out += ',';
        out += std::to_string(bank.programMap[p]);
    }
    out += "],\"instruments\":[";
    bool first = true;
    for (int32_t slot = 0; slot < bank.instrumentCount && slot < Bank::kInstrumentSlots; ++slot) {
        const Instrument* in = bank.instruments[static_cast<size_t>(slot)].get();
        if (!in) continue;
        if (!first) out += ',';
        first = false;
        appendInstrument(out, *in);
    }
    out += ']';
    if (std::any_of(bank.kits.begin(), bank.kits.end(), [](const auto& kit) { return kit != nullptr; })) {
        out += ",\"kits\":[";
        first = true;
        for (int32_t program = 0; program < Bank::kKitSlots; ++program) {
            const Instrument* kit = bank.kits[static_cast<size_t>(program)].get();
            if (!kit) continue;
            if (!first) out += ',';
            first = false;
            appendInstrument(out, *kit, program);
        }
        out += ']';
    }
    out += '}';
    return out;
}

}  // namespace tonvero
