// The task allocator and COM strings (BSTRs).
//
// A BSTR points at UTF-16 units that are preceded by a 32-bit byte length and
// followed by a NUL unit; it may hold NULs of its own, and a null BSTR counts
// as the empty string everywhere. Allocation uses the C heap, so every module
// that links the platform frees what another allocated.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

using BSTR = char16_t*;

void* CoTaskMemAlloc(size_t size);  // null on failure (or size 0 gives a valid block)
void* CoTaskMemRealloc(void* p, size_t size);
void CoTaskMemFree(void* p);  // null is fine

BSTR SysAllocString(LPCWSTR text);                  // null text gives null
BSTR SysAllocStringLen(LPCWSTR text, UINT length);  // text may be null: zero-filled
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);
void SysFreeString(BSTR s);  // null is fine
UINT SysStringLen(BSTR s);   // units; 0 for null
UINT SysStringByteLen(BSTR s);
INT SysReAllocString(BSTR* s, LPCWSTR text);

namespace platform {

// Copies a UTF-16 view into a new BSTR (an empty view gives an empty, non-null BSTR).
BSTR AllocBstr(std::u16string_view text);
// The BSTR's units as a view (null gives an empty view).
std::u16string_view BstrView(BSTR s);

// Owns one BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text) : s_(AllocBstr(text)) {}
    Bstr(const Bstr& o) : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    Bstr(Bstr&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
    Bstr& operator=(Bstr o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    static Bstr Adopt(BSTR s) {
        Bstr b;
        b.s_ = s;
        return b;
    }
    BSTR Get() const { return s_; }
    BSTR Detach() {
        BSTR s = s_;
        s_ = nullptr;
        return s;
    }
    BSTR* ReleaseAndGetAddressOf() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::u16string_view View() const { return BstrView(s_); }
    bool Empty() const { return SysStringLen(s_) == 0; }

  private:
    BSTR s_ = nullptr;
};

}  // namespace platform
