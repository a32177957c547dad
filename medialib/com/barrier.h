// The exception barrier of the module's COM methods.
//
// Callers reach these methods through C-style vtable calls and know only
// status codes: an exception that left a method would unwind through frames
// that were never built for it (a C caller, or a caller built by another
// compiler). Every exported method runs its body through Guarded, which turns
// an allocation failure into E_OUTOFMEMORY and any other exception into
// E_FAIL.
#pragma once

#include <new>

#include "platform/wintypes.h"

namespace medialib {

template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace medialib
