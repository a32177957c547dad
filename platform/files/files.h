// Files, folders and paths with the Windows calls' names and rules.
//
// UTF-16 paths become UTF-8 file names (whatever the ANSI code page is) and
// are otherwise passed to the file system as they are: on Linux "/" is the
// only separator and "\" an ordinary character of a name. Path *splitting*
// (_wsplitpath_s and the helpers below) follows the Windows rules, so "/" and
// "\" both separate and "X:" at the start is a drive; Linux paths just have
// no drive. GetFullPathNameW makes a path absolute against the current folder
// and collapses ".", ".." and repeated "/" without touching the disk.
//
// Attributes map onto the file's mode and one extended attribute:
// - FILE_ATTRIBUTE_READONLY: none of the three write bits is set. Setting it
//   clears them; clearing it gives write bits back where read bits are, as the
//   process's umask allows. As on Windows, a read-only file refuses writing
//   opens, CREATE_ALWAYS, DeleteFileW and being replaced by MoveFileExW, even
//   for root.
// - FILE_ATTRIBUTE_HIDDEN: the user extended attribute "user.cq.hidden"
//   exists. On a file system without user extended attributes
//   SetFileAttributesW with HIDDEN fails (ERROR_NOT_SUPPORTED) and nothing is
//   ever hidden there. Dot names are not treated as hidden.
// - FILE_ATTRIBUTE_DIRECTORY for folders; a regular file reports
//   FILE_ATTRIBUTE_ARCHIVE (as fresh files on NTFS do), anything else NORMAL.
//
// Sharing modes are accepted and not enforced (Linux has no mandatory
// sharing). File times are on the Windows scale: 100 ns units since
// 1601-01-01 UTC; the creation time is the birth time where the file system
// records one, else the last write time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/handles.h"
#include "platform/wintypes.h"

using HWND = void*;
using HMODULE = void*;
using errno_t = int;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using PLONG = LONG*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;
static_assert(sizeof(FILETIME) == 8);

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

inline constexpr DWORD MAX_PATH = 260;

// Access, sharing and creation.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
inline constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;

// Attributes.
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Seeking and sizes.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

// MoveFileExW.
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// Win32 error codes that only the file services give.
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_NO_DATA = 232;
inline constexpr DWORD ERROR_DIRECTORY = 267;

// Opens or creates a file. Returns INVALID_HANDLE_VALUE on failure with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND (missing file / missing folder),
// ERROR_FILE_EXISTS (CREATE_NEW), ERROR_ACCESS_DENIED (a folder, a read-only
// file opened for writing or re-created, no permission) or
// ERROR_INVALID_PARAMETER. On success with CREATE_ALWAYS or OPEN_ALWAYS the
// last error tells whether the file existed (ERROR_ALREADY_EXISTS) or not (0).
// FILE_ATTRIBUTE_READONLY / _HIDDEN apply to a file that this call creates.
// The caller closes the handle with CloseHandle.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Reads up to nNumberOfBytesToRead bytes; a file gives fewer only at its end
// (TRUE with 0 at the end), a pipe or terminal what is there. lpNumberOfBytesRead
// must not be null (no overlapped I/O here). A pipe whose writer has gone
// fails with ERROR_BROKEN_PIPE.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
// Writes all bytes (or fails). A pipe without reader fails with ERROR_NO_DATA
// instead of raising SIGPIPE. lpNumberOfBytesWritten may be null.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);

BOOL FlushFileBuffers(HANDLE hFile);
// Cuts or extends the file at the current position.
BOOL SetEndOfFile(HANDLE hFile);
// Low 32 bits of the size; the high ones into *lpFileSizeHigh (may be null).
// INVALID_FILE_SIZE with a last error on failure.
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
// Any of the three may be null.
BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime);

