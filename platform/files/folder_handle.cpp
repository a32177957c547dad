#include "platform/files/folder_handle.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <utility>

namespace platform {
namespace {

FolderHandle::Kind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FolderHandle::Kind::File;
    if (S_ISDIR(mode)) return FolderHandle::Kind::Folder;
    if (S_ISLNK(mode)) return FolderHandle::Kind::Link;
    return FolderHandle::Kind::Other;
}

FolderHandle::Kind KindOfEntry(unsigned char type) {
    switch (type) {
        case DT_REG:
            return FolderHandle::Kind::File;
        case DT_DIR:
            return FolderHandle::Kind::Folder;
        case DT_LNK:
            return FolderHandle::Kind::Link;
        case DT_UNKNOWN:
            return FolderHandle::Kind::Unknown;
        default:
            return FolderHandle::Kind::Other;
    }
}

}  // namespace

FolderHandle::~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FolderHandle FolderHandle::Open(const std::string& native_path) {
    return FolderHandle(::open(native_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FolderHandle FolderHandle::OpenFolder(const std::string& name) const {
    if (fd_ < 0) {
        errno = EBADF;
        return FolderHandle();
    }
    return FolderHandle(::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool FolderHandle::List(std::vector<Entry>& out) const {
    out.clear();
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    // Read with getdents64 straight from the descriptor: opendir would need a
    // second descriptor (fdopendir takes the one it is given) to keep this
    // one for the relative opens.
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(fd_, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        for (ssize_t at = 0; at < got;) {
            const auto* d = reinterpret_cast<const dirent64*>(buffer + at);
            at += d->d_reclen;
            const std::string_view name(d->d_name);
            if (name == "." || name == "..") continue;
            out.push_back({std::string(name), KindOfEntry(d->d_type)});
        }
    }
}

bool FolderHandle::KindOf(const std::string& name, bool follow, Kind& kind) const {
    struct stat st {};
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (::fstatat(fd_, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return false;
    kind = KindOfMode(st.st_mode);
    return true;
}

int FolderHandle::OpenForReading(const std::string& name) const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return ::openat(fd_, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

}  // namespace platform
