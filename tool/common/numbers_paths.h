// The console program's number rule and path splitting.
//
// ParseNumber reads the numbers of the command line and of encoding digits:
// an optional sign, "0x" for hexadecimal, then digits up to the first
// character that is not one, accumulated in 32 bits that wrap on overflow.
// SplitPath takes a path's full form from the file services and cuts it by the
// Windows rules (both separators count), so folder names keep their trailing
// separator and can be joined with a base name and an extension directly.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace quillet {

// The number of `text` by the rule above; null or empty gives 0. Decimal
// results take the sign, hexadecimal ones ignore it ("-0x10" gives 16).
LONG ParseNumber(LPCWSTR text);

// Fills the parts that are asked for (each may be null): the full path, the
// folder (up to and with the last separator), the base name (the file name
// without its extension) and the extension (from the last "." that follows the
// first character of the file name, dot included; "" when there is none).
// Returns the length of the full path in UTF-16 units, or 0 when the full path
// cannot be had; then no part is written. A full path ending in a separator
// gives an empty base name and extension.
DWORD SplitPath(LPCWSTR path, std::u16string* full_path, std::u16string* folder, std::u16string* base_name,
                std::u16string* extension);

// The stem that an output file is named from: the folder of the full path of
// `path` followed by its base name (no extension). False, with *stem left
// alone, when the full path cannot be had or the folder or base name is empty.
bool OutputStem(LPCWSTR path, std::u16string* stem);

// The full path of `path` by GetFullPathNameW's two calls; false when the
// second call does not return exactly one unit less than the first asked for.
bool GetFullPath(LPCWSTR path, std::u16string* full_path);

// True when GetFileAttributesW succeeds on `path` with the folder bit clear.
bool IsExistingFile(LPCWSTR path);
// True when GetFileAttributesW fails on `path` or reports a folder.
bool IsMissingOrFolder(LPCWSTR path);

}  // namespace quillet
