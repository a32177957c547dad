#include "host/core/local_filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/sdk/text.h"
#include "platform/files/unique_dir.h"

namespace playhost {
namespace {

[[noreturn]] void ThrowErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            throw exception_io_not_found();
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            throw exception_io_denied();
        case EEXIST:
            throw exception_io_already_exists();
        default:
            throw exception_io(std::string("I/O error: ") + std::strerror(error));
    }
}

uint64_t TimestampOf(const struct stat& st) {
    return fb2k::windows_file_time(static_cast<int64_t>(st.st_mtim.tv_sec),
                                   static_cast<int64_t>(st.st_mtim.tv_nsec));
}

t_filestats StatsOf(const struct stat& st) {
    t_filestats stats;
    stats.m_size = S_ISDIR(st.st_mode) ? t_filestats::filesize_invalid : static_cast<uint64_t>(st.st_size);
    stats.m_timestamp = TimestampOf(st);
    return stats;
}

// Owns one descriptor.
class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

class LocalFile : public file {
  public:
    explicit LocalFile(int fd) : m_fd(fd) {}

    size_t read(void* buffer, size_t bytes, abort_callback& abort) override {
        abort.check();
        auto* p = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::read(m_fd.get(), p + done, bytes - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowErrno(errno);
            }
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }
    void write(const void* buffer, size_t bytes, abort_callback& abort) override {
        abort.check();
        const auto* p = static_cast<const uint8_t*>(buffer);
        size_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(m_fd.get(), p + done, bytes - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowErrno(errno);
            }
            done += static_cast<size_t>(n);
        }
    }
    uint64_t get_size(abort_callback&) override { return stat_now().st_size; }
    uint64_t get_position(abort_callback&) override {
        const off_t pos = ::lseek(m_fd.get(), 0, SEEK_CUR);
        if (pos < 0) ThrowErrno(errno);
        return static_cast<uint64_t>(pos);
    }
    void seek_ex(int64_t offset, t_seek_mode mode, abort_callback& abort) override {
        abort.check();
        const int whence = mode == seek_from_current ? SEEK_CUR : mode == seek_from_eof ? SEEK_END : SEEK_SET;
        if (::lseek(m_fd.get(), static_cast<off_t>(offset), whence) < 0) {
            if (errno == EINVAL) throw exception_io_data();
            ThrowErrno(errno);
        }
    }
    void truncate_here(abort_callback& abort) override {
        const uint64_t pos = get_position(abort);
        if (::ftruncate(m_fd.get(), static_cast<off_t>(pos)) != 0) ThrowErrno(errno);
    }
    t_filestats get_stats(abort_callback&) override { return StatsOf(stat_now()); }

  private:
    struct stat stat_now() const {
        struct stat st {};
        if (::fstat(m_fd.get(), &st) != 0) ThrowErrno(errno);
        return st;
    }
    Descriptor m_fd;
};

class LocalFilesystem : public filesystem {
  public:
    bool is_our_path(const char* path) override {
        if (!path) return false;
        const std::string_view text = path;
        if (fb2k::starts_with_nocase(text, "file://")) return true;
        // Any other "scheme://" belongs to another file system.
        const size_t colon = text.find("://");
        return colon == std::string_view::npos ||
               text.find_first_of("/\\") < colon;  // a "://" inside a path is not a scheme
    }

