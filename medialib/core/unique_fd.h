// An owned POSIX file descriptor.
//
// The descriptor is closed when its owner goes away. Writers that must know
// whether their data reached the file call Close() themselves: close can
// report a write error that the kernel delayed, and the destructor has nobody
// to tell.
#pragma once

#include <unistd.h>

#include <utility>

namespace medialib {

class UniqueFd {
  public:
    // Takes `fd`; a negative value (a failed open) owns nothing.
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Closes the descriptor now; false when close fails. Owning nothing
    // afterwards either way.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

}  // namespace medialib
