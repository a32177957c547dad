#include "platform/imaging/stream.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr ULONGLONG kMaxStreamSize = 0xFFFFFFFFull;

class MemoryStream final : public platform::ComObject<MemoryStream, IStream> {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object && riid == ISequentialStream::iid) {
            *object = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, object);
    }

    HRESULT Read(void* buffer, ULONG cb, ULONG* read) override {
        if (read) *read = 0;
        if (!buffer && cb != 0) return STG_E_INVALIDPOINTER;
        ULONG n = 0;
        if (position_ < bytes_.size()) {
            const ULONGLONG left = bytes_.size() - position_;
            n = static_cast<ULONG>(left < cb ? left : cb);
            std::memcpy(buffer, bytes_.data() + position_, n);
            position_ += n;
        }
        if (read) *read = n;
        return n == cb ? S_OK : S_FALSE;
    }

    HRESULT Write(const void* buffer, ULONG cb, ULONG* written) override {
        if (written) *written = 0;
        if (!buffer && cb != 0) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        const ULONGLONG end = position_ + cb;
        if (end > kMaxStreamSize) return STG_E_MEDIUMFULL;
        try {
            if (end > bytes_.size()) bytes_.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(bytes_.data() + position_, buffer, cb);
        position_ = end;
        if (written) *written = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) override {
        LONGLONG base;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(bytes_.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        // Both terms are below 2^33 or a caller's 64-bit offset; refuse anything
        // that would leave the 0 .. 4 GiB range rather than wrap.
        if (move.QuadPart < -base || move.QuadPart > static_cast<LONGLONG>(kMaxStreamSize) - base)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<ULONGLONG>(base + move.QuadPart);
        if (new_position) new_position->QuadPart = position_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER new_size) override {
        if (new_size.QuadPart > kMaxStreamSize) return STG_E_MEDIUMFULL;
        try {
            bytes_.resize(static_cast<size_t>(new_size.QuadPart));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                   ULARGE_INTEGER* written) override {
        if (read) read->QuadPart = 0;
        if (written) written->QuadPart = 0;
        if (!target) return STG_E_INVALIDPOINTER;
        ULONGLONG left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        if (cb.QuadPart < left) left = cb.QuadPart;
        ULONG done = 0;
        const HRESULT hr = target->Write(bytes_.data() + position_, static_cast<ULONG>(left), &done);
        position_ += left;
        if (read) read->QuadPart = left;
        if (written) written->QuadPart = done;
        return hr;
    }

    HRESULT Commit(DWORD) override { return S_OK; }  // memory has nothing to flush
    HRESULT Revert() override { return S_OK; }       // and no transaction to undo
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* stat, DWORD flags) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }

    HRESULT Clone(IStream** stream) override {
        if (!stream) return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        return E_NOTIMPL;  // nothing here shares a stream between two seek pointers
    }

  private:
    std::vector<BYTE> bytes_;
    ULONGLONG position_ = 0;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(void* global, BOOL, IStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (global) return E_INVALIDARG;
    auto* s = new (std::nothrow) MemoryStream();
    if (!s) return E_OUTOFMEMORY;
    *stream = s;
    return S_OK;
}
