// The kernel object behind a file handle, and the mapping of system errors to
// Win32 codes. Shared by the file and console services; not for callers.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>

#include "platform/files/files.h"

namespace platform {

class FileObject : public KernelObject {
  public:
    FileObject(int fd, bool owned, bool readable, bool writable);
    ~FileObject() override;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    int fd() const { return fd_; }
    bool readable() const { return readable_; }
    bool writable() const { return writable_; }
    // A pipe, socket or terminal rather than a disk file.
    bool is_stream() const { return is_stream_; }
    // A pipe or socket: a read of nothing means the writer has gone.
    bool is_pipe() const { return is_pipe_; }

    // Removed when the object dies (FILE_FLAG_DELETE_ON_CLOSE).
    void set_delete_on_close(std::string path) { delete_on_close_ = std::move(path); }

    // Console writes keep a high surrogate that ended one call for the next.
    std::mutex console_lock;
    char16_t pending_high_surrogate = 0;

  private:
    int fd_;
    bool owned_;
    bool readable_;
    bool writable_;
    bool is_stream_;
    bool is_pipe_;
    std::string delete_on_close_;
};

// The Win32 code for an errno value. ENOENT becomes ERROR_FILE_NOT_FOUND when
// the folder of `path` exists and ERROR_PATH_NOT_FOUND otherwise.
DWORD ErrorFromErrno(int error, const std::string& path = {});

// Writes all bytes to a descriptor; a broken pipe gives EPIPE instead of a
// signal. Returns 0 or the errno value.
int WriteAll(int fd, const void* data, size_t size, size_t* written);

// True when none of the write bits is set.
inline bool ModeIsReadOnly(mode_t mode) { return (mode & 0222) == 0; }

}  // namespace platform
