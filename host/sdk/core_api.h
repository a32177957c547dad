// The two objects that meet at a component's entry point.
//
// The host calls the component's exported `foobar2000_get_interface` with its
// API object (`foobar2000_api`) and the module handle. The component keeps
// both and answers with its client object (`foobar2000_client`), through which
// the host reads the component's factory list and settings. All services that
// code on either side looks up (`service_enum_t`, `standard_api_create_t`) are
// found through the API object, which knows the host's own services and those
// of every loaded component. Neither object is a counted service: both live as
// long as the module is loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/sdk/abort_callback.h"
#include "host/sdk/exceptions.h"
#include "host/sdk/service.h"
#include "host/sdk/stream.h"

class foobar2000_api {
  public:
    // Sets `out` to instance `index` (0-based) of the services registered under
    // entry-point class `class_guid` and returns true; false past the end.
    virtual bool service_enum_create(service_ptr& out, const GUID& class_guid, size_t index) = 0;
    // The profile folder as a host path ("file://" + folder), UTF-8, without a
    // trailing separator; valid while the host runs.
    virtual const char* get_profile_path() = 0;

  protected:
    ~foobar2000_api() = default;
};

class foobar2000_client {
  public:
    static constexpr uint32_t FOOBAR2000_CLIENT_VERSION = 77;

    virtual uint32_t get_version() = 0;
    // Head of the component's factory list; follow service_factory_base::get_next.
    virtual service_factory_base* get_service_list() = 0;
    // Writes every setting of the component: per setting its GUID (16 bytes),
    // the size of its data (32-bit little-endian) and the data.
    virtual void get_config(stream_writer* stream, abort_callback& abort) = 0;
    // Reads records in get_config's form and restores the settings they name;
    // records of unknown GUIDs are skipped. Throws exception_io_data on a
    // truncated stream (settings read before the damage keep their values).
    virtual void set_config(stream_reader* stream, abort_callback& abort) = 0;
    // Tells the component its full path and its file name (UTF-8).
    virtual void set_library_path(const char* path, const char* name) = 0;
    // True once the host has collected all services, false before shutdown.
    virtual void services_init(bool ready) = 0;
    virtual bool is_debug() = 0;

  protected:
    ~foobar2000_client() = default;
};

// Signature of the exported entry point.
using foobar2000_get_interface_t = foobar2000_client* (*)(foobar2000_api* api, void* instance);

namespace core_api {
// The API object of this module; null before the host has called the entry
// point (or, in the host itself, before it has installed its own).
foobar2000_api* get_api();
void set_api(foobar2000_api* api);
// The module handle, full path and file name handed over at load ("" before).
void* get_my_instance();
const char* get_my_full_path();
const char* get_my_file_name();
// The profile folder as a host path; throws exception_service_not_found when
// no host is attached.
std::string get_profile_path();
// Whether the host has finished collecting services.
bool are_services_available();

namespace detail {
void set_instance(void* instance);
void set_library_path(const char* path, const char* name);
void set_services_available(bool ready);
}  // namespace detail
}  // namespace core_api

// Enumerates every registered service of entry-point class T::t_interface_entrypoint
// that implements T, in registration order.
template <typename T>
class service_enum_t {
  public:
    // Sets `out` to the next service and returns true, or returns false at the end.
    bool next(service_ptr_t<T>& out) {
        foobar2000_api* api = core_api::get_api();
        if (!api) return false;
        service_ptr raw;
        while (api->service_enum_create(raw, T::t_interface_entrypoint::class_guid, m_index++)) {
            if (raw.service_query_t(out)) return true;
        }
        return false;
    }
    void reset() { m_index = 0; }

  private:
    size_t m_index = 0;
};

// The first registered service of class T; throws exception_service_not_found.
template <typename T>
service_ptr_t<T> standard_api_create_t() {
    service_enum_t<T> e;
    service_ptr_t<T> out;
    if (!e.next(out)) throw exception_service_not_found();
    return out;
}
