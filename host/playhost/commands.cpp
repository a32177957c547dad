#include "host/playhost/commands.h"

namespace playhost {
namespace {

constexpr CommandSpec kCommands[] = {
    {"components", "components", "list loaded components, their file types and settings", RunComponents},
    {"config", "config [NAME on|off]", "show all settings, or switch one setting on or off", RunConfig},
    {"open", "open PATH", "open PATH for decoding, info reading and info writing; print file stats", RunOpen},
};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& spec : kCommands) {
        if (name == spec.name) return &spec;
    }
    return nullptr;
}

}  // namespace playhost
