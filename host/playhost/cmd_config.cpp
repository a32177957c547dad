// `config`: shows every check box's state, or switches one. Radio items with
// the same parent exclude each other: switching one on switches its radio
// siblings off. The host saves the new states at shutdown.
#include <string>

#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/playhost/settings_tree.h"
#include "host/sdk/text.h"

namespace playhost {

int RunConfig(Session& session, const std::vector<std::string>& args) {
    std::vector<SettingNode> settings = CollectSettings(session.host);
    if (args.empty()) {
        for (const SettingNode& node : settings) {
            if (node.checkbox)
                WriteKeyValue(session.out, node.address(), node.checkbox->get_state() ? "on" : "off");
        }
        return kExitOk;
    }
    if (args.size() != 2 || (args[1] != "on" && args[1] != "off")) {
        session.err << "usage: playhost config [NAME on|off]\n";
        return kExitUsage;
    }
    const bool state = args[1] == "on";
    SettingNode* target = nullptr;
    for (SettingNode& node : settings) {
        if (!node.checkbox) continue;
        const auto guid = platform::ParseGuid(args[0]);
        if (node.setting_name == args[0] || (guid && *guid == node.guid)) {
            target = &node;
            break;
        }
    }
    if (!target) {
        WriteKeyValue(session.out, "error", "unknown setting: " + args[0]);
        return kExitFailure;
    }
    target->checkbox->set_state(state);
    WriteKeyValue(session.out, target->address(), state ? "on" : "off");
    if (state && target->checkbox->is_radio()) {
        for (SettingNode& other : settings) {
            if (&other == target || !other.checkbox || !other.checkbox->is_radio()) continue;
            if (other.module != target->module || other.parent != target->parent) continue;
            if (other.checkbox->get_state()) {
                other.checkbox->set_state(false);
                WriteKeyValue(session.out, other.address(), "off");
            }
        }
    }
    return kExitOk;
}

}  // namespace playhost
