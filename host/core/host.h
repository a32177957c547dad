// The host: loads component modules, offers them the host's own services,
// runs their start-up and shutdown, and keeps their settings.
//
// Life of a host:
//   Host host(profile_dir);      // creates the profile folder, reads settings
//   host.LoadComponent(path);    // dlopen, entry point, client checks, settings restored
//   host.Start();                // services_init(true), every initquit's on_init
//   ... use Services<T>() and the components ...
//   host.Stop();                 // every on_quit, settings collected and saved,
//                                // services_init(false)
// The destructor stops a started host and unloads every module (dlclose).
// Service enumeration (foobar2000_api::service_enum_create) lists the host's
// own services first, then each component's factories in load order and in
// each module's registration order. The host installs itself as this
// program's API object, so SDK helpers such as filesystem::g_open work in the
// host's own code too; only one Host may exist at a time.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/core/settings_store.h"
#include "host/sdk/core_api.h"

namespace playhost {

// One loaded component module.
struct ComponentModule {
    std::filesystem::path path;  // absolute
    std::string file_name;
    void* handle = nullptr;  // dlopen handle; closed by the Host
    foobar2000_client* client = nullptr;

    // The module's factories in registration order.
    std::vector<service_factory_base*> Factories() const;
};

class Host final : public foobar2000_api {
  public:
    // Creates `profile_dir` (with parents) when missing and loads the settings
    // file in it. Throws std::runtime_error when the folder cannot be made or
    // another Host exists.
    explicit Host(std::filesystem::path profile_dir);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads a component module and restores its settings. Throws
    // std::runtime_error with a readable reason (module cannot be loaded, no
    // entry point, entry point gave nothing, wrong client version, damaged
    // settings); a failed module is unloaded again. Only before Start().
    const ComponentModule& LoadComponent(const std::filesystem::path& path);

    // Tells every component that services are ready and calls every on_init.
    // Exceptions from a component propagate (the host stays started, so
    // Stop() still runs every on_quit).
    void Start();
    // Calls every on_quit, collects and saves settings, and tells the
    // components that services are going away. Does nothing when not started.
    // Throws std::runtime_error when the settings cannot be saved.
    void Stop();
    // Collects every component's settings into the store and saves the file.
    void SaveSettings();

    bool started() const { return m_started; }
    const std::vector<std::unique_ptr<ComponentModule>>& components() const { return m_modules; }
    const std::filesystem::path& profile_dir() const { return m_profile_dir; }
    SettingsStore& settings() { return m_settings; }

    // Every registered service implementing T, in enumeration order.
    template <typename T>
    std::vector<service_ptr_t<T>> Services() {
        std::vector<service_ptr_t<T>> out;
        service_ptr raw;
        for (size_t i = 0; service_enum_create(raw, T::t_interface_entrypoint::class_guid, i); ++i) {
            service_ptr_t<T> typed;
            if (raw.service_query_t(typed)) out.push_back(std::move(typed));
        }
        return out;
    }

    // Registers a service of the host itself under entry-point class `class_guid`.
    void AddHostService(const GUID& class_guid, service_ptr service);

    // foobar2000_api
    bool service_enum_create(service_ptr& out, const GUID& class_guid, size_t index) override;
    const char* get_profile_path() override { return m_profile_host_path.c_str(); }

  private:
    void UnloadAll();

    std::filesystem::path m_profile_dir;
    std::string m_profile_host_path;
    SettingsStore m_settings;
    std::vector<std::pair<GUID, service_ptr>> m_host_services;
    std::vector<std::unique_ptr<ComponentModule>> m_modules;
    bool m_started = false;
};

// The default profile folder: $HOME/.playhost (or ./.playhost without HOME).
std::filesystem::path DefaultProfileDir();

}  // namespace playhost
