#include "tool/tags/info_file.h"

#include <climits>
#include <memory>
#include <new>
#include <vector>

#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tool/common/console_output.h"
#include "tool/common/numbers_paths.h"
#include "tool/common/protected_files.h"

namespace quillet {
namespace {

using platform::UniqueHandle;

UniqueHandle OpenFile(LPCWSTR path, DWORD access, DWORD disposition) {
    HANDLE handle =
        CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return UniqueHandle(handle);
}

// Sizes `buffer` (zero-filled); false when the memory cannot be had.
template <class Buffer>
bool Resize(Buffer& buffer, size_t size) {
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The bytes of a file decoded by its mark; false when there is nothing to read.
bool DecodeBytes(const unsigned char* raw, size_t size, std::u16string* text) {
    if (size == 0 || size > static_cast<size_t>(INT_MAX)) return false;
    std::u16string decoded;
    if (size >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
        const size_t units = (size - 2) / 2;
        if (!Resize(decoded, units)) return false;
        for (size_t i = 0; i < units; ++i)
            decoded[i] = static_cast<char16_t>(raw[2 + 2 * i] | (raw[3 + 2 * i] << 8));
    } else {
        UINT code_page = CP_THREAD_ACP;
        const char* start = reinterpret_cast<const char*>(raw);
        int length = static_cast<int>(size);
        if (size >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) {
            code_page = CP_UTF8;
            start += 3;
            length -= 3;
        }
        if (length <= 0) return false;
        const int units = MultiByteToWideChar(code_page, 0, start, length, nullptr, 0);
        if (units <= 0) return false;
        if (!Resize(decoded, static_cast<size_t>(units))) return false;
        if (MultiByteToWideChar(code_page, 0, start, length, decoded.data(), units) != units) return false;
    }
    // The text ends at its first NUL character, as a string would.
    const size_t nul = decoded.find(u'\0');
    if (nul != std::u16string::npos) decoded.resize(nul);
    if (decoded.empty()) return false;
    *text = std::move(decoded);
    return true;
}

// The whole file decoded by its mark; false when there is nothing to read.
bool DecodeFile(LPCWSTR path, std::u16string* text) {
    if (!path || !*path) return false;
    UniqueHandle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) || high != 0 || size == 0)
        return false;
    // The code page conversions count in int, so a larger file could not be
    // decoded anyway; refusing it here spares reading gigabytes for nothing.
    if (size > static_cast<DWORD>(INT_MAX)) return false;

    // An allocation that fails reads nothing.
    std::vector<unsigned char> bytes;
    if (!Resize(bytes, static_cast<size_t>(size))) return false;
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), size, &read, nullptr) || read != size) return false;
    return DecodeBytes(bytes.data(), bytes.size(), text);
}

// Appends the "name=value" lines of a decoded info file to `list`.
void AppendInfoLines(std::u16string_view text, NameValueList& list) {
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find_first_of(u"\r\n", position);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string_view line(text.data() + position, end - position);
        if (!line.empty()) {
            const size_t equals = line.find(u'=');
            if (equals == std::u16string_view::npos) {
                list.Append(std::u16string_view(), line);
            } else {
                list.Append(line.substr(0, equals), line.substr(equals + 1));
            }
        }
        // A run of CR and LF ends the line; empty lines give nothing.
        position = text.find_first_not_of(u"\r\n", end);
        if (position == std::u16string::npos) break;
    }
}

enum class Encoding { Ansi, Utf16, Utf8 };

// True when `text` converts to the ANSI code page without the default character.
bool ConvertsExactly(std::u16string_view text) {
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    std::vector<char> buffer(static_cast<size_t>(size));
    BOOL used_default = FALSE;
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, buffer.data(), size, nullptr, &used_default);
    return !used_default;
}

// The encoding of `digit` for strings that all_exact says convert exactly.
Encoding ChooseEncoding(LONG digit, bool all_exact) {
    switch (digit) {
        case 1:
            return Encoding::Ansi;
        case 2:
            return Encoding::Utf16;
        case 8:
            return Encoding::Utf8;
        case 9:
            return all_exact ? Encoding::Ansi : Encoding::Utf8;
        default:
            return all_exact ? Encoding::Ansi : Encoding::Utf16;
    }
}

// Writes text in the chosen encoding; returns the number of bytes it gave.
size_t AppendEncoded(std::string& out, std::u16string_view text, Encoding encoding) {
    if (text.empty()) return 0;
    if (encoding == Encoding::Utf16) {
        for (char16_t unit : text) {
            out.push_back(static_cast<char>(unit & 0xFF));
            out.push_back(static_cast<char>(unit >> 8));
        }
        return text.size() * 2;
    }
    const UINT code_page = encoding == Encoding::Utf8 ? CP_UTF8 : CP_THREAD_ACP;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return 0;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(size));
    const int written =
        WideCharToMultiByte(code_page, 0, text.data(), length, out.data() + start, size, nullptr, nullptr);
    out.resize(start + static_cast<size_t>(written > 0 ? written : 0));
    return out.size() - start;
}

