// Path conversion, splitting, full paths, the temporary folder and module paths.

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files/fileobject.h"
#include "platform/text/text.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Windows caps full paths at 32767 units.
constexpr size_t kLongestPath = 32767;

// Copies `value` by the buffer rules that GetFullPathNameW and GetTempPathW
// share: the length without NUL when it fits, else the size needed with NUL.
DWORD CopyOut(const std::u16string& value, DWORD size, LPWSTR buffer) {
    if (!buffer || size < value.size() + 1) return static_cast<DWORD>(value.size() + 1);
    std::memcpy(buffer, value.data(), value.size() * sizeof(char16_t));
    buffer[value.size()] = 0;
    return static_cast<DWORD>(value.size());
}

// Copies by GetModuleFileNameW's rules: truncated with a NUL when too long.
DWORD CopyTruncated(const std::u16string& value, DWORD size, LPWSTR buffer) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (value.size() < size) {
        std::memcpy(buffer, value.data(), value.size() * sizeof(char16_t));
        buffer[value.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(value.size());
    }
    std::memcpy(buffer, value.data(), (size - 1) * sizeof(char16_t));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

bool CopyPart(std::u16string_view part, LPWSTR buffer, size_t size) {
    if (!buffer) return true;
    if (part.size() + 1 > size) return false;
    std::memcpy(buffer, part.data(), part.size() * sizeof(char16_t));
    buffer[part.size()] = 0;
    return true;
}

// The file of a loaded object, resolved; the executable's own entry has no name.
std::u16string PathOfLoadedObject(const struct link_map& map) {
    if (!map.l_name || !*map.l_name) return platform::ExecutablePath();
    char* resolved = realpath(map.l_name, nullptr);
    std::u16string path = platform::FromNativePath(resolved ? resolved : map.l_name);
    std::free(resolved);
    return path;
}

}  // namespace

namespace platform {

// File names are bytes here; most are UTF-8, but not all. A byte that does
// not belong to a valid UTF-8 sequence is carried as the lone surrogate
// U+DC80 to U+DCFF (the low byte is the byte itself, as Python's
// "surrogateescape" does), and turned back into that byte on the way out, so
// every existing name reaches the file system unchanged. Valid UTF-8 never
// decodes to these code points (surrogates cannot be encoded in UTF-8).
std::string NativePath(std::u16string_view path) {
    std::string out;
    out.reserve(path.size());
    size_t start = 0;  // the run of units that is ordinary UTF-16
    for (size_t i = 0; i <= path.size(); ++i) {
        const bool escaped = i < path.size() && path[i] >= 0xDC80 && path[i] <= 0xDCFF &&
                             (i == 0 || path[i - 1] < 0xD800 || path[i - 1] > 0xDBFF);
        if (i < path.size() && !escaped) continue;
        out += Utf16ToUtf8(path.substr(start, i - start));
        if (i < path.size()) out.push_back(static_cast<char>(path[i] & 0xFF));
        start = i + 1;
    }
    return out;
}

std::u16string FromNativePath(std::string_view path) {
    std::u16string out;
    out.reserve(path.size());
    const auto* p = reinterpret_cast<const unsigned char*>(path.data());
    const size_t n = path.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        // The length and lowest code point of a sequence led by `b`.
        size_t length = 0;
        char32_t minimum = 0;
        char32_t c = 0;
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2, minimum = 0x80, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, minimum = 0x800, c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, minimum = 0x10000, c = b & 0x07;
        }
        bool valid = length != 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        valid = valid && c >= minimum && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (!valid) {
            out.push_back(static_cast<char16_t>(0xDC00 + b));  // b >= 0x80: U+DC80..U+DCFF
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return out;
}

PathParts SplitWindowsPath(std::u16string_view path) {
    PathParts parts;
    if (path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    size_t name_start = 0;
    for (size_t i = 0; i < path.size(); ++i)
        if (IsSeparator(path[i])) name_start = i + 1;
    parts.folder = path.substr(0, name_start);
    std::u16string_view file = path.substr(name_start);
    size_t dot = file.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

std::u16string FolderOf(std::u16string_view path) {
    PathParts parts = SplitWindowsPath(path);
    return parts.drive + parts.folder;
}

std::u16string FileNameOf(std::u16string_view path) {
    PathParts parts = SplitWindowsPath(path);
    return parts.name + parts.extension;
}

std::u16string BaseNameOf(std::u16string_view path) { return SplitWindowsPath(path).name; }

std::u16string ExtensionOf(std::u16string_view path) { return SplitWindowsPath(path).extension; }

std::optional<std::u16string> FullPath(std::u16string_view path) {
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    std::u16string whole;
    if (path.front() != u'/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE || cwd.size() > (1u << 20)) {
                SetLastError(ErrorFromErrno(errno));
                return std::nullopt;
            }
            cwd.resize(cwd.size() * 2);
        }
        whole = FromNativePath(cwd.data());
        whole += u'/';
    }
    whole += path;

    // Collapse "." and ".." and repeated separators; ".." stops at the root.
    std::vector<std::u16string_view> segments;
    std::u16string_view rest(whole);
    while (!rest.empty()) {
        size_t slash = rest.find(u'/');
        std::u16string_view segment = rest.substr(0, slash);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
        if (segment.empty() || segment == u".") continue;
        if (segment == u"..") {
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        segments.push_back(segment);
    }
    std::u16string result;
    for (std::u16string_view segment : segments) {
        result += u'/';
        result += segment;
    }
    if (result.empty() || path.back() == u'/') result += u'/';
    if (result.size() > kLongestPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return std::nullopt;
    }
    return result;
}

std::u16string ExecutablePath() {
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return FromNativePath(std::string_view(buffer.data(), static_cast<size_t>(n)));
}

std::u16string ModulePathOf(const void* address) {
    Dl_info info{};
    struct link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) return {};
    return PathOfLoadedObject(*map);
}

}  // namespace platform

DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (lpFilePart) *lpFilePart = nullptr;
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::optional<std::u16string> full = platform::FullPath(lpFileName);
    if (!full) return 0;
    DWORD result = CopyOut(*full, nBufferLength, lpBuffer);
    if (result == full->size() && lpFilePart) {
        size_t name_start = 0;
        for (size_t i = 0; i < full->size(); ++i)
            if (IsSeparator((*full)[i])) name_start = i + 1;
        *lpFilePart = name_start < full->size() ? lpBuffer + name_start : nullptr;
    }
    return result;
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::u16string folder = platform::FromNativePath(tmpdir && *tmpdir ? tmpdir : "/tmp");
    std::optional<std::u16string> full = platform::FullPath(folder);
    if (!full) return 0;
    if (full->back() != u'/') *full += u'/';
    return CopyOut(*full, nBufferLength, lpBuffer);
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::u16string path;
    if (!hModule) {
        path = platform::ExecutablePath();
    } else {
        struct link_map* map = nullptr;
        if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map) path = PathOfLoadedObject(*map);
    }
    if (path.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return CopyTruncated(path, nSize, lpFilename);
}

errno_t _wsplitpath_s(LPCWSTR path, LPWSTR drive, size_t driveNumberOfElements, LPWSTR dir,
                      size_t dirNumberOfElements, LPWSTR fname, size_t nameNumberOfElements, LPWSTR ext,
                      size_t extNumberOfElements) {
    auto clear = [&] {
        if (drive && driveNumberOfElements) drive[0] = 0;
        if (dir && dirNumberOfElements) dir[0] = 0;
        if (fname && nameNumberOfElements) fname[0] = 0;
        if (ext && extNumberOfElements) ext[0] = 0;
    };
    auto mismatched = [](LPWSTR buffer, size_t size) { return (buffer == nullptr) != (size == 0); };
    if (!path || mismatched(drive, driveNumberOfElements) || mismatched(dir, dirNumberOfElements) ||
        mismatched(fname, nameNumberOfElements) || mismatched(ext, extNumberOfElements)) {
        clear();
        return EINVAL;
    }
    platform::PathParts parts = platform::SplitWindowsPath(path);
    if (!CopyPart(parts.drive, drive, driveNumberOfElements) ||
        !CopyPart(parts.folder, dir, dirNumberOfElements) ||
        !CopyPart(parts.name, fname, nameNumberOfElements) ||
        !CopyPart(parts.extension, ext, extNumberOfElements)) {
        clear();
        return ERANGE;
    }
    return 0;
}
