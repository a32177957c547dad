// Kernel object handles.
//
// A HANDLE is a number that the module's handle table maps to a kernel object
// (an open file, a standard stream, or whatever else a service makes and
// wants CloseHandle to end). The table holds shared pointers, so an object
// stays alive while a call works on it even if another thread closes the
// handle; a closed or made-up handle is simply not found, and the call fails
// with ERROR_INVALID_HANDLE instead of touching freed memory. Handle values
// are multiples of 4 from 0x100 upwards, never null and never
// INVALID_HANDLE_VALUE. Each module that links the platform has its own table,
// so handles do not cross module boundaries (nothing in the system passes one).
#pragma once

#include <memory>

#include "platform/wintypes.h"

using HANDLE = void*;
using PHANDLE = HANDLE*;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// Ends the handle: its object dies once the last call using it returns.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL CloseHandle(HANDLE hObject);

namespace platform {

// Owns a handle and closes it at the end of the owner's life; null and
// INVALID_HANDLE_VALUE own nothing, so a failed CreateFileW can be kept as is.
struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Base of everything a handle can stand for.
class KernelObject {
  public:
    virtual ~KernelObject() = default;
};

// Enters the object into the table; returns its new handle (null only when
// the object is null).
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE) when
// the handle is not open or stands for an object of another kind.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace platform
