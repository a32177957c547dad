#include "host/playhost/commands.h"

namespace playhost {
namespace {

constexpr CommandSpec kCommands[] = {
    {"components", "components", "list loaded components, their file types and settings", RunComponents},
    {"config", "config [NAME on|off]", "show all settings, or switch one setting on or off", RunConfig},
    {"open", "open PATH", "open PATH for decoding, info reading and info writing; print file stats", RunOpen},
    {"info", "info PATH...",
     "read each PATH's information as the player does and print every field (several: one block each)",
     RunInfo},
    {"scan", "scan FOLDER",
     "read every file below FOLDER that a loaded input claims; one line per file, then the count and time",
     RunScan},
    {"tag", "tag PATH NAME=VALUE...",
     "set (or, with an empty VALUE, remove) fields of PATH and write its information back", RunTag},
    {"art", "art PATH [--get KIND --out FILE | --set KIND FILE | --remove KIND]",
     "list PATH's cover pictures, or save, set or remove one (KIND: front, back, disc, icon, artist)",
     RunArt},
    {"decode", "decode PATH [--buffered] [--seek SECONDS] [--out FILE.wav]",
     "decode PATH as the player does; print the length decoded and the speed; --out writes a WAV file",
     RunDecode},
    {"play", "play PATH", "play PATH on the default sound device, showing the position on a terminal",
     RunPlay},
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
