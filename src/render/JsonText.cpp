#include "render/JsonText.h"

#include "bank/Utf8.h"

#include <cstdint>
#include <cstdio>

namespace tonvero {

namespace {

void appendEscape(std::string& out, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", value);
    out += text;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool object(std::map<std::string, JsonValue>& fields) {
        space();
        if (!take('{')) return false;
        space();
        if (take('}')) return true;
        for (;;) {
            space();
            std::string key;
            if (!string(key)) return false;
            space();
            if (!take(':')) return false;
            JsonValue v;
            if (!value(v, 0)) return false;
            fields[key] = std::move(v);
            space();
            if (take('}')) return true;
            if (!take(',')) return false;
        }
    }
    bool atEnd() {
        space();
        return pos_ == text_.size();
    }

private:
    bool value(JsonValue& v, int depth) {
        if (depth > 32) return false;
        space();
        if (pos_ >= text_.size()) return false;
        const char c = text_[pos_];
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return string(v.text);
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++pos_;
            space();
            if (take(']')) return true;
            for (;;) {
                JsonValue item;
                if (!value(item, depth + 1)) return false;
                v.items.push_back(std::move(item));
                space();
                if (take(']')) return true;
                if (!take(',')) return false;
            }
        }
        if (c == '{') {
            const size_t start = pos_;
            std::map<std::string, JsonValue> inner;
            if (!object(inner)) return false;
            v.kind = JsonValue::Kind::Object;
            v.text = std::string(text_.substr(start, pos_ - start));
            return true;
        }
        for (const char* word : {"true", "false", "null"}) {
            const std::string_view w(word);
            if (text_.substr(pos_, w.size()) == w) {
                v.kind = w == "null" ? JsonValue::Kind::Null : JsonValue::Kind::Bool;
                v.text = word;
                pos_ += w.size();
                return true;
            }
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && (std::string_view("+-.eE0123456789").find(text_[pos_]) != std::string_view::npos))
            ++pos_;
        if (pos_ == start) return false;
        v.kind = JsonValue::Kind::Number;
        v.text = std::string(text_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(uint32_t& value) {
        if (pos_ + 4 > text_.size()) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool string(std::string& out) {
        if (!take('"')) return false;
        out.clear();
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<uint8_t>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const char e = text_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xDC80 && code <= 0xDCFF) {
                    out += static_cast<char>(code & 0xFF);  // a byte that was not UTF-8
                } else if (code >= 0xD800 && code <= 0xDBFF) {
                    uint32_t low = 0;
                    if (pos_ + 2 > text_.size() || text_[pos_] != '\\' || text_[pos_ + 1] != 'u') return false;
                    pos_ += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                } else {
                    appendUtf8(out, code);
                }
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    void space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) ++pos_;
    }
    bool take(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        const size_t length = utf8Length(bytes, i);
        if (length == 0) {
            appendEscape(out, 0xDC00u | b);
            ++i;
            continue;
        }
        if (length == 1) {
            switch (b) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (b < 0x20 || b == 0x7F)
                    appendEscape(out, b);
                else
                    out += static_cast<char>(b);
            }
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    out += '"';
    return out;
}

bool parseJsonObjectLine(std::string_view line, std::map<std::string, JsonValue>& fields) {
    Reader reader(line);
    return reader.object(fields) && reader.atEnd();
}

}  // namespace tonvero
