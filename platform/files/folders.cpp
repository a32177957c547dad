// Folders, moving and deleting files, folder listings.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/files/fileobject.h"
#include "platform/files/stat.h"
#include "platform/files/unique_dir.h"
#include "platform/text/text.h"

namespace {

using platform::ErrorFromErrno;

using DirPtr = platform::UniqueDir;

// Closes a descriptor when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

std::string ParentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the folder entry of `path` durable.
void SyncFolderOf(const std::string& path) {
    Fd dir(open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) fsync(dir.get());
}

// Copies a regular file's bytes, mode and times into a fresh file beside
// `target` and renames it into place, so the target is never half-written.
// Returns 0 or the errno value.
int CopyIntoPlace(const std::string& source, const std::string& target, bool replace, bool write_through) {
    Fd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return errno;
    struct stat st {};
    if (fstat(in.get(), &st) != 0) return errno;

    static std::atomic<unsigned> counter{0};
    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && out.get() < 0; ++attempt) {
        temp = target + ".~move" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        out.reset(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0 && errno != EEXIST) return errno;
    }
    if (out.get() < 0) return EEXIST;

    auto fail = [&](int error) {
        unlink(temp.c_str());
        return error;
    };
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = read(in.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) break;
        size_t written = 0;
        if (int error = platform::WriteAll(out.get(), buffer, static_cast<size_t>(n), &written))
            return fail(error);
    }
    fchmod(out.get(), st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out.get(), times);
    if (write_through && fsync(out.get()) != 0) return fail(errno);
    if (close(out.release()) != 0) return fail(errno);

    int renamed = replace ? rename(temp.c_str(), target.c_str())
                          : renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (renamed != 0) return fail(errno);
    if (write_through) SyncFolderOf(target);
    return 0;
}

void ListInto(const std::u16string& folder, bool recursive, std::vector<platform::FolderEntry>& out,
              bool& ok) {
    std::string native = platform::NativePath(folder);
    DirPtr dir(opendir(native.c_str()));
    if (!dir) {
        int error = errno;
        ok = false;
        struct stat st {};
        bool is_file = error == ENOTDIR && stat(native.c_str(), &st) == 0;
        SetLastError(is_file ? ERROR_DIRECTORY : ErrorFromErrno(error == ENOENT ? ENOTDIR : error));
        return;
    }
    std::vector<platform::FolderEntry> entries;
    const bool needs_separator = !folder.empty() && folder.back() != u'/' && folder.back() != u'\\';
    while (struct dirent* d = readdir(dir.get())) {
        std::string_view name(d->d_name);
        if (name == "." || name == "..") continue;
        platform::FolderEntry entry;
        entry.name = platform::FromNativePath(name);
        entry.path = folder + (needs_separator ? u"/" : u"") + entry.name;
        std::string child = native + (needs_separator ? "/" : "") + std::string(name);
        platform::FileStat st;
        // A dangling link is listed by its own status.
        if (!platform::StatPath(child, st) && !platform::StatPath(child, st, AT_SYMLINK_NOFOLLOW)) continue;
        entry.attributes = platform::AttributesOf(child, st.mode);
        entry.size = S_ISDIR(st.mode) ? 0 : st.size;
        entry.creationTime = st.creation;
        entry.lastAccessTime = st.last_access;
        entry.lastWriteTime = st.last_write;
        entries.push_back(std::move(entry));
    }
    dir.reset();
    // NTFS keeps names in upper-case order.
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        int c = platform::CompareNoCase(a.name, b.name);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (auto& entry : entries) {
        bool descend = false;
        if (recursive && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            platform::FileStat link;
            descend = platform::StatPath(platform::NativePath(entry.path), link, AT_SYMLINK_NOFOLLOW) &&
                      S_ISDIR(link.mode);
        }
        std::u16string path = entry.path;
        out.push_back(std::move(entry));
        if (descend) {
            bool sub_ok = true;
            ListInto(path, true, out, sub_ok);
        }
    }
}

}  // namespace

