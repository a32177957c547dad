#include "plugin/input/input_oma.h"

#include "host/sdk/exceptions.h"
#include "host/sdk/text.h"
#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "plugin/host/file_claims.h"
#include "plugin/host/initquit.h"
#include "plugin/host/settings.h"

input_oma::input_oma() {
    m_stats.m_size = 0;
    m_stats.m_timestamp = 0;
    m_grabber_cb.Create();
    m_com_initialized = SUCCEEDED(CoInitialize(nullptr));
    if (m_com_initialized) m_com_thread = std::this_thread::get_id();
}

input_oma::~input_oma() {
    m_library_path = platform::Bstr();
    m_key_path = platform::Bstr();
    m_media_events.Reset();
    if (m_grabber) {
        m_grabber->SetCallback(nullptr, 0);
        m_grabber.Reset();
    }
    if (m_player) {
        m_player->Stop();
        m_player->Close();
        m_player.Reset();
    }
    m_item.Reset();
    m_content.Reset();
    // Only the thread whose count the constructor raised is balanced: a
    // CoUninitialize on another thread would end that thread's own COM use.
    if (m_com_initialized && m_com_thread == std::this_thread::get_id()) CoUninitialize();
    m_grabber_cb.Destroy();
    m_host_path.clear();
}

void input_oma::open(file_ptr, const char* path, t_input_open_reason, abort_callback&) {
    if (!m_com_initialized) throw exception_io();
    MediaLibrary* library = corvina::EnsureMediaLibrary();
    if (!library) throw exception_io();

    m_host_path = path ? path : "";
    m_library_path = corvina::LibraryPathOf(m_host_path.c_str());
    if (!m_library_path.Get()) throw exception_io_data();
    m_key_path = m_library_path;
    if (m_key_path.Get()) CharUpperW(m_key_path.Get());

    LONG format_id = 0;    // not read
    LONG status = E_FAIL;  // not read: the call's own result decides
    HRESULT hr = library->OpenContent(m_library_path.Get(), IID_MediaContent,
                                      m_content.ReleaseAndGetVoidAddress(), &format_id, &status);
    if (FAILED(hr) || !m_content) {
        m_content.Reset();
        throw exception_io_unsupported_format();
    }
    // The content carries the file's attribute interface.
    if (FAILED(m_content->QueryInterface(IID_MediaItem, m_item.ReleaseAndGetVoidAddress())) || !m_item) {
        m_item.Reset();
        throw exception_io();
    }
}

t_filestats input_oma::get_file_stats(abort_callback&) {
    t_filestats stats;
    stats.m_size = 0;
    stats.m_timestamp = 0;
    if (m_library_path.Get()) {
        const platform::UniqueHandle file(CreateFileW(m_library_path.Get(), GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) {
            // A low part of 0xFFFFFFFF is a real size when the call reports no error
            // (a file of 4 GiB - 1 bytes, for instance).
            DWORD high = 0;
            SetLastError(ERROR_SUCCESS);
            const DWORD low = GetFileSize(file.get(), &high);
            if (low != INVALID_FILE_SIZE || GetLastError() == ERROR_SUCCESS)
                stats.m_size = (static_cast<uint64_t>(high) << 32) | low;
            FILETIME written{};
            if (GetFileTime(file.get(), nullptr, nullptr, &written))
                stats.m_timestamp =
                    (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        }
    }
    m_stats = stats;
    return stats;
}

void input_oma::get_info(file_info& info, abort_callback& abort) { read_info(info, abort); }

void input_oma::retag(const file_info& info, abort_callback& abort) { write_info(info, abort); }

bool input_oma::g_is_our_content_type(const char*) { return false; }

bool input_oma::g_is_our_path(const char*, const char* extension) {
    return corvina::ClaimsExtension(extension);
}
