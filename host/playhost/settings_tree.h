// The advanced-settings entries of the loaded components, in the order a
// person reads the tree: depth first from the roots, siblings by ascending
// priority (ties keep registration order). An entry whose parent is not among
// the entries (for example the host's own "Tools" branch) is a root. Entries
// caught in a parent cycle are appended at the end at depth 0.
#pragma once

#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/advconfig.h"

namespace playhost {

struct SettingNode {
    const ComponentModule* module = nullptr;
    service_ptr_t<advconfig_entry> entry;
    service_ptr_t<advconfig_entry_checkbox> checkbox;  // empty for a branch
    std::string name;
    std::string setting_name;  // from advconfig_entry_checkbox_v2; may be empty
    GUID guid{};
    GUID parent{};
    double priority = 0.0;
    int depth = 0;

    // "branch", "checkbox" or "radio".
    const char* kind() const;
    // The name by which a command line addresses it: the setting name, or
    // else the GUID text.
    std::string address() const;
};

std::vector<SettingNode> CollectSettings(Host& host);

}  // namespace playhost