namespace platform {

std::optional<std::vector<FolderEntry>> ListFolder(std::u16string_view folder, bool recursive) {
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    bool ok = true;
    ListInto(std::u16string(folder), recursive, entries, ok);
    if (!ok) return std::nullopt;
    return entries;
}

}  // namespace platform

int SHCreateDirectory(HWND, LPCWSTR pszPath) {
    auto result = [](DWORD code) {
        SetLastError(code);
        return static_cast<int>(code);
    };
    if (!pszPath || pszPath[0] != u'/') return result(ERROR_BAD_PATHNAME);
    std::optional<std::u16string> full = platform::FullPath(pszPath);
    if (!full) return result(GetLastError());
    std::string path = platform::NativePath(*full);
    while (path.size() > 1 && path.back() == '/') path.pop_back();

    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        return result(S_ISDIR(st.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS);

    // Create each missing folder from the top down.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = slash == std::string::npos ? path : path.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0) {
            int error = errno;
            if (error == EEXIST) {
                if (stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return result(ERROR_PATH_NOT_FOUND);
            } else {
                return result(error == ENOTDIR || error == ENOENT ? ERROR_PATH_NOT_FOUND
                                                                  : ErrorFromErrno(error));
            }
        }
        if (slash == std::string::npos) break;
    }
    return result(ERROR_SUCCESS);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string path = platform::NativePath(lpPathName);
    if (mkdir(path.c_str(), 0777) != 0) {
        int error = errno;
        SetLastError(error == EEXIST   ? ERROR_ALREADY_EXISTS
                     : error == ENOENT ? ERROR_PATH_NOT_FOUND
                                       : ErrorFromErrno(error, path));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string path = platform::NativePath(lpPathName);
    if (rmdir(path.c_str()) != 0) {
        int error = errno;
        SetLastError(error == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(error, path));
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (!lpExistingFileName || !lpNewFileName || (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        SetLastError(lpNewFileName || !(dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) ? ERROR_INVALID_PARAMETER
                                                                               : ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!*lpExistingFileName || !*lpNewFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::string source = platform::NativePath(lpExistingFileName);
    const std::string target = platform::NativePath(lpNewFileName);
    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    const bool write_through = (dwFlags & MOVEFILE_WRITE_THROUGH) != 0;

    struct stat src {};
    if (lstat(source.c_str(), &src) != 0) {
        SetLastError(ErrorFromErrno(errno, source));
        return FALSE;
    }
    struct stat dst {};
    if (lstat(target.c_str(), &dst) == 0) {
        const bool same = src.st_dev == dst.st_dev && src.st_ino == dst.st_ino;
        if (!same) {
            if (!replace) {
                SetLastError(ERROR_ALREADY_EXISTS);
                return FALSE;
            }
            if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) ||
                (S_ISREG(dst.st_mode) && platform::ModeIsReadOnly(dst.st_mode))) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
        }
    }

    int renamed = replace ? rename(source.c_str(), target.c_str())
                          : renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && !replace && errno == EINVAL) {
        // A file system without no-replace renames: the target was free a moment ago.
        renamed = rename(source.c_str(), target.c_str());
    }
    if (renamed == 0) {
        if (write_through) SyncFolderOf(target);
        return TRUE;
    }
    int error = errno;
    if (error == EEXIST) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (error != EXDEV) {
        SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(error, target));
        return FALSE;
    }
    if (!(dwFlags & MOVEFILE_COPY_ALLOWED) || !S_ISREG(src.st_mode)) {
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return FALSE;
    }
    if (int copy_error = CopyIntoPlace(source, target, replace, write_through)) {
        SetLastError(copy_error == EEXIST   ? ERROR_ALREADY_EXISTS
                     : copy_error == ENOENT ? ERROR_PATH_NOT_FOUND
                                            : ErrorFromErrno(copy_error, target));
        return FALSE;
    }
    // The copy stands; a source that cannot be removed stays, as on Windows.
    unlink(source.c_str());
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(lpFileName ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path = platform::NativePath(lpFileName);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && platform::ModeIsReadOnly(st.st_mode))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return FALSE;
    }
    return TRUE;
}
