// The host's advanced-settings tree.
//
// Components register `advconfig_entry` services: branches (folders of the
// tree) and check boxes. Every entry has a GUID, a parent GUID (a branch, a
// check box, or one of the host's own branches) and a sort priority among its
// siblings. A check box whose `is_radio` is true is shown as a radio item; the
// host makes radio items with the same parent exclude each other.
//
// A check box may also implement `advconfig_entry_checkbox_v2`, which gives
// its setting name: a short, stable identifier (letters, digits and "_") by
// which a person can address it on a command line. `advconfig_checkbox_factory`
// keeps the state in a `cfg_int_t<bool>` under the entry's own GUID, so the
// host saves it with the component's other settings.
#pragma once

#include <string>

#include "host/sdk/cfg_var.h"
#include "host/sdk/service.h"

class advconfig_entry : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{E5A8D2F4-1B73-4C69-90AE-6D3F8B21C7E0}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = advconfig_entry;

    // Where components hang their branches: the host's "Tools" branch.
    static constexpr GUID guid_branch_tools = platform::MakeGuid("{904C272B-2317-4C3C-B2FF-C5A0125E2CC2}");
    // The root of the tree.
    static constexpr GUID guid_root = platform::MakeGuid("{00000000-0000-0000-0000-000000000000}");

    virtual void get_name(std::string& out) = 0;
    virtual GUID get_guid() = 0;
    virtual GUID get_parent() = 0;
    // Puts the entry back to its default state.
    virtual void reset() = 0;
    // Sort key among siblings (ascending).
    virtual double get_sort_priority() = 0;
};

class advconfig_branch : public advconfig_entry {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{0B7C94E1-58D2-4A3F-86B9-F21E4D07A5C3}");
    using t_interface_parent = advconfig_entry;
};

class advconfig_entry_checkbox : public advconfig_entry {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{4D19F6A3-E2C8-4B57-A06D-8C3E5B91F2D7}");
    using t_interface_parent = advconfig_entry;

    virtual bool get_state() = 0;
    virtual void set_state(bool state) = 0;
    // True when the host shows this entry as a radio item.
    virtual bool is_radio() = 0;
};

class advconfig_entry_checkbox_v2 : public advconfig_entry_checkbox {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{93E0B5C7-2A64-4F18-BD3A-57C1E8F06D29}");
    using t_interface_parent = advconfig_entry_checkbox;

    virtual bool get_default_state() = 0;
    // The setting's name for command lines (e.g. "support_3gp"); may be empty.
    virtual void get_setting_name(std::string& out) = 0;
};

// A branch with fixed name, GUID, parent and priority.
class advconfig_branch_impl : public advconfig_branch {
  public:
    advconfig_branch_impl(const char* name, const GUID& guid, const GUID& parent, double priority)
        : m_name(name), m_guid(guid), m_parent(parent), m_priority(priority) {}
    void get_name(std::string& out) override { out = m_name; }
    GUID get_guid() override { return m_guid; }
    GUID get_parent() override { return m_parent; }
    void reset() override {}
    double get_sort_priority() override { return m_priority; }

  private:
    std::string m_name;
    GUID m_guid;
    GUID m_parent;
    double m_priority;
};

// A check box (or radio item) whose state is a saved setting.
class advconfig_entry_checkbox_impl : public advconfig_entry_checkbox_v2 {
  public:
    advconfig_entry_checkbox_impl(const char* name, const char* setting_name, const GUID& guid,
                                  const GUID& parent, double priority, bool initial, bool radio)
        : m_name(name),
          m_setting_name(setting_name ? setting_name : ""),
          m_guid(guid),
          m_parent(parent),
          m_priority(priority),
          m_initial(initial),
          m_radio(radio),
          m_state(guid, initial) {}
    void get_name(std::string& out) override { out = m_name; }
    GUID get_guid() override { return m_guid; }
    GUID get_parent() override { return m_parent; }
    void reset() override { m_state = m_initial; }
    double get_sort_priority() override { return m_priority; }
    bool get_state() override { return m_state.get(); }
    void set_state(bool state) override { m_state = state; }
    bool is_radio() override { return m_radio; }
    bool get_default_state() override { return m_initial; }
    void get_setting_name(std::string& out) override { out = m_setting_name; }

    // Current state, for the component's own code.
    bool current_state() const { return m_state.get(); }

  private:
    std::string m_name;
    std::string m_setting_name;
    GUID m_guid;
    GUID m_parent;
    double m_priority;
    bool m_initial;
    bool m_radio;
    cfg_int_t<bool> m_state;
};

// Registers a branch: `static advconfig_branch_factory g_branch(name, guid, parent, priority);`
class advconfig_branch_factory {
  public:
    advconfig_branch_factory(const char* name, const GUID& guid, const GUID& parent, double priority)
        : m_factory(name, guid, parent, priority) {}

  private:
    service_factory_single_t<advconfig_branch_impl> m_factory;
};

// Registers a check box (or, with `radio` true, a radio item) and holds its
// state; read it with get() at the moment of use.
class advconfig_checkbox_factory {
  public:
    advconfig_checkbox_factory(const char* name, const char* setting_name, const GUID& guid,
                               const GUID& parent, double priority, bool initial, bool radio = false)
        : m_factory(name, setting_name, guid, parent, priority, initial, radio) {}

    bool get() const { return m_factory.get_static_instance().current_state(); }
    void set(bool state) { m_factory.get_static_instance().set_state(state); }
    operator bool() const { return get(); }

  private:
    service_factory_single_t<advconfig_entry_checkbox_impl> m_factory;
};
