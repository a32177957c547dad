#include "host/sdk/filesystem.h"

#include "host/sdk/core_api.h"
#include "host/sdk/text.h"

void file::read_object(void* buffer, size_t bytes, abort_callback& abort) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < bytes) {
        const size_t n = read(p + done, bytes - done, abort);
        if (n == 0) throw exception_io_data();
        done += n;
    }
}

std::vector<uint8_t> file::read_till_eof(abort_callback& abort) {
    std::vector<uint8_t> out;
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = read(chunk, sizeof(chunk), abort);
        if (n == 0) break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

bool directory_callback_impl::on_entry(filesystem* owner, abort_callback& abort, const char* path,
                                       bool is_subdirectory, const t_filestats& stats) {
    abort.check();
    if (is_subdirectory) {
        if (m_recursive) owner->list_directory(path, *this, abort);
    } else {
        m_files.push_back({path, stats});
    }
    return true;
}

service_ptr_t<filesystem> filesystem::g_get_interface(const char* path) {
    service_enum_t<filesystem> e;
    service_ptr_t<filesystem> fs;
    while (e.next(fs)) {
        if (fs->is_our_path(path)) return fs;
    }
    throw exception_io_not_found();
}

void filesystem::g_open(file_ptr& out, const char* path, t_open_mode mode, abort_callback& abort) {
    g_get_interface(path)->open(out, path, mode, abort);
}

void filesystem::g_get_stats(const char* path, t_filestats& stats, bool& is_writeable,
                             abort_callback& abort) {
    g_get_interface(path)->get_stats(path, stats, is_writeable, abort);
}

void filesystem::g_list_directory(const char* path, directory_callback& callback, abort_callback& abort) {
    g_get_interface(path)->list_directory(path, callback, abort);
}

void filesystem::g_remove(const char* path, abort_callback& abort) {
    g_get_interface(path)->remove(path, abort);
}

void filesystem::move(const char*, const char*, abort_callback&) {
    throw exception_io("I/O error: this file system cannot rename files");
}

void filesystem::g_move(const char* from, const char* to, abort_callback& abort) {
    g_get_interface(from)->move(from, to, abort);
}

void filesystem::g_create_directory(const char* path, abort_callback& abort) {
    g_get_interface(path)->create_directory(path, abort);
}

bool filesystem::g_exists(const char* path, abort_callback& abort) {
    try {
        t_filestats stats;
        bool writeable = false;
        g_get_stats(path, stats, writeable, abort);
        return true;
    } catch (const exception_io_not_found&) {
        return false;
    }
}

namespace {
class FirstEntry final : public directory_callback {
  public:
    bool on_entry(filesystem*, abort_callback&, const char*, bool, const t_filestats&) override {
        found = true;
        return false;
    }
    bool found = false;
};
}  // namespace

bool filesystem::g_is_empty_directory(const char* path, abort_callback& abort) {
    FirstEntry probe;
    try {
        g_list_directory(path, probe, abort);
    } catch (const exception_io_not_found&) {
        return false;
    }
    return !probe.found;
}

namespace fb2k {
std::string host_path_to_native(const char* host_path) {
    std::string_view text = host_path ? host_path : "";
    if (starts_with_nocase(text, "file://")) text.remove_prefix(7);
    std::string out(text);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::string native_path_to_host(const std::string& native_path) { return "file://" + native_path; }

uint64_t windows_file_time(int64_t seconds, int64_t nanoseconds) {
    constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
    const int64_t ticks = (seconds + kEpochDifference) * 10000000 + nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}
}  // namespace fb2k
