// Services that describe a component to the host: its name and version, the
// check of its installed file name, and its start-up and shutdown hooks.
#pragma once

#include <string>

#include "host/sdk/core_api.h"
#include "host/sdk/service.h"

class componentversion : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{F2C6A1D9-37E0-4B85-A4F3-0E9B6C2D58A7}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = componentversion;

    virtual void get_file_name(std::string& out) = 0;
    virtual void get_component_name(std::string& out) = 0;
    virtual void get_component_version(std::string& out) = 0;
    virtual void get_about_message(std::string& out) = 0;
};

// Fixed name, version and about text; the file name is the one the host
// handed over at load.
class componentversion_impl_simple : public componentversion {
  public:
    componentversion_impl_simple(const char* name, const char* version, const char* about)
        : m_name(name), m_version(version), m_about(about) {}
    void get_file_name(std::string& out) override { out = core_api::get_my_file_name(); }
    void get_component_name(std::string& out) override { out = m_name; }
    void get_component_version(std::string& out) override { out = m_version; }
    void get_about_message(std::string& out) override { out = m_about; }

  private:
    std::string m_name;
    std::string m_version;
    std::string m_about;
};

// Registers: `static componentversion_factory g_version("Name", "1.0", "About");`
class componentversion_factory {
  public:
    componentversion_factory(const char* name, const char* version, const char* about)
        : m_factory(name, version, about) {}

  private:
    service_factory_single_t<componentversion_impl_simple> m_factory;
};

class component_installation_validator : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{3E8B7F52-C914-4A06-9D2B-B1F46E07C3A8}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = component_installation_validator;

    // False when the component was installed wrongly (the host then warns).
    virtual bool is_installed_correctly() = 0;
};

// Valid when the file-name part of the component's full path (the text after
// the last "/", ":", "\" or "|") equals `expected` byte for byte.
class component_installation_validator_filename : public component_installation_validator {
  public:
    explicit component_installation_validator_filename(const char* expected) : m_expected(expected) {}
    bool is_installed_correctly() override {
        return g_matches(core_api::get_my_full_path(), m_expected.c_str());
    }
    static bool g_matches(const char* full_path, const char* expected);

  private:
    std::string m_expected;
};

// Registers: `static component_installation_validator_factory g_validator("name.so");`
class component_installation_validator_factory {
  public:
    explicit component_installation_validator_factory(const char* expected) : m_factory(expected) {}

  private:
    service_factory_single_t<component_installation_validator_filename> m_factory;
};

// Start-up and shutdown hooks: the host calls on_init once after loading all
// components and on_quit once before unloading them, on its main thread.
class initquit : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{A71C3E05-6B9D-4F2A-8E47-D53B0C9A1F86}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = initquit;

    virtual void on_init() = 0;
    virtual void on_quit() = 0;
};

// Registers one static T (a class derived from initquit).
template <typename T>
class initquit_factory_t {
  public:
    initquit_factory_t() = default;
    T& get_static_instance() { return m_factory.get_static_instance(); }

  private:
    service_factory_single_t<T> m_factory;
};
