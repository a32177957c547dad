// What the plug-in's services share about the files they are handed: which
// extensions they claim, and the library path a host path names. The input
// and both album-art services use these, so all three claim and open the
// same files.
#pragma once

#include "platform/com/memory.h"

namespace corvina {

// The extension (without the dot) is oma, omg or kdr in any case, or 3gp
// while cfg_support_3gp is on (read at every call). The path is not looked at.
bool ClaimsExtension(const char* extension);

// The library path of a host path: without a leading "file://" (any case),
// as UTF-16. Null when the path is null, empty or not valid UTF-8 (a stray
// byte must not silently become the name of a different file).
platform::Bstr LibraryPathOf(const char* host_path);

}  // namespace corvina
