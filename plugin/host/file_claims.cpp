#include "plugin/host/file_claims.h"

#include <string_view>

#include "host/sdk/text.h"
#include "platform/text/text.h"
#include "plugin/host/settings.h"

namespace corvina {
namespace {

constexpr char kFileScheme[] = "file://";

// A new COM string holding `text` (UTF-8) as UTF-16, or an empty reference
// when the text is empty or not valid UTF-8.
platform::Bstr Utf8ToBstr(const char* text) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 1) return {};
    platform::Bstr out = platform::Bstr::Adopt(SysAllocStringLen(nullptr, static_cast<UINT>(units - 1)));
    if (!out.Get()) return {};
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out.Get(), units) != units) return {};
    return out;
}

}  // namespace

bool ClaimsExtension(const char* extension) {
    for (const char* ours : {"oma", "omg", "kdr"}) {
        if (stricmp_utf8(extension, ours) == 0) return true;
    }
    return cfg_support_3gp.get() && stricmp_utf8(extension, "3gp") == 0;
}

platform::Bstr LibraryPathOf(const char* host_path) {
    if (!host_path) return {};
    if (fb2k::starts_with_nocase(std::string_view(host_path), kFileScheme))
        return Utf8ToBstr(host_path + sizeof(kFileScheme) - 1);
    return Utf8ToBstr(host_path);
}

}  // namespace corvina