void AppendMark(std::string& out, Encoding encoding) {
    if (encoding == Encoding::Utf16) out.append("\xFF\xFE");
    if (encoding == Encoding::Utf8) out.append("\xEF\xBB\xBF");
}

void AppendLineEnd(std::string& out, Encoding encoding) {
    if (encoding == Encoding::Utf16) {
        out.append("\r\0\n\0", 4);
    } else {
        out.append("\r\n");
    }
}

void AppendEquals(std::string& out, Encoding encoding) {
    if (encoding == Encoding::Utf16) {
        out.append("=\0", 2);
    } else {
        out.push_back('=');
    }
}

// Creates the folder of `path` and replaces the file with `bytes`. False when
// the file cannot be created (a read-only file keeps its old content) or not
// every byte was written; a file cut short is removed rather than left behind
// as a shorter list of tags for a later import.
bool ReplaceFile(LPCWSTR path, const std::string& bytes) {
    if (!MayExportOnto(path)) return false;  // the audio file of this run, a FIFO, a device
    std::u16string folder;
    if (SplitPath(path, nullptr, &folder, nullptr, nullptr) != 0 && !folder.empty())
        SHCreateDirectory(nullptr, folder.c_str());
    UniqueHandle file = OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return false;
    if (bytes.empty()) return true;
    DWORD written = 0;
    if (bytes.size() <= 0xFFFFFFFFu &&
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size()) {
        return true;
    }
    file.reset();
    DeleteFileW(path);
    return false;
}

}  // namespace

void ReadInfoFile(LPCWSTR path, NameValueList& list) {
    std::u16string text;
    if (DecodeFile(path, &text)) AppendInfoLines(text, list);
}

void ReadInfoBytes(std::span<const uint8_t> bytes, NameValueList& list) {
    std::u16string text;
    if (DecodeBytes(bytes.data(), bytes.size(), &text)) AppendInfoLines(text, list);
}

bool ReadTextFile(LPCWSTR path, std::u16string* text) { return DecodeFile(path, text); }

bool WriteInfoFile(const NameValueList& list, LPCWSTR path, LONG digit) {
    // One line per entry: a CR or LF inside a name or value would end it
    // early and the rest would come back as another entry (or be lost).
    struct Line {
        bool has_name, has_value;
        std::u16string name, value;
    };
    std::vector<Line> lines;
    for (const NameValueList::Entry& entry : list)
        lines.push_back({entry.HasName(), entry.HasValue(), OneLine(entry.name), OneLine(entry.value)});

    // The exactness test stops at the first string that fails.
    bool all_exact = true;
    for (const Line& line : lines) {
        if (!ConvertsExactly(line.name) || !ConvertsExactly(line.value)) {
            all_exact = false;
            break;
        }
    }
    const Encoding encoding = ChooseEncoding(digit, all_exact);
    std::string bytes;
    AppendMark(bytes, encoding);
    for (const Line& line : lines) {
        if (line.has_name) {
            const size_t name_bytes = AppendEncoded(bytes, line.name, encoding);
            if (encoding == Encoding::Utf16 || name_bytes > 0) AppendEquals(bytes, encoding);
        }
        if (line.has_value) AppendEncoded(bytes, line.value, encoding);
        if (line.has_name || line.has_value) AppendLineEnd(bytes, encoding);
    }
    return ReplaceFile(path, bytes);
}

bool WriteTextFile(LPCWSTR path, LPCWSTR text, LONG digit) {
    const std::u16string_view view = text ? std::u16string_view(text) : std::u16string_view();
    const Encoding encoding = ChooseEncoding(digit, ConvertsExactly(view));
    std::string bytes;
    AppendMark(bytes, encoding);
    AppendEncoded(bytes, view, encoding);
    return ReplaceFile(path, bytes);
}

bool ExportInfoFiles(const NameValueList& info, const NameValueList& attributes, bool force_write) {
    bool written = false;
    for (const NameValueList::Entry& entry : info) {
        std::u16string stem;
        if (!OutputStem(entry.Value(), &stem)) continue;
        const std::u16string name = stem + u".info";
        if (!force_write && !IsMissingOrFolder(name.c_str())) continue;
        // A file that could not be replaced (read-only, say) still exists with
        // its old content: only a write that went through counts.
        if (WriteInfoFile(attributes, name.c_str(), ParseNumber(entry.Name())) &&
            IsExistingFile(name.c_str())) {
            WriteKeyValue(u"InfoFile", name.c_str());
            written = true;
        }
    }
    return written;
}

void ImportInfoFiles(const NameValueList& info, NameValueList& merged) {
    for (const NameValueList::Entry& entry : info) {
        NameValueList fresh;
        ReadInfoFile(entry.Value(), fresh);
        if (fresh.Empty()) {
            std::u16string full;
            if (SplitPath(entry.Value(), &full, nullptr, nullptr, nullptr) != 0)
                ReadInfoFile(full.c_str(), fresh);
        }
        for (const NameValueList::Entry& line : fresh) merged.Set(line.Name(), line.Value());
    }
}

}  // namespace quillet
