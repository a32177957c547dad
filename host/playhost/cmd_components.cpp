// `components`: everything the loaded components register, one fact a line.
#include <cstdio>
#include <string>

#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/playhost/settings_tree.h"
#include "host/sdk/album_art.h"
#include "host/sdk/component.h"
#include "host/sdk/input.h"
#include "host/sdk/tag_processor.h"

namespace playhost {
namespace {

const char* ClassName(const GUID& guid) {
    struct Known {
        GUID guid;
        const char* name;
    };
    static const Known kKnown[] = {
        {input_entry::class_guid, "input_entry"},
        {input_file_type::class_guid, "input_file_type"},
        {componentversion::class_guid, "componentversion"},
        {component_installation_validator::class_guid, "component_installation_validator"},
        {initquit::class_guid, "initquit"},
        {advconfig_entry::class_guid, "advconfig_entry"},
        {album_art_extractor::class_guid, "album_art_extractor"},
        {album_art_editor::class_guid, "album_art_editor"},
        {filesystem::class_guid, "filesystem"},
        {tag_processor_id3v2::class_guid, "tag_processor_id3v2"},
    };
    for (const Known& k : kKnown) {
        if (k.guid == guid) return k.name;
    }
    return nullptr;
}

std::string FormatPriority(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%g", value);
    return buffer;
}

template <typename T>
std::vector<service_ptr_t<T>> ModuleServices(const ComponentModule& module) {
    std::vector<service_ptr_t<T>> out;
    for (service_factory_base* factory : module.Factories()) {
        if (factory->get_class_guid() != T::t_interface_entrypoint::class_guid) continue;
        service_ptr raw;
        factory->instance_create(raw);
        service_ptr_t<T> typed;
        if (raw.service_query_t(typed)) out.push_back(typed);
    }
    return out;
}

}  // namespace

int RunComponents(Session& session, const std::vector<std::string>& args) {
    if (!args.empty()) {
        session.err << "usage: playhost components\n";
        return kExitUsage;
    }
    std::ostream& out = session.out;
    const std::vector<SettingNode> settings = CollectSettings(session.host);
    size_t component_index = 0;
    for (const auto& module : session.host.components()) {
        const std::string c = "component." + std::to_string(component_index++);
        WriteKeyValue(out, c + ".file", module->file_name);
        WriteKeyValue(out, c + ".path", module->path.string());
        WriteKeyValue(out, c + ".debug", module->client->is_debug());
        for (auto& version : ModuleServices<componentversion>(*module)) {
            std::string text;
            version->get_component_name(text);
            WriteKeyValue(out, c + ".name", text);
            version->get_component_version(text);
            WriteKeyValue(out, c + ".version", text);
            version->get_file_name(text);
            WriteKeyValue(out, c + ".file_name", text);
            version->get_about_message(text);
            WriteKeyValue(out, c + ".about", text);
        }
        for (auto& validator : ModuleServices<component_installation_validator>(*module)) {
            WriteKeyValue(out, c + ".installed_correctly", validator->is_installed_correctly());
        }
        size_t service_index = 0;
        for (service_factory_base* factory : module->Factories()) {
            const char* name = ClassName(factory->get_class_guid());
            WriteKeyValue(out, c + ".service." + std::to_string(service_index++),
                          name ? std::string(name) : platform::FormatGuid(factory->get_class_guid()));
        }
        size_t type_index = 0;
        for (auto& types : ModuleServices<input_file_type>(*module)) {
            for (unsigned i = 0; i < types->get_count(); ++i) {
                const std::string t = c + ".filetype." + std::to_string(type_index++);
                std::string text;
                if (types->get_name(i, text)) WriteKeyValue(out, t + ".name", text);
                if (types->get_mask(i, text)) WriteKeyValue(out, t + ".mask", text);
                WriteKeyValue(out, t + ".associatable", types->is_associatable(i));
            }
        }
        size_t setting_index = 0;
        for (const SettingNode& node : settings) {
            if (node.module != module.get()) continue;
            const std::string s = c + ".setting." + std::to_string(setting_index++);
            WriteKeyValue(out, s + ".name", node.name);
            WriteKeyValue(out, s + ".kind", node.kind());
            WriteKeyValue(out, s + ".guid", platform::FormatGuid(node.guid));
            WriteKeyValue(out, s + ".parent", platform::FormatGuid(node.parent));
            WriteKeyValue(out, s + ".priority", FormatPriority(node.priority));
            WriteKeyValue(out, s + ".depth", std::to_string(node.depth));
            if (node.checkbox) {
                if (!node.setting_name.empty()) WriteKeyValue(out, s + ".setting", node.setting_name);
                WriteKeyValue(out, s + ".state", node.checkbox->get_state() ? "on" : "off");
            }
        }
    }
    WriteKeyValue(out, "components", std::to_string(component_index));
    return kExitOk;
}

}  // namespace playhost
