// Standard handles and console output.
//
// The standard handles wrap descriptors 0, 1 and 2 (without owning them) the
// first time they are asked for; a descriptor that is not open gives a null
// handle, as a process without that standard handle has on Windows.
// SetStdHandle replaces one with any file handle, which is how tests route
// the "console" to a pseudo-terminal or a pipe.
//
// A terminal is the console: GetFileType reports FILE_TYPE_CHAR and
// GetConsoleMode succeeds, and WriteConsoleW writes its UTF-16 text as UTF-8
// (the terminal's own line discipline turns "\n" into a new line). Any other
// character device (/dev/null, like Windows' NUL) is FILE_TYPE_CHAR without
// a console mode; pipes and sockets are FILE_TYPE_PIPE, files FILE_TYPE_DISK.
// WriteFile writes raw bytes to every kind.
#pragma once

#include "platform/files/files.h"

inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

inline constexpr DWORD FILE_TYPE_UNKNOWN = 0x0;
inline constexpr DWORD FILE_TYPE_DISK = 0x1;
inline constexpr DWORD FILE_TYPE_CHAR = 0x2;
inline constexpr DWORD FILE_TYPE_PIPE = 0x3;

// Console modes reported for a terminal.
inline constexpr DWORD ENABLE_PROCESSED_INPUT = 0x1;
inline constexpr DWORD ENABLE_LINE_INPUT = 0x2;
inline constexpr DWORD ENABLE_ECHO_INPUT = 0x4;
inline constexpr DWORD ENABLE_PROCESSED_OUTPUT = 0x1;
inline constexpr DWORD ENABLE_WRAP_AT_EOL_OUTPUT = 0x2;

// The standard handle, null when the process has none, INVALID_HANDLE_VALUE
// (ERROR_INVALID_HANDLE) for an unknown nStdHandle. The caller must not close
// it unless it means to end that standard handle.
HANDLE GetStdHandle(DWORD nStdHandle);
// Makes hHandle the standard handle (not checked, not owned: the caller keeps
// it open while it is in use). FALSE for an unknown nStdHandle.
BOOL SetStdHandle(DWORD nStdHandle, HANDLE hHandle);

// FILE_TYPE_DISK, _CHAR or _PIPE; FILE_TYPE_UNKNOWN with ERROR_INVALID_HANDLE
// for a handle that is not an open file (and with ERROR_SUCCESS otherwise).
DWORD GetFileType(HANDLE hFile);

// Succeeds only on a terminal; otherwise FALSE with ERROR_INVALID_HANDLE.
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);

// Writes nNumberOfCharsToWrite UTF-16 units to a terminal as UTF-8. A high
// surrogate at the end of one call is held until the next call completes the
// pair. *lpNumberOfCharsWritten (may be null) gets the units taken. FALSE with
// ERROR_INVALID_HANDLE when the handle is not a terminal.
BOOL WriteConsoleW(HANDLE hConsoleOutput, LPCVOID lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved);

namespace platform {

// Forgets every SetStdHandle: the standard handles wrap descriptors 0-2 again.
void ResetStdHandles();

}  // namespace platform
