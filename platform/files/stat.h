// File status on the Windows scale, shared by the file services; not for callers.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/files/files.h"

namespace platform {

struct FileStat {
    mode_t mode = 0;
    uint64_t size = 0;
    FILETIME creation{};
    FILETIME last_access{};
    FILETIME last_write{};
};

// statx of a path (flags: 0 follows links, AT_SYMLINK_NOFOLLOW does not).
// False with errno set on failure.
bool StatPath(const std::string& path, FileStat& out, int flags = 0);

// The Windows attributes of a path whose mode is known.
DWORD AttributesOf(const std::string& path, mode_t mode);

}  // namespace platform
