// IStream and the memory stream that CreateStreamOnHGlobal makes.
//
// The memory stream is a growable byte vector with a seek pointer. Writing
// past the end grows it (zero-filling any gap left by a seek beyond the end);
// reading stops at the end and reports how much it gave. There are no global
// memory handles on this platform, so CreateStreamOnHGlobal only makes fresh,
// empty streams; the memory always dies with the stream.
#pragma once

#include "platform/com/unknown.h"
#include "platform/wintypes.h"

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

struct STREAM_FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Origins for IStream::Seek.
enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

// Flags for IStream::Stat.
enum STATFLAG : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1, STATFLAG_NOOPEN = 2 };

inline constexpr DWORD STGTY_STREAM = 2;

struct STATSTG {
    LPWSTR pwcsName;  // always null here: memory streams have no name
    DWORD type;
    ULARGE_INTEGER cbSize;
    STREAM_FILETIME mtime;
    STREAM_FILETIME ctime;
    STREAM_FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

struct ISequentialStream : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
    // Reads up to `cb` bytes; `read` (may be null) gets the count. S_FALSE when fewer than asked.
    virtual HRESULT Read(void* buffer, ULONG cb, ULONG* read) = 0;  // slot 3
    // Writes `cb` bytes at the seek pointer; `written` (may be null) gets the count.
    virtual HRESULT Write(const void* buffer, ULONG cb, ULONG* written) = 0;  // slot 4

  protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    static constexpr GUID iid = platform::MakeGuid("{0000000C-0000-0000-C000-000000000046}");
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) = 0;  // slot 5
    virtual HRESULT SetSize(ULARGE_INTEGER new_size) = 0;                                      // slot 6
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                           ULARGE_INTEGER* written) = 0;                                          // slot 7
    virtual HRESULT Commit(DWORD flags) = 0;                                                      // slot 8
    virtual HRESULT Revert() = 0;                                                                 // slot 9
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lock_type) = 0;    // slot 10
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lock_type) = 0;  // slot 11
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;                                         // slot 12
    virtual HRESULT Clone(IStream** stream) = 0;                                                  // slot 13

  protected:
    ~IStream() = default;
};

using LPSTREAM = IStream*;

inline constexpr GUID IID_ISequentialStream = ISequentialStream::iid;
inline constexpr GUID IID_IStream = IStream::iid;

// Makes a new, empty memory stream with one reference for the caller.
// `global` must be null (no global memory handles exist here: E_INVALIDARG
// otherwise); `delete_on_release` is accepted either way, the memory is always
// freed with the stream. `stream` must not be null (E_POINTER); it is set to
// null on failure. Memory streams refuse to grow beyond 4 GiB - 1
// (STG_E_MEDIUMFULL), so every size fits the 32-bit counts of Read and Write.
HRESULT CreateStreamOnHGlobal(void* global, BOOL delete_on_release, IStream** stream);

inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
inline constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);
inline constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009);
