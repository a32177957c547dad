// The console program's output: result lines on standard output.
//
// Output goes to the process's standard output handle. When that handle is a
// console (a character device whose console mode can be read), text is
// written as UTF-16 through WriteConsoleW and each line ends in one "\n";
// otherwise (a pipe or a file) every text part is converted to the thread's
// ANSI code page and written as bytes, and a line ends in a single 0x0A, so a
// driving program reads plain "key=value" lines. Every printed line is first
// formatted into one process-wide 1024-unit line buffer with wsprintfW. No
// write result is checked: there is nobody to tell.
//
// Single-threaded: the state is process-wide and unguarded.
#pragma once

#include <string>
#include <string_view>

#include "platform/files/handles.h"
#include "platform/wintypes.h"

namespace quillet {

inline constexpr int kLineBufferUnits = 1024;

// Clears the line buffer, takes the standard output handle and decides
// whether it is a console.
void InitConsoleOutput();

// Tests: write to `handle` (may be null: nothing is printed) as a console or
// as redirected output. The handle stays the caller's.
void SetConsoleOutputForTesting(HANDLE handle, bool is_console);

// The process-wide line buffer (kLineBufferUnits units).
LPWSTR LineBuffer();

// Formats into the line buffer with wsprintfW; returns its length.
int FormatLine(LPCWSTR format, ...);

// Prints the line buffer's first `length` units and a line end. Prints
// nothing when `length` is 0 or less or there is no output handle.
void WriteLine(int length);

// Prints key, "=", value and a line end; a null key or value prints as
// nothing between the other parts. Control characters inside key or value
// are printed as spaces (OneLine), so no value can end its line early.
void WriteKeyValue(LPCWSTR key, LPCWSTR value);

// `text` with every C0 control character (U+0000 to U+001F: CR, LF, tab,
// escape, ...) replaced by a space. Result lines and info-file lines hold one
// value each; a tag value holding a line feed would otherwise forge a line
// of its own ("EOS.", or another key) that a reader cannot tell apart.
std::u16string OneLine(std::u16string_view text);

// The version line, "Quillet Version 111029."
extern const WCHAR kVersionLine[];

}  // namespace quillet
