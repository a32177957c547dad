// UTF-8 <-> UTF-16 conversion for the engine. Tag libraries hand out UTF-8;
// the attribute model holds UTF-16. Invalid sequences become U+FFFD so that a
// damaged tag never stops a file from opening.
#pragma once

#include <string>
#include <string_view>

namespace medialib {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace medialib
