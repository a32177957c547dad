// UTF-8 text helpers of the host boundary.
#pragma once

#include <string>
#include <string_view>

// Compares two UTF-8 strings without regard to case (Unicode simple case
// folding per code point). Returns <0, 0 or >0 like strcmp. Bytes that are not
// valid UTF-8 compare by their byte value. Null pointers sort before any text.
int stricmp_utf8(const char* a, const char* b);
int stricmp_utf8(std::string_view a, std::string_view b);

namespace fb2k {
// True when `text` begins with `prefix`, ASCII letters compared without case.
bool starts_with_nocase(std::string_view text, std::string_view prefix);
}  // namespace fb2k
