#include "host/sdk/core_api.h"

#include <string>

namespace {
// Module-wide state; written by the entry point before any service runs.
foobar2000_api* g_api = nullptr;
void* g_instance = nullptr;
bool g_services_available = false;
std::string& FullPath() {
    static std::string path;
    return path;
}
std::string& FileName() {
    static std::string name;
    return name;
}
}  // namespace

namespace {
// Factories append themselves during static initialisation, so the list keeps
// their construction order. Both pointers are constant-initialised and so are
// valid before any dynamic initialiser runs.
constinit service_factory_base* g_factory_list_head = nullptr;
constinit service_factory_base* g_factory_list_tail = nullptr;
}  // namespace

service_factory_base::service_factory_base(const GUID& class_guid) noexcept
    : m_class(class_guid), m_next(nullptr) {
    if (g_factory_list_tail)
        g_factory_list_tail->m_next = this;
    else
        g_factory_list_head = this;
    g_factory_list_tail = this;
}

service_factory_base* service_factory_base::list_head() noexcept { return g_factory_list_head; }

void stream_reader::read_object(void* data, size_t bytes, abort_callback& abort) {
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < bytes) {
        const size_t n = read(p + done, bytes - done, abort);
        if (n == 0) throw exception_io_data();
        done += n;
    }
}

namespace core_api {
foobar2000_api* get_api() { return g_api; }
void set_api(foobar2000_api* api) { g_api = api; }
void* get_my_instance() { return g_instance; }
const char* get_my_full_path() { return FullPath().c_str(); }
const char* get_my_file_name() { return FileName().c_str(); }
bool are_services_available() { return g_services_available; }

std::string get_profile_path() {
    if (!g_api) throw exception_service_not_found();
    const char* path = g_api->get_profile_path();
    return path ? path : "";
}

namespace detail {
void set_instance(void* instance) { g_instance = instance; }
void set_library_path(const char* path, const char* name) {
    FullPath() = path ? path : "";
    FileName() = name ? name : "";
}
void set_services_available(bool ready) { g_services_available = ready; }
}  // namespace detail
}  // namespace core_api
