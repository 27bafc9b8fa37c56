#pragma once
// UTF-8 as text files store it: how long the valid sequence at a place is,
// for writers that keep valid text as it is and escape the rest.

#include <cstddef>
#include <string_view>

namespace tonvero {

// The length (1 to 4) of the valid UTF-8 sequence starting at bytes[i], or 0
// when none starts there: a stray continuation byte, a sequence cut short,
// an overlong form, a surrogate or a value past U+10FFFF. `i` < bytes.size().
size_t utf8Length(std::string_view bytes, size_t i);

}  // namespace tonvero
