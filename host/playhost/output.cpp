#include "host/playhost/output.h"

namespace playhost {

std::string EscapeValue(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

void WriteKeyValue(std::ostream& out, std::string_view key, std::string_view value) {
    out << key << '=' << EscapeValue(value) << '\n';
}

}  // namespace playhost
