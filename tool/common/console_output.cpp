#include "tool/common/console_output.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console/console.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace quillet {
namespace {

struct ConsoleState {
    HANDLE output = nullptr;
    bool is_console = false;  // false until tested: treated as redirected
    WCHAR line[kLineBufferUnits] = {};
};

ConsoleState g_console;

bool HandleIsConsole(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

void WriteConsoleText(LPCWSTR text, int length) {
    if (length <= 0) return;
    DWORD written = 0;
    WriteConsoleW(g_console.output, text, static_cast<DWORD>(length), &written, nullptr);
}

void WriteBytes(const char* bytes, int length) {
    if (length <= 0) return;
    DWORD written = 0;
    WriteFile(g_console.output, bytes, static_cast<DWORD>(length), &written, nullptr);
}

// Converts `length` units into `buffer` (ANSI) and writes them.
void WriteAnsi(LPCWSTR text, int length, std::vector<char>& buffer) {
    if (!text || length <= 0 || buffer.empty()) return;
    const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, buffer.data(),
                                          static_cast<int>(buffer.size()), nullptr, nullptr);
    WriteBytes(buffer.data(), bytes);
}

// Bytes that `length` units may need in the ANSI code page.
int AnsiSize(LPCWSTR text, int length) {
    if (!text || length <= 0) return 0;
    return WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
}

bool HasOutput() { return g_console.output && g_console.output != INVALID_HANDLE_VALUE; }

}  // namespace

const WCHAR kVersionLine[] = u"Quillet Version 111029.";

void InitConsoleOutput() {
    std::memset(g_console.line, 0, sizeof(g_console.line));
    g_console.is_console = false;
    g_console.output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (g_console.output == INVALID_HANDLE_VALUE) g_console.output = nullptr;
    g_console.is_console = HandleIsConsole(g_console.output);
}

void SetConsoleOutputForTesting(HANDLE handle, bool is_console) {
    g_console.output = handle;
    g_console.is_console = is_console;
}

LPWSTR LineBuffer() { return g_console.line; }

int FormatLine(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int length = wvsprintfW(g_console.line, format, args);
    va_end(args);
    return length;
}

void WriteLine(int length) {
    if (length <= 0 || !HasOutput()) return;
    if (length > kLineBufferUnits) length = kLineBufferUnits;
    if (g_console.is_console) {
        WriteConsoleText(g_console.line, length);
        WriteConsoleText(u"\n", 1);
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(AnsiSize(g_console.line, length)) + 1);
    WriteAnsi(g_console.line, length, buffer);
    WriteBytes("\n", 1);
}

std::u16string OneLine(std::u16string_view text) {
    std::u16string line(text);
    for (char16_t& unit : line) {
        if (unit < 0x20) unit = u' ';
    }
    return line;
}

void WriteKeyValue(LPCWSTR raw_key, LPCWSTR raw_value) {
    if (!HasOutput()) return;
    const std::u16string key_line = OneLine(raw_key ? raw_key : u"");
    const std::u16string value_line = OneLine(raw_value ? raw_value : u"");
    const LPCWSTR key = raw_key ? key_line.c_str() : nullptr;
    const LPCWSTR value = raw_value ? value_line.c_str() : nullptr;
    const int key_length = lstrlenW(key);
    const int value_length = lstrlenW(value);
    if (g_console.is_console) {
        WriteConsoleText(key, key_length);
        WriteConsoleText(u"=", 1);
        WriteConsoleText(value, value_length);
        WriteConsoleText(u"\n", 1);
        return;
    }
    // One buffer serves both parts: it is sized for the longer one.
    const int key_size = AnsiSize(key, key_length);
    const int value_size = AnsiSize(value, value_length);
    std::vector<char> buffer(static_cast<size_t>(key_size > value_size ? key_size : value_size) + 1);
    WriteAnsi(key, key_length, buffer);
    WriteBytes("=", 1);
    WriteAnsi(value, value_length, buffer);
    WriteBytes("\n", 1);
}

}  // namespace quillet
