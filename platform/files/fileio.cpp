// Opening, reading, writing and seeking files through handles.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "platform/files/fileobject.h"

namespace platform {
namespace {

mode_t DescriptorMode(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_mode : 0;
}

bool FolderExists(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Blocks SIGPIPE on the calling thread for the lifetime of the object and
// swallows a SIGPIPE that the guarded writes raised, so a vanished reader
// shows as EPIPE only.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_set_);
        sigaddset(&pipe_set_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
    }
    ~SigpipeGuard() {
        if (raised_ && !was_pending_) {
            struct timespec zero {};
            while (sigtimedwait(&pipe_set_, nullptr, &zero) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    }
    void raised() { raised_ = true; }

  private:
    sigset_t pipe_set_;
    sigset_t old_mask_;
    bool was_pending_ = false;
    bool raised_ = false;
};

}  // namespace

FileObject::FileObject(int fd, bool owned, bool readable, bool writable)
    : fd_(fd), owned_(owned), readable_(readable), writable_(writable) {
    mode_t mode = DescriptorMode(fd);
    is_stream_ = !S_ISREG(mode) && !S_ISBLK(mode);
    is_pipe_ = S_ISFIFO(mode) || S_ISSOCK(mode);
}

FileObject::~FileObject() {
    if (!delete_on_close_.empty()) unlink(delete_on_close_.c_str());
    if (owned_ && fd_ >= 0) close(fd_);
}

DWORD ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return !path.empty() && FolderExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
        case EBUSY:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EPIPE:
            return ERROR_NO_DATA;
        case EINVAL:
        case ESPIPE:
            return ERROR_INVALID_PARAMETER;
        case ENOTSUP:
            return ERROR_NOT_SUPPORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

int WriteAll(int fd, const void* data, size_t size, size_t* written) {
    SigpipeGuard guard;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    int result = 0;
    while (done < size) {
        ssize_t n = write(fd, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = errno;
            if (result == EPIPE) guard.raised();
            break;
        }
        if (n == 0) {
            result = EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (written) *written = done;
    return result;
}

HANDLE HandleFromFd(int fd, bool owned) {
    if (fd < 0 || fcntl(fd, F_GETFD) == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    int mode = fcntl(fd, F_GETFL) & O_ACCMODE;
    return RegisterHandle(std::make_shared<FileObject>(fd, owned, mode != O_WRONLY, mode != O_RDONLY));
}

int FdOf(HANDLE handle) {
    auto file = LookupHandleAs<FileObject>(handle);
    return file ? file->fd() : -1;
}

BOOL SeekFile(HANDLE hFile, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
                 : moveMethod == FILE_CURRENT ? SEEK_CUR
                 : moveMethod == FILE_END     ? SEEK_END
                                              : -1;
    if (whence < 0 || file->is_stream()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = lseek(file->fd(), 0, SEEK_CUR);
    } else if (whence == SEEK_END) {
        struct stat st {};
        base = fstat(file->fd(), &st) == 0 ? st.st_size : -1;
    }
    if (base < 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    // Windows refuses a negative position but allows any position past the end.
    if ((distance < 0 && base + distance < 0) || (distance > 0 && base > LLONG_MAX - distance)) {
        SetLastError(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    off_t position = lseek(file->fd(), base + distance, SEEK_SET);
    if (position < 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    if (newPosition) *newPosition = position;
    return TRUE;
}

BOOL FileSize(HANDLE hFile, LONGLONG* size) {
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    struct stat st {};
    if (fstat(file->fd(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    *size = S_ISREG(st.st_mode) ? st.st_size : 0;
    return TRUE;
}

FILETIME UnixToFileTime(int64_t seconds, uint32_t nanoseconds) {
    // 1601-01-01 lies 11644473600 seconds before 1970-01-01.
    constexpr int64_t kEpochDifference = 11644473600LL;
    uint64_t ticks = 0;
    if (seconds >= -kEpochDifference && seconds <= (INT64_MAX / 10000000) - kEpochDifference) {
        ticks = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL + nanoseconds / 100;
    } else if (seconds > 0) {
        ticks = UINT64_MAX;
    }
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t FileTimeToUInt64(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int64_t FileTimeToUnix(const FILETIME& time) {
    return static_cast<int64_t>(FileTimeToUInt64(time) / 10000000ULL) - 11644473600LL;
}

}  // namespace platform

using platform::ErrorFromErrno;
using platform::FileObject;
using platform::LookupHandleAs;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (!lpFileName || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    (void)dwShareMode;  // not enforced; see files.h
    const std::string path = platform::NativePath(lpFileName);
    // The specific rights FILE_READ_DATA (1) and FILE_WRITE_DATA / FILE_APPEND_DATA (2, 4) count too.
    const bool want_read = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | 0x1)) != 0;
    const bool want_write = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | 0x2 | 0x4)) != 0;
    const bool truncates =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    if (dwCreationDisposition == TRUNCATE_EXISTING && !want_write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    struct stat st {};
    const bool existed = stat(path.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (dwCreationDisposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        if ((want_write || truncates) && S_ISREG(st.st_mode) && platform::ModeIsReadOnly(st.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC | O_NOCTTY;
    flags |= (want_write || truncates) ? (want_read || truncates ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            break;
    }
    if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
    // Opening a FIFO for reading waits for a writer, which may never come:
    // an open for reading does not wait. Reads keep their usual blocking
    // behaviour (the flag is cleared again below); a FIFO has no size, so the
    // readers of whole files read nothing from it.
    const bool read_only = !(want_write || truncates);
    if (read_only) flags |= O_NONBLOCK;
    int fd;
    do {
        fd = open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && read_only) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (fd < 0) {
        DWORD error = ErrorFromErrno(errno, path);
        SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : error);
        return INVALID_HANDLE_VALUE;
    }
    struct stat opened {};
    if (fstat(fd, &opened) == 0 && S_ISDIR(opened.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed) {
        // Attributes asked for apply to a file this call made.
        if (dwFlagsAndAttributes & FILE_ATTRIBUTE_HIDDEN)
            fsetxattr(fd, platform::kHiddenAttributeName, "1", 1, 0);
        if (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) fchmod(fd, opened.st_mode & 07555);
    }
    auto object = std::make_shared<FileObject>(fd, true, want_read, want_write);
    if (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) object->set_delete_on_close(path);
    HANDLE handle = platform::RegisterHandle(std::move(object));
    const bool reports_existence =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(reports_existence && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    if (!lpNumberOfBytesRead || lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->readable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    char* p = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = read(file->fd(), p + done, nNumberOfBytesToRead - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            *lpNumberOfBytesRead = done;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        if (n == 0) {
            if (file->is_pipe() && done == 0) {
                SetLastError(ERROR_BROKEN_PIPE);
                return FALSE;
            }
            break;
        }
        done += static_cast<DWORD>(n);
        if (file->is_stream()) break;  // a pipe gives what it has
    }
    *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    size_t written = 0;
    int error = platform::WriteAll(file->fd(), lpBuffer, nNumberOfBytesToWrite, &written);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    if (error) {
        SetLastError(ErrorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    if (fsync(file->fd()) != 0 && !(file->is_stream() && (errno == EINVAL || errno == EROFS))) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL SetEndOfFile(HANDLE hFile) {
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    if (!file->writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t position = lseek(file->fd(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd(), position) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    LONGLONG size = 0;
    if (!platform::FileSize(hFile, &size)) return INVALID_FILE_SIZE;
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
    // As on Windows, a low part that equals INVALID_FILE_SIZE is told apart by the last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime) {
    auto file = LookupHandleAs<FileObject>(hFile);
    if (!file) return FALSE;
    struct statx sx {};
    if (statx(file->fd(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    const statx_timestamp& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    if (lpCreationTime) *lpCreationTime = platform::UnixToFileTime(birth.tv_sec, birth.tv_nsec);
    if (lpLastAccessTime)
        *lpLastAccessTime = platform::UnixToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    if (lpLastWriteTime)
        *lpLastWriteTime = platform::UnixToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    return TRUE;
}
