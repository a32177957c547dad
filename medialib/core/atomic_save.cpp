#include "medialib/core/atomic_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "medialib/core/unique_fd.h"

namespace medialib {
namespace {

std::atomic<int> g_fault{0};

bool CopyContents(int from, int to) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t r = ::read(from, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        if (!WriteAll(to, buf.data(), static_cast<size_t>(r))) return false;
    }
}

// A file without write permission is read-only, as the Windows attribute is:
// no save replaces it, whoever asks. The rename over it needs only the
// folder's permission (and root needs not even that), so the file's own mode
// and the caller's access to it are tested here. An immutable or append-only
// file answers EPERM and is refused the same way.
bool MayReplace(const std::filesystem::path& target, const struct stat& st) {
    if ((st.st_mode & 0222) == 0) return false;
    return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
}

bool FlushFile(const std::filesystem::path& p) {
    UniqueFd fd(::open(p.c_str(), O_RDWR | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0 && fd.Close();
}

// The steps both kinds of save share: `fill` gets the open original and the
// new temporary file and makes its content; `edit` (may be empty) then
// changes the closed temporary file by path.
bool ReplaceThroughTemporary(const std::filesystem::path& path,
                             const std::function<bool(int from, int to)>& fill,
                             const std::function<bool(const std::filesystem::path& copy)>& edit) {
    // A symbolic link is followed: the rename must replace the file it names,
    // not turn the link into a copy and leave the linked file as it was.
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec) return false;
    UniqueFd src(
        ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));  // never waits on a FIFO
    struct stat st {};
    if (src.get() < 0 || ::fstat(src.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (!MayReplace(target, st)) return false;

    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // Built by appending: GCC 12 at -O3 misreports operator+ chains (-Wrestrict).
    std::string name(".");
    name.append(target.filename().string());
    name.append(".cq-XXXXXX");
    std::string pattern = (folder / name).string();
    UniqueFd tmp(::mkostemp(pattern.data(), O_CLOEXEC));
    if (tmp.get() < 0) return false;
    const std::filesystem::path copy = pattern;
    struct Cleanup {
        const std::filesystem::path& path;
        bool armed = true;
        ~Cleanup() {
            if (armed) ::unlink(path.c_str());
        }
    } cleanup{copy};

    // `fill` and `edit` must not throw; an exception counts as failure.
    const auto succeeds = [](const auto& step) {
        try {
            return step();
        } catch (...) {
            return false;
        }
    };
    if (::fchmod(tmp.get(), st.st_mode & 07777) != 0) return false;
    if (!succeeds([&] { return fill(src.get(), tmp.get()); })) return false;
    // Content written whole is final: flush it through the descriptor we hold.
    if (!edit && ::fsync(tmp.get()) != 0) return false;
    if (!tmp.Close()) return false;
    if (g_fault == 1) return false;
    if (edit && !succeeds([&] { return edit(copy); })) return false;
    if (g_fault == 2) return false;
    if (edit && !FlushFile(copy)) return false;
    if (std::rename(copy.c_str(), target.c_str()) != 0) return false;
    cleanup.armed = false;
    // Make the rename itself durable.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, p, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

void SetAtomicEditFaultForTesting(int stage) { g_fault = stage; }

bool EditAtomically(const std::filesystem::path& target,
                    const std::function<bool(const std::filesystem::path& copy)>& edit) {
    return ReplaceThroughTemporary(target, CopyContents, edit);
}

bool WriteAtomically(const std::filesystem::path& target, const std::function<bool(int fd)>& write) {
    return ReplaceThroughTemporary(
        target, [&](int, int to) { return write(to); }, nullptr);
}

bool WriteWholeFile(const std::filesystem::path& target, const std::function<bool(int fd)>& write) {
    std::error_code ec;
    if (std::filesystem::exists(target, ec)) return WriteAtomically(target, write);
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid()) return false;
    bool written = false;
    try {
        written = write(fd.get());
    } catch (...) {
    }
    if (written && ::fsync(fd.get()) == 0 && fd.Close()) return true;
    ::unlink(target.c_str());
    return false;
}

}  // namespace medialib
