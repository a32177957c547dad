// The console program's start-up, one command line, and shut-down.
//
// A run prints the banner, starts COM, creates the media library root,
// detects the application identity, reads its words and runs one command,
// prints "EOS." and ends with an exit code: 0 success, 1 failure. Nothing but
// the exit code and missing result lines tells of a failure. The picture
// services and the JPEG encoder are started when the command first needs a
// picture (tool/pictures/picture_services.h), and ended with the run.
#pragma once

#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/wintypes.h"
#include "tool/pictures/picture_services.h"

namespace quillet {

// One command line: `words` holds the program's name and its arguments.
// Needs COM on the calling thread. Returns the exit code.
LONG RunCommandLine(const std::vector<std::u16string>& words);

// The whole run of the process after the locale has been set: console,
// banner, COM, RunCommandLine, shut-down (the picture services too, when the
// command started them). Returns the exit code.
LONG ProcessEntry(const std::vector<std::u16string>& words);

// The process arguments as UTF-16, decoded from the locale's encoding.
std::vector<std::u16string> DecodeArguments(int argc, char** argv);

}  // namespace quillet
