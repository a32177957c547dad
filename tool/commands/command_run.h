// The frame in which Get, Put and Convert work on their target file.
//
// After the command line has been read: the library is told the identity
// (once, if it does not know one yet), the target is the last source file
// that the library opens, its path is printed as "TargetTrack", the command's
// sequence runs on it, and, when the sequence ends normally, the item's
// attribute listing is printed (unless "--Quiet") and the item is closed,
// which writes its changes. Create needs no target and runs on its lists alone.
#pragma once

#include <string>

#include "library/identity.h"
#include "platform/com/unknown.h"
#include "tool/commands/command_options.h"

namespace quillet {

// A path cut into its parts by SplitPath.
struct PathParts {
    std::u16string full;
    std::u16string folder;     // ends with its separator
    std::u16string base_name;  // without extension
    std::u16string extension;  // with its dot, or empty
};

// What a command sequence works on. The sequence may replace `item` (Convert
// moves on to the converted file); the frame closes whatever it holds at the end.
struct CommandRun {
    CommandOptions& options;
    MediaLibrary* root;  // borrowed
    LONG& exit_code;
    ComPtr<MediaItem> item;
    PathParts target;  // the target file
    PathParts output;  // "--Output" when given, else the target
    // Convert: the converted file in its work folder, and where it goes.
    std::u16string converted;
    std::u16string output_full;
};

// Runs the chosen command after the last word (see above). `root` and
// `identity` are borrowed; `exit_code` is set to 1 on failure.
void RunCommand(CommandOptions& options, MediaLibrary* root, int version,
                const library::ApplicationIdentity& identity, LONG& exit_code);

}  // namespace quillet
