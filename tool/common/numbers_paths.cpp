#include "tool/common/numbers_paths.h"

#include <vector>

#include "platform/files/files.h"

namespace quillet {

LONG ParseNumber(LPCWSTR text) {
    if (!text || !*text) return 0;
    bool negative = false;
    if (*text == u'+' || *text == u'-') {
        negative = *text == u'-';
        ++text;
        if (!*text) return 0;
    }
    bool hexadecimal = false;
    if (text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        hexadecimal = true;
        text += 2;
    }
    uint32_t value = 0;  // unsigned: the sum wraps instead of overflowing
    for (; *text; ++text) {
        const char16_t c = *text;
        uint32_t digit;
        if (c >= u'0' && c <= u'9') {
            digit = static_cast<uint32_t>(c - u'0');
        } else if (hexadecimal && c >= u'a' && c <= u'f') {
            digit = static_cast<uint32_t>(c - u'a' + 10);
        } else if (hexadecimal && c >= u'A' && c <= u'F') {
            digit = static_cast<uint32_t>(c - u'A' + 10);
        } else {
            break;
        }
        value = value * (hexadecimal ? 16u : 10u) + digit;
    }
    if (!hexadecimal && negative) value = 0u - value;
    return static_cast<LONG>(value);
}

bool GetFullPath(LPCWSTR path, std::u16string* full_path) {
    if (!path || !*path) return false;
    const DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (size == 0) return false;
    std::vector<WCHAR> buffer(size + 1, u'\0');
    const DWORD length = GetFullPathNameW(path, size, buffer.data(), nullptr);
    if (length + 1 != size) return false;
    full_path->assign(buffer.data(), length);
    return true;
}

DWORD SplitPath(LPCWSTR path, std::u16string* full_path, std::u16string* folder, std::u16string* base_name,
                std::u16string* extension) {
    std::u16string full;
    if (!GetFullPath(path, &full)) return 0;
    // The file name part begins after the last separator of either kind.
    const size_t separator = full.find_last_of(u"\\/");
    const size_t name_start = separator == std::u16string::npos ? 0 : separator + 1;
    // The extension's dot must lie after the name's first character, so a
    // name such as ".profile" has no extension.
    size_t dot = full.rfind(u'.');
    if (dot == std::u16string::npos || dot <= name_start) dot = full.size();
    if (full_path) *full_path = full;
    if (folder) folder->assign(full, 0, name_start);
    if (base_name) base_name->assign(full, name_start, dot - name_start);
    if (extension) extension->assign(full, dot, std::u16string::npos);
    return static_cast<DWORD>(full.size());
}

bool OutputStem(LPCWSTR path, std::u16string* stem) {
    std::u16string folder;
    std::u16string base_name;
    if (SplitPath(path, nullptr, &folder, &base_name, nullptr) == 0 || folder.empty() || base_name.empty())
        return false;
    *stem = folder + base_name;
    return true;
}

bool IsExistingFile(LPCWSTR path) {
    if (!path) return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsMissingOrFolder(LPCWSTR path) { return !IsExistingFile(path); }

}  // namespace quillet
