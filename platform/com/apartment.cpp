#include "platform/com/apartment.h"

#include <atomic>

namespace {
thread_local int t_init_count = 0;
std::atomic<HRESULT> g_forced_result{S_OK};
}  // namespace

HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*coinit*/) {
    const HRESULT forced = g_forced_result.load();
    if (FAILED(forced)) return forced;
    return t_init_count++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_init_count > 0) --t_init_count;
}

namespace platform {

int ComInitCount() { return t_init_count; }

void SetCoInitializeResultForTesting(HRESULT hr) { g_forced_result.store(hr); }

}  // namespace platform