    void open(file_ptr& out, const char* path, t_open_mode mode, abort_callback& abort) override {
        abort.check();
        const std::string native = fb2k::host_path_to_native(path);
        int flags = O_CLOEXEC;
        switch (mode) {
            case open_mode_read:
                flags |= O_RDONLY;
                break;
            case open_mode_write_existing:
                flags |= O_RDWR;
                break;
            case open_mode_write_new:
                flags |= O_RDWR | O_CREAT | O_TRUNC;
                break;
        }
        // Reading opens regular files only: the open of a FIFO would wait for
        // a writer (so it is made without waiting) and a device may never end.
        if (mode == open_mode_read) flags |= O_NONBLOCK | O_NOCTTY;
        const int fd = ::open(native.c_str(), flags, 0666);
        if (fd < 0) {
            // A name longer than the file system can hold names no file to
            // read; creating one is still the error it is.
            if (errno == ENAMETOOLONG && mode == open_mode_read) throw exception_io_not_found();
            ThrowErrno(errno);
        }
        auto object = fb2k::service_new<LocalFile>(fd);
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) throw exception_io_denied();
        if (mode == open_mode_read) {
            if (::fstat(fd, &st) != 0) ThrowErrno(errno);
            if (!S_ISREG(st.st_mode)) throw exception_io_not_found();
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        }
        out = object.get_ptr();
    }

    void remove(const char* path, abort_callback& abort) override {
        abort.check();
        const std::string native = fb2k::host_path_to_native(path);
        if (::remove(native.c_str()) != 0) ThrowErrno(errno == ENAMETOOLONG ? ENOENT : errno);
    }

    void move(const char* from, const char* to, abort_callback& abort) override {
        abort.check();
        const std::string source = fb2k::host_path_to_native(from);
        const std::string target = fb2k::host_path_to_native(to);
        struct stat st {};
        if (::stat(source.c_str(), &st) != 0) ThrowErrno(errno);
        if (S_ISDIR(st.st_mode)) throw exception_io_denied();  // files only
        // A read-only target (no write permission, the Windows read-only
        // attribute) is not replaced, whoever asks: the rename itself would
        // need only the folder's permission.
        struct stat existing {};
        if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
            ((existing.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
            throw exception_io_denied();
        // The new content reaches the disk before the name does: otherwise a
        // crash soon after the rename could leave the target empty, with the
        // previous content already gone. A flush that fails keeps the target.
        {
            const Descriptor fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
            if (fd.get() >= 0 && ::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
                ThrowErrno(errno);
        }
        // rename() swaps the name atomically when the target exists.
        if (::rename(source.c_str(), target.c_str()) != 0) ThrowErrno(errno);
        // And the folder's new entry is made durable too (best effort).
        const std::string folder = std::filesystem::path(target).parent_path().string();
        const Descriptor dir(
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0) ::fsync(dir.get());
    }

    void create_directory(const char* path, abort_callback& abort) override {
        abort.check();
        std::string native = fb2k::host_path_to_native(path);
        while (native.size() > 1 && native.back() == '/') native.pop_back();
        if (::mkdir(native.c_str(), 0777) != 0) ThrowErrno(errno);
    }

    void get_stats(const char* path, t_filestats& stats, bool& is_writeable, abort_callback& abort) override {
        abort.check();
        const std::string native = fb2k::host_path_to_native(path);
        struct stat st {};
        // A name too long for the file system cannot exist (the stream
        // side-tag name of a long file name, say): not found, not an error.
        if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno == ENAMETOOLONG ? ENOENT : errno);
        stats = StatsOf(st);
        is_writeable = ::access(native.c_str(), W_OK) == 0;
    }

    void list_directory(const char* path, directory_callback& callback, abort_callback& abort) override {
        abort.check();
        const bool host_form = path && fb2k::starts_with_nocase(path, "file://");
        std::string folder = fb2k::host_path_to_native(path);
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        platform::UniqueDir dir(::opendir(folder.c_str()));
        if (!dir) ThrowErrno(errno);

        struct Entry {
            std::string name;
            bool is_folder;
            t_filestats stats;
        };
        std::vector<Entry> entries;
        errno = 0;
        while (const dirent* d = ::readdir(dir.get())) {
            const std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            const std::string child = (folder == "/" ? "" : folder) + "/" + name;
            if (::stat(child.c_str(), &st) != 0) continue;  // vanished or a dangling link
            entries.push_back({name, S_ISDIR(st.st_mode), StatsOf(st)});
        }
        dir.reset();
        // A stable order, whatever order the disk returns entries in.
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
        for (const Entry& e : entries) {
            const std::string child = (folder == "/" ? "" : folder) + "/" + e.name;
            const std::string host = host_form ? fb2k::native_path_to_host(child) : child;
            if (!callback.on_entry(this, abort, host.c_str(), e.is_folder, e.stats)) break;
        }
    }
};

}  // namespace

service_ptr_t<filesystem> CreateLocalFilesystem() {
    return service_ptr_t<filesystem>(fb2k::service_new<LocalFilesystem>().get_ptr());
}

}  // namespace playhost
