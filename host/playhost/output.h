// The program's output protocol: one "key=value" line per fact. Values are
// written as they are, except that control characters (line breaks included)
// are escaped as \n, \r, \t or \xHH, so every fact stays on one line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace playhost {

std::string EscapeValue(std::string_view value);
// Numbers as the protocol writes them: with a fixed count of decimals
// ("1.50"), or in the shortest form that reads back the same value ("1.5").
std::string FixedNumber(double value, int decimals);
std::string ShortestNumber(double value);
void WriteKeyValue(std::ostream& out, std::string_view key, std::string_view value);
inline void WriteKeyValue(std::ostream& out, std::string_view key, const char* value) {
    WriteKeyValue(out, key, std::string_view(value ? value : ""));
}
inline void WriteKeyValue(std::ostream& out, std::string_view key, const std::string& value) {
    WriteKeyValue(out, key, std::string_view(value));
}
inline void WriteKeyValue(std::ostream& out, std::string_view key, bool value) {
    WriteKeyValue(out, key, value ? std::string_view("true") : std::string_view("false"));
}

}  // namespace playhost