namespace platform {
BOOL SeekFile(HANDLE hFile, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
BOOL FileSize(HANDLE hFile, LONGLONG* size);
template <class T>
concept QuadPartInteger = requires(T value) {
    value.QuadPart;
};
}  // namespace platform

// SetFilePointerEx and GetFileSizeEx take LARGE_INTEGER from whichever
// header the caller has it from (the stream stand-in defines it), so this
// header does not need to define it.
template <platform::QuadPartInteger LargeInteger>
BOOL SetFilePointerEx(HANDLE hFile, LargeInteger liDistanceToMove, LargeInteger* lpNewFilePointer,
                      DWORD dwMoveMethod) {
    LONGLONG position = 0;
    BOOL ok = platform::SeekFile(hFile, liDistanceToMove.QuadPart, &position, dwMoveMethod);
    if (ok && lpNewFilePointer) lpNewFilePointer->QuadPart = position;
    return ok;
}
template <platform::QuadPartInteger LargeInteger>
BOOL SetFilePointerEx(HANDLE hFile, LargeInteger liDistanceToMove, decltype(nullptr), DWORD dwMoveMethod) {
    return platform::SeekFile(hFile, liDistanceToMove.QuadPart, nullptr, dwMoveMethod);
}
template <platform::QuadPartInteger LargeInteger>
BOOL GetFileSizeEx(HANDLE hFile, LargeInteger* lpFileSize) {
    LONGLONG size = 0;
    if (!lpFileSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL ok = platform::FileSize(hFile, &size);
    if (ok) lpFileSize->QuadPart = size;
    return ok;
}

// INVALID_FILE_ATTRIBUTES on failure (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ...).
DWORD GetFileAttributesW(LPCWSTR lpFileName);
BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);
// Applies READONLY and HIDDEN (NORMAL or 0 clears both; other bits are
// accepted and ignored). FALSE with the last error when the file is missing or
// the change cannot be made.
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);

// The absolute, collapsed form of a path. With a buffer of nBufferLength units
// that holds it and its NUL: copies it and returns its length without the NUL,
// and sets *lpFilePart (may be null) to the file name part in the buffer, or
// null when the path ends with a separator. With a smaller buffer (0 and null
// included): returns the size needed including the NUL and writes nothing.
// 0 on failure (ERROR_INVALID_NAME for a null or empty name).
DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart);

// The temporary folder with a trailing "/": $TMPDIR (made absolute) or /tmp.
// Buffer rules as GetFullPathNameW. The folder is not checked for existence.
DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

// The file of a module: null is the executable (/proc/self/exe); otherwise
// hModule must be a handle from dlopen. Returns the length without NUL; when
// nSize is too small, the truncated path with a NUL, nSize and
// ERROR_INSUFFICIENT_BUFFER. 0 on failure.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// Creates a folder and its missing parents. Returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS (the folder exists), ERROR_FILE_EXISTS (a file has that
// name), ERROR_PATH_NOT_FOUND (a parent is a file), ERROR_BAD_PATHNAME (the
// path is empty or not absolute) or the mapped system error; the last error is
// set to the same value.
int SHCreateDirectory(HWND hwnd, LPCWSTR pszPath);
// One folder; the parent must exist (ERROR_PATH_NOT_FOUND), the name must be
// free (ERROR_ALREADY_EXISTS).
BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL RemoveDirectoryW(LPCWSTR lpPathName);

// Renames or moves a file or folder. Without MOVEFILE_REPLACE_EXISTING an
// existing target fails with ERROR_ALREADY_EXISTS; a folder or read-only file
// is never replaced (ERROR_ACCESS_DENIED). Across file systems a file is
// copied (contents, mode and times) into a temporary name beside the target,
// renamed into place and the source deleted, if MOVEFILE_COPY_ALLOWED is
// given; otherwise, and always for folders, ERROR_NOT_SAME_DEVICE. As on
// Windows, a copied move whose source cannot be deleted still succeeds.
// MOVEFILE_WRITE_THROUGH returns only after the data and the target folder
// are on disk. MOVEFILE_DELAY_UNTIL_REBOOT is not supported.
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);

