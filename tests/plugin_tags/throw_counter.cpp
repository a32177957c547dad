// The throw entry of the C++ runtime, defined here so that the program's own
// throws (the code under test is linked statically) pass through it; it
// counts and hands over to the runtime's own definition. This file includes
// no header that declares the entry, so the definition is not a redeclaration
// with different attributes.
#include "throw_counter.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <typeinfo>

namespace {
std::atomic<uint64_t> g_thrown{0};
using ThrowFn = void (*)(void*, std::type_info*, void (*)(void*));
}  // namespace

extern "C" [[noreturn]] void __cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
    static const ThrowFn next = reinterpret_cast<ThrowFn>(::dlsym(RTLD_NEXT, "__cxa_throw"));
    g_thrown.fetch_add(1, std::memory_order_relaxed);
    next(object, type, destroy);
    std::abort();  // the runtime's throw does not return
}

namespace sidetagtest {
uint64_t ExceptionsThrown() { return g_thrown.load(std::memory_order_relaxed); }
}  // namespace sidetagtest
