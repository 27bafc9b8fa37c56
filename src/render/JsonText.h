#pragma once
// JSON text for the render manifest: strings written from any bytes, and one
// line of it read back (a flat object of strings, numbers, booleans, null,
// arrays of those and objects, which are kept as their raw text).
//
// Bytes that are not UTF-8 cannot be a JSON string's characters; each such
// byte 0xXY is written as the escape \udcXY (a lone low surrogate, as
// Python's "surrogateescape" reads and writes them), so the exact bytes of a
// path come back from the text. Control characters are escaped, "\" and the
// quote too; everything else that is valid UTF-8 is written as it is.
//
// Pure functions; any thread.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tonvero {

// `bytes` as a JSON string, quotes included.
std::string jsonString(std::string_view bytes);

// A JSON value as read from a line: a string's bytes (escapes undone, \udcXY
// back to byte 0xXY), or the raw text of a number, boolean, null or object;
// an array's items.
struct JsonValue {
    enum class Kind { String, Number, Bool, Null, Array, Object };
    Kind kind = Kind::Null;
    std::string text;
    std::vector<JsonValue> items;
};

// Reads one line holding one JSON object into `fields` (key to value).
// False for anything else (a line cut off, text after the object), with
// `fields` then unspecified.
bool parseJsonObjectLine(std::string_view line, std::map<std::string, JsonValue>& fields);

}  // namespace tonvero
