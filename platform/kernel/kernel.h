// Private heaps, mutexes and sleeping, as the Windows kernel offers them.
//
// A heap is a handle whose blocks all die with HeapDestroy; blocks remember
// their size, so HeapReAlloc can zero-fill what it adds. A mutex is owned by
// one thread at a time and may be taken again by its owner (counted);
// ReleaseMutex by a thread that does not own it fails. Both are kernel-object
// handles of the module's handle table (see platform/files/handles.h).
#pragma once

#include <cstddef>

#include "platform/files/handles.h"

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Options, initial and maximum size are accepted and ignored (the heap grows
// as needed). Null on failure.
HANDLE HeapCreate(DWORD options, size_t initial_size, size_t maximum_size);
BOOL HeapDestroy(HANDLE heap);  // frees every block still allocated
// Null on failure (no memory, bad heap handle).
void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
// Null on failure; the old block then stays valid. With HEAP_ZERO_MEMORY the
// added bytes are zero.
void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
size_t HeapSize(HANDLE heap, DWORD flags, const void* block);  // (size_t)-1 on failure

// Attributes and name must be null here (unnamed mutexes only).
HANDLE CreateMutexW(void* attributes, BOOL initial_owner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
// WAIT_OBJECT_0 when the mutex was taken, WAIT_TIMEOUT, or WAIT_FAILED for a
// handle that is no mutex. `milliseconds` 0xFFFFFFFF waits for ever.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD milliseconds);
