#include "platform/com/memory.h"

#include <cstdlib>
#include <cstring>

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }
void* CoTaskMemRealloc(void* p, size_t size) { return std::realloc(p, size ? size : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

namespace {

// Layout: [uint32 byte length][units...][NUL unit]. The BSTR points at the units.
BSTR AllocBytes(const void* data, UINT byte_length) {
    const size_t total = sizeof(uint32_t) + size_t{byte_length} + sizeof(char16_t) + 1;
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (!block) return nullptr;
    std::memcpy(block, &byte_length, sizeof(uint32_t));
    unsigned char* units = block + sizeof(uint32_t);
    if (data)
        std::memcpy(units, data, byte_length);
    else
        std::memset(units, 0, byte_length);
    // Terminator: two (three for odd byte lengths) zero bytes.
    std::memset(units + byte_length, 0, sizeof(char16_t) + 1);
    return reinterpret_cast<BSTR>(units);
}

uint32_t* Header(BSTR s) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(s) - sizeof(uint32_t));
}

}  // namespace

BSTR SysAllocString(LPCWSTR text) {
    if (!text) return nullptr;
    size_t n = 0;
    while (text[n]) ++n;
    return SysAllocStringLen(text, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(LPCWSTR text, UINT length) {
    if (length > 0x7FFFFFFFu / sizeof(char16_t)) return nullptr;
    return AllocBytes(text, length * static_cast<UINT>(sizeof(char16_t)));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) { return AllocBytes(bytes, length); }

void SysFreeString(BSTR s) {
    if (s) std::free(Header(s));
}

UINT SysStringByteLen(BSTR s) { return s ? *Header(s) : 0; }
UINT SysStringLen(BSTR s) { return SysStringByteLen(s) / static_cast<UINT>(sizeof(char16_t)); }

INT SysReAllocString(BSTR* s, LPCWSTR text) {
    if (!s) return FALSE;
    BSTR fresh = SysAllocString(text);
    if (text && !fresh) return FALSE;
    SysFreeString(*s);
    *s = fresh;
    return TRUE;
}

namespace platform {

BSTR AllocBstr(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::u16string_view BstrView(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

}  // namespace platform
