#include "plugin/host/initquit.h"

#include <mutex>

#include "library/identity.h"
#include "platform/com/apartment.h"

namespace corvina {
namespace {

// Guards creation and release of the process-wide root. The host creates it
// on its start-up thread, but when that failed any thread that opens a file
// or asks for a cover picture may try again, possibly two at once.
std::mutex g_library_mutex;

}  // namespace

MediaLibrary* EnsureMediaLibrary() {
    std::lock_guard lock(g_library_mutex);
    if (!library::ProcessMediaLibrary()) library::CreateMediaLibrary();
    return library::ProcessMediaLibrary();
}

void CInitQuit::on_init() {
    m_com_initialized = SUCCEEDED(CoInitialize(nullptr));
    // The result is not needed: a missing library is retried by every open.
    EnsureMediaLibrary();
}

void CInitQuit::on_quit() {
    {
        std::lock_guard lock(g_library_mutex);
        library::ReleaseProcessMediaLibrary();
    }
    if (m_com_initialized) {
        m_com_initialized = false;
        CoUninitialize();
    }
}

}  // namespace corvina
