// The component side of the entry point: every component module links this
// file, which exports `foobar2000_get_interface` and answers the host through
// one static client object.
#include "host/sdk/cfg_var.h"
#include "host/sdk/core_api.h"
#include "platform/export.h"

namespace {

class ComponentClient final : public foobar2000_client {
  public:
    uint32_t get_version() override { return FOOBAR2000_CLIENT_VERSION; }
    service_factory_base* get_service_list() override { return service_factory_base::list_head(); }
    void get_config(stream_writer* stream, abort_callback& abort) override {
        cfg_var::config_write_all(stream, abort);
    }
    void set_config(stream_reader* stream, abort_callback& abort) override {
        cfg_var::config_read_all(stream, abort);
    }
    void set_library_path(const char* path, const char* name) override {
        core_api::detail::set_library_path(path, name);
    }
    void services_init(bool ready) override { core_api::detail::set_services_available(ready); }
    bool is_debug() override { return false; }
};

ComponentClient g_client;

}  // namespace

extern "C" CQ_EXPORT foobar2000_client* foobar2000_get_interface(foobar2000_api* api, void* instance) {
    core_api::set_api(api);
    core_api::detail::set_instance(instance);
    return &g_client;
}
