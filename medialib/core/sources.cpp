// ByteSource implementations: a file read with pread (no shared file position,
// so concurrent readers do not disturb each other) and a borrowed memory span.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "medialib/core/container.h"
#include "medialib/core/unique_fd.h"

namespace medialib {
namespace {

class FileSource final : public ByteSource {
  public:
    FileSource(UniqueFd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}

    uint64_t Size() const override { return size_; }

    size_t ReadAt(uint64_t offset, void* buffer, size_t n) const override {
        if (offset >= size_) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
        size_t done = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (done < n) {
            ssize_t got = ::pread(fd_.get(), out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        return done;
    }

  private:
    UniqueFd fd_;
    uint64_t size_;
};

class SpanSource final : public ByteSource {
  public:
    explicit SpanSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) const override {
        if (offset >= bytes_.size()) return 0;
        n = std::min<size_t>(n, bytes_.size() - static_cast<size_t>(offset));
        if (n > 0) std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }

  private:
    std::span<const uint8_t> bytes_;
};

FileStamp StampFrom(const struct stat& st) {
    FileStamp stamp;
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changed_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::filesystem::path& path) {
    return OpenFileSource(path, nullptr);
}

std::unique_ptr<ByteSource> OpenFileSource(const std::filesystem::path& path, FileStamp* stamp) {
    // Without O_NONBLOCK the open of a FIFO would wait for a writer: the
    // type is known only once it is open. Regular files ignore the flag.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    if (stamp) *stamp = StampFrom(st);
    return std::make_unique<FileSource>(std::move(fd), static_cast<uint64_t>(st.st_size));
}

bool StampOf(const std::filesystem::path& path, FileStamp* stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *stamp = StampFrom(st);
    return true;
}

std::unique_ptr<ByteSource> MemorySource(std::span<const uint8_t> bytes) {
    return std::make_unique<SpanSource>(bytes);
}

}  // namespace medialib
