#include "medialib/core/atomic_save.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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
std::atomic<bool> g_unnamed_allowed{true};

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

// Named temporaries: "." + the file name + ".cq-" + six random characters.
// A file name too long to leave room for the rest is cut (at a character
// boundary), so files with names near the file system's limit can be saved.
constexpr size_t kNameMax = 255;
constexpr size_t kRandomChars = 6;

std::string TemporaryPrefix(const std::string& file_name) {
    const std::string suffix = ".cq-";
    const size_t room = kNameMax - 1 - suffix.size() - kRandomChars;
    std::string base = file_name;
    if (base.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
        base.resize(cut);
    }
    std::string prefix(".");
    prefix.append(base);
    prefix.append(suffix);
    return prefix;
}

// A save holds an exclusive lock on its temporary file for as long as it
// exists; one that nobody holds was left by a save that was killed. Such
// leftovers of this file's own naming pattern are removed by its next save.
void RemoveStaleTemporaries(const std::filesystem::path& folder, const std::string& prefix) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return;
    DIR* listing = ::fdopendir(::dup(dir.get()));
    if (!listing) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kRandomChars || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        UniqueFd fd(
            ::openat(dir.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) stale.push_back(name);
    }
    ::closedir(listing);
    for (const std::string& name : stale) ::unlinkat(dir.get(), name.c_str(), 0);
}

// The temporary file of one save: unnamed (O_TMPFILE) where the file system
// allows it, so a save that is killed leaves nothing behind, else a named
// file beside the target. Either way it is reachable by path (the unnamed one
// through /proc/self/fd) for editors that open files by name.
class Temporary {
  public:
    Temporary(const std::filesystem::path& folder, std::string prefix)
        : folder_(folder), prefix_(std::move(prefix)) {
        if (g_unnamed_allowed) {
            fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
            if (fd_.valid()) {
                path_ = "/proc/self/fd/" + std::to_string(fd_.get());
                if (::access(path_.c_str(), F_OK) == 0 && ::flock(fd_.get(), LOCK_EX) == 0) return;
                fd_ = UniqueFd();
            }
        }
        std::string pattern = (folder / (prefix_ + std::string(kRandomChars, 'X'))).string();
        fd_ = UniqueFd(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!fd_.valid()) return;
        named_ = pattern;
        path_ = pattern;
        ::flock(fd_.get(), LOCK_EX);  // marks it as in use for other saves' clean-up
    }
    ~Temporary() {
        if (!named_.empty()) ::unlink(named_.c_str());
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    const std::filesystem::path& path() const { return path_; }

    // Gives the content the name `target` (replacing it atomically) and
    // closes the temporary file; false, with `target` untouched, on failure.
    bool ReplaceTarget(const std::filesystem::path& target) {
        if (named_.empty()) {
            // Named only now, for the instant before the rename.
            for (int attempt = 0; attempt < 100 && named_.empty(); ++attempt) {
                std::string pattern = (folder_ / (prefix_ + std::string(kRandomChars, 'X'))).string();
                UniqueFd probe(::mkostemp(pattern.data(), O_CLOEXEC));
                if (!probe.valid()) return false;
                ::unlink(pattern.c_str());  // only the unused name was wanted
                if (::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, pattern.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    named_ = pattern;
                else if (errno != EEXIST)
                    return false;
            }
            if (named_.empty()) return false;
        }
        if (std::rename(named_.c_str(), target.c_str()) != 0) return false;
        named_.clear();
        return fd_.Close();
    }

  private:
    std::filesystem::path folder_;
    std::string prefix_;
    UniqueFd fd_;
    std::filesystem::path path_;  // where editors reach the content
    std::string named_;           // its name in the folder, while it has one
};

// The steps both kinds of save share: `fill` gets the open original and the
// new temporary file and makes its content; `edit` (may be empty) then
// changes the temporary file by path.
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
    // A read-only file (no write bit, the platform's read-only attribute) is
    // never replaced: the rename needs only the folder's permission, so
    // without this check any user, and root always, would overwrite it.
    if (!MayReplace(target, st)) return false;

    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string prefix = TemporaryPrefix(target.filename().string());
    RemoveStaleTemporaries(folder, prefix);
    Temporary tmp(folder, prefix);
    if (!tmp.valid()) return false;

    // `fill` and `edit` must not throw; an exception counts as failure.
    const auto succeeds = [](const auto& step) {
        try {
            return step();
        } catch (...) {
            return false;
        }
    };
    if (!succeeds([&] { return fill(src.get(), tmp.fd()); })) return false;
    if (g_fault == 1) return false;
    if (edit && !succeeds([&] { return edit(tmp.path()); })) return false;
    if (g_fault == 2) return false;
    // The original's permission bits, set last so that an editor opening the
    // copy by name may still write it; then the content reaches the disk
    // before the name does.
    if (::fchmod(tmp.fd(), st.st_mode & 07777) != 0) return false;
    if (::fsync(tmp.fd()) != 0) return false;
    if (!tmp.ReplaceTarget(target)) return false;
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

void SetUnnamedTemporaryForTesting(bool allowed) { g_unnamed_allowed = allowed; }

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
