// Standard handles and console output (see console.h).

#include "platform/console/console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <string>

#include "platform/files/fileobject.h"
#include "platform/text/text.h"

namespace {

struct StdHandles {
    std::mutex lock;
    std::array<HANDLE, 3> own{};  // our wrappers of descriptors 0-2, made on first use
    std::array<bool, 3> own_made{};
    std::array<HANDLE, 3> set{};  // what SetStdHandle put in place
    std::array<bool, 3> is_set{};
};

StdHandles& Std() {
    static StdHandles* state = new StdHandles;  // lives as long as the process
    return *state;
}

// 0, 1, 2 for the three standard ids, -1 otherwise.
int SlotOf(DWORD nStdHandle) {
    if (nStdHandle == STD_INPUT_HANDLE) return 0;
    if (nStdHandle == STD_OUTPUT_HANDLE) return 1;
    if (nStdHandle == STD_ERROR_HANDLE) return 2;
    return -1;
}

}  // namespace

HANDLE GetStdHandle(DWORD nStdHandle) {
    int slot = SlotOf(nStdHandle);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    StdHandles& std_handles = Std();
    std::lock_guard<std::mutex> guard(std_handles.lock);
    if (std_handles.is_set[slot]) return std_handles.set[slot];
    if (!std_handles.own_made[slot]) {
        std_handles.own_made[slot] = true;
        if (fcntl(slot, F_GETFD) != -1) {
            HANDLE h = platform::HandleFromFd(slot, false);
            if (h != INVALID_HANDLE_VALUE) std_handles.own[slot] = h;
        }
    }
    return std_handles.own[slot];
}

BOOL SetStdHandle(DWORD nStdHandle, HANDLE hHandle) {
    int slot = SlotOf(nStdHandle);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    StdHandles& std_handles = Std();
    std::lock_guard<std::mutex> guard(std_handles.lock);
    std_handles.is_set[slot] = true;
    std_handles.set[slot] = hHandle;
    return TRUE;
}

DWORD GetFileType(HANDLE hFile) {
    auto file = platform::LookupHandleAs<platform::FileObject>(hFile);
    if (!file) return FILE_TYPE_UNKNOWN;
    struct stat st {};
    if (fstat(file->fd(), &st) != 0) {
        SetLastError(platform::ErrorFromErrno(errno));
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(ERROR_SUCCESS);
    if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return FILE_TYPE_DISK;
    return FILE_TYPE_UNKNOWN;
}

BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    auto file = platform::LookupHandleAs<platform::FileObject>(hConsoleHandle);
    if (!file) return FALSE;
    if (!isatty(file->fd())) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpMode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpMode = file->writable() ? (ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT)
                               : (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    return TRUE;
}

BOOL WriteConsoleW(HANDLE hConsoleOutput, LPCVOID lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID) {
    if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = 0;
    auto file = platform::LookupHandleAs<platform::FileObject>(hConsoleOutput);
    if (!file) return FALSE;
    if (!isatty(file->fd()) || !file->writable()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpBuffer && nNumberOfCharsToWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(file->console_lock);
    std::u16string text;
    if (file->pending_high_surrogate) text.push_back(file->pending_high_surrogate);
    file->pending_high_surrogate = 0;
    if (nNumberOfCharsToWrite) text.append(static_cast<const char16_t*>(lpBuffer), nNumberOfCharsToWrite);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
        file->pending_high_surrogate = text.back();
        text.pop_back();
    }
    std::string bytes = platform::Utf16ToUtf8(text);
    size_t written = 0;
    if (int error = platform::WriteAll(file->fd(), bytes.data(), bytes.size(), &written)) {
        SetLastError(platform::ErrorFromErrno(error));
        return FALSE;
    }
    if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
    return TRUE;
}

namespace platform {

void ResetStdHandles() {
    StdHandles& std_handles = Std();
    std::lock_guard<std::mutex> guard(std_handles.lock);
    std_handles.is_set = {};
    std_handles.set = {};
}

}  // namespace platform
