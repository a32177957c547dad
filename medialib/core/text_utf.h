// UTF-8 <-> UTF-16 conversion for the engine. Tag libraries hand out UTF-8;
// the attribute model holds UTF-16. Invalid sequences become U+FFFD so that a
// damaged tag never stops a file from opening.
#pragma once

#include <string>
#include <string_view>

namespace medialib {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace medialib
