// File attributes: read-only from the write bits, hidden from an extended
// attribute (see files.h).

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files/fileobject.h"
#include "platform/files/stat.h"

namespace platform {

DWORD AttributesOf(const std::string& path, mode_t mode) {
    DWORD attributes = 0;
    if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (ModeIsReadOnly(mode)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (getxattr(path.c_str(), kHiddenAttributeName, nullptr, 0) >= 0) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (S_ISREG(mode)) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool StatPath(const std::string& path, FileStat& out, int flags) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    out.mode = sx.stx_mode;
    out.size = sx.stx_size;
    const statx_timestamp& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    out.creation = UnixToFileTime(birth.tv_sec, birth.tv_nsec);
    out.last_access = UnixToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    out.last_write = UnixToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    return true;
}

namespace {

// The process's umask, read without changing it (umask(2) can only swap).
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

}  // namespace
}  // namespace platform

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string path = platform::NativePath(lpFileName);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(platform::ErrorFromErrno(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return platform::AttributesOf(path, st.st_mode);
}

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (!lpFileName || !lpFileInformation || fInfoLevelId != GetFileExInfoStandard) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string path = platform::NativePath(lpFileName);
    platform::FileStat st;
    if (!platform::StatPath(path, st)) {
        SetLastError(platform::ErrorFromErrno(errno, path));
        return FALSE;
    }
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    data->dwFileAttributes = platform::AttributesOf(path, st.mode);
    data->ftCreationTime = st.creation;
    data->ftLastAccessTime = st.last_access;
    data->ftLastWriteTime = st.last_write;
    uint64_t size = S_ISDIR(st.mode) ? 0 : st.size;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path = platform::NativePath(lpFileName);
    struct stat st {};
    if (!*lpFileName || stat(path.c_str(), &st) != 0) {
        SetLastError(*lpFileName ? platform::ErrorFromErrno(errno, path) : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const bool read_only = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const bool hidden = (dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;

    auto set_mode = [&]() -> bool {
        mode_t mode = st.st_mode & 07777;
        mode_t wanted = mode;
        if (read_only) {
            wanted = mode & ~mode_t{0222};
        } else if (platform::ModeIsReadOnly(mode)) {
            wanted = mode | (((mode & 0444) >> 1) & ~platform::CurrentUmask());
            if (platform::ModeIsReadOnly(wanted)) wanted |= S_IWUSR;
        }
        if (wanted == mode) return true;
        if (chmod(path.c_str(), wanted) != 0) {
            SetLastError(platform::ErrorFromErrno(errno, path));
            return false;
        }
        return true;
    };
    auto set_hidden = [&]() -> bool {
        if (hidden) {
            if (setxattr(path.c_str(), platform::kHiddenAttributeName, "1", 1, 0) != 0) {
                SetLastError(errno == ENOTSUP ? ERROR_NOT_SUPPORTED : platform::ErrorFromErrno(errno, path));
                return false;
            }
        } else if (removexattr(path.c_str(), platform::kHiddenAttributeName) != 0 && errno != ENODATA &&
                   errno != ENOTSUP) {
            SetLastError(platform::ErrorFromErrno(errno, path));
            return false;
        }
        return true;
    };
    // Changing the extended attribute may need write permission, so a file
    // becomes writable before and read-only after it.
    if (read_only) return set_hidden() && set_mode() ? TRUE : FALSE;
    return set_mode() && set_hidden() ? TRUE : FALSE;
}
