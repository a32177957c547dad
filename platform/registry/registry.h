// A read-only registry loaded from a ".reg" text file.
//
// The file has the layout that regedit exports ("Windows Registry Editor
// Version 5.00" or "REGEDIT4", UTF-8 or UTF-16LE with its byte order mark):
// sections "[HKEY_LOCAL_MACHINE\Path\To\Key]" and values `@="text"`,
// `"Name"="text"` or `"Name"=dword:0000001d`. A key exists when a section
// names it or a key below it, as importing the file would create it. Key and
// value names compare without regard to case.
//
// Which file: the environment variable CQ_REGISTRY_FILE when set, else the
// file "registry.reg" in the folder of the module (program or shared object)
// that contains this code — the build writes one beside its programs. The
// file is re-read whenever its size or modification time changes; a missing
// or unreadable file, or one that is not a regular file, is an empty registry.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_DWORD = 4;

// Opens a key below an open key or a predefined root. ERROR_SUCCESS, or
// ERROR_FILE_NOT_FOUND when the key does not exist, ERROR_ACCESS_DENIED for
// any write access (the registry is read-only), ERROR_INVALID_HANDLE for a bad parent.
LONG RegOpenKeyExW(HKEY parent, LPCWSTR sub_key, DWORD options, REGSAM access, HKEY* result);
// Ends an opened key. A key that is not open (closed already, or never opened)
// gives ERROR_INVALID_HANDLE here and in the other calls.
LONG RegCloseKey(HKEY key);
// Reads a value (null or empty name: the default value). REG_SZ data is UTF-16
// with its terminating NUL; the size rules are the Windows ones (ERROR_MORE_DATA
// with the needed size when the buffer is too small; data may be null to ask the size).
LONG RegQueryValueExW(HKEY key, LPCWSTR value_name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);

inline constexpr LONG ERROR_MORE_DATA = 234;

namespace platform {

// The registry file in use (see above).
std::filesystem::path RegistryFilePath();

// Number of keys opened and not yet closed, process-wide (for tests that check
// that every opened key is closed).
long OpenRegistryKeyCount();

// The module path registered for a class as an in-process server, resolved
// against the registry file's folder. `class_id` is the class's GUID in its
// registry spelling, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (keys compare
// without regard to case). False when the class is not registered. The
// registry sits below COM, so it takes the text rather than the GUID type.
bool FindInprocServer(std::string_view class_id, std::string* module_path);

}  // namespace platform