// Deletes a file; a folder or a read-only file fails with ERROR_ACCESS_DENIED.
BOOL DeleteFileW(LPCWSTR lpFileName);

// Splits a path by the Windows rules into drive ("X:"), folder (up to and with
// the last "/" or "\"), name, and extension (from the last "." of the file
// name part, dot included). Each output is a buffer with its size in units,
// or null with size 0. Returns 0, or EINVAL (bad arguments) / ERANGE (a part
// does not fit); on failure every buffer given is set to "".
errno_t _wsplitpath_s(LPCWSTR path, LPWSTR drive, size_t driveNumberOfElements, LPWSTR dir,
                      size_t dirNumberOfElements, LPWSTR fname, size_t nameNumberOfElements, LPWSTR ext,
                      size_t extNumberOfElements);

namespace platform {

// UTF-16 path ↔ the file system's UTF-8 name. A byte of a name that is not
// part of valid UTF-8 travels as the lone surrogate U+DC80 + (byte - 0x80)
// and is written back as that byte, so every existing name round-trips.
std::string NativePath(std::u16string_view path);
std::u16string FromNativePath(std::string_view path);

// A path split by the Windows rules (as _wsplitpath_s, without size limits).
struct PathParts {
    std::u16string drive;      // "X:" or ""
    std::u16string folder;     // ends with its separator, or ""
    std::u16string name;       // file name without extension
    std::u16string extension;  // ".ext" or ""
};
PathParts SplitWindowsPath(std::u16string_view path);
// drive + folder: "/a/b/" for "/a/b/c.txt"; "" for "c.txt".
std::u16string FolderOf(std::u16string_view path);
// name + extension: "c.txt".
std::u16string FileNameOf(std::u16string_view path);
std::u16string BaseNameOf(std::u16string_view path);
std::u16string ExtensionOf(std::u16string_view path);

// GetFullPathNameW as a value; nothing on failure.
std::optional<std::u16string> FullPath(std::u16string_view path);

// Windows file times: 100 ns units since 1601-01-01 UTC. Times before 1601
// become 0.
FILETIME UnixToFileTime(int64_t seconds, uint32_t nanoseconds = 0);
uint64_t FileTimeToUInt64(const FILETIME& time);
// Whole seconds since 1970 (rounded down).
int64_t FileTimeToUnix(const FILETIME& time);

// One entry of a folder listing.
struct FolderEntry {
    std::u16string name;  // the entry's own name
    std::u16string path;  // the folder as given, a separator if needed, the name
    DWORD attributes = 0;
    uint64_t size = 0;  // 0 for folders
    FILETIME creationTime{};
    FILETIME lastAccessTime{};
    FILETIME lastWriteTime{};
};

// Lists a folder (without "." and ".."), sorted by name without regard to case
// as NTFS returns them. With `recursive`, each subfolder's entries follow its
// own entry (symbolic links to folders are listed, not entered; a subfolder
// that cannot be read is listed without its content). Nothing on failure, with
// the last error (ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY for a file, ...).
std::optional<std::vector<FolderEntry>> ListFolder(std::u16string_view folder, bool recursive = false);

// The path of the executable, and of the module (executable or shared object)
// whose code or data holds `address`; "" when there is none.
std::u16string ExecutablePath();
std::u16string ModulePathOf(const void* address);

// Wraps an open descriptor in a file handle (owned: closed by CloseHandle).
// Used for the standard streams and by tests (pipes, pseudo-terminals).
HANDLE HandleFromFd(int fd, bool owned);
// The descriptor behind a file handle, or -1.
int FdOf(HANDLE handle);

// The name of the extended attribute that carries FILE_ATTRIBUTE_HIDDEN.
inline constexpr const char* kHiddenAttributeName = "user.cq.hidden";

}  // namespace platform
