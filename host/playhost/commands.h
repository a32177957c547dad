// The command table of playhost.
//
// Each command is one entry of kCommands: its name, a synopsis, one line of
// help, and a handler that receives the started host and the words after the
// command's name. A new command is a new handler file plus one table row.
// Handlers print "key=value" lines to `out` and return the exit code:
// 0 success, 1 the operation failed (after printing "error=<text>"),
// 2 wrong usage.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/file_info.h"

namespace playhost {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Session {
    Host& host;
    std::ostream& out;
    std::ostream& err;
};

using CommandHandler = int (*)(Session& session, const std::vector<std::string>& args);

struct CommandSpec {
    const char* name;
    const char* synopsis;
    const char* help;
    CommandHandler run;
};

// All commands, in the order the help lists them.
std::span<const CommandSpec> Commands();
// The command called `name`, or null.
const CommandSpec* FindCommand(const std::string& name);

int RunComponents(Session& session, const std::vector<std::string>& args);
int RunConfig(Session& session, const std::vector<std::string>& args);
int RunOpen(Session& session, const std::vector<std::string>& args);
int RunInfo(Session& session, const std::vector<std::string>& args);
int RunScan(Session& session, const std::vector<std::string>& args);
int RunTag(Session& session, const std::vector<std::string>& args);
int RunArt(Session& session, const std::vector<std::string>& args);
int RunDecode(Session& session, const std::vector<std::string>& args);
int RunPlay(Session& session, const std::vector<std::string>& args);

// Prints a record as `info` does: metadata as NAME=VALUE, technical fields
// as info:NAME=VALUE, ReplayGain as replaygain:NAME=VALUE, then length=SECONDS.
void WriteFileInfo(std::ostream& out, const file_info& info);

}  // namespace playhost
