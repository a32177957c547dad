// Reading one command line into CommandOptions and running its command.
//
// Words are read first to last. A word beginning with "--" is an option; its
// value is the next word unless that begins with "--" too. A decimal digit at
// the end of an option word is cut off and becomes the option's encoding
// digit (otherwise the current command digit applies; only command words
// change that). Option words match without regard to case; an unknown one is
// ignored without consuming its next word. Any other word is a path, kept as
// a source file when it names an existing file. "--Version", "--Help" and
// "--Exit" end the reading at once; otherwise the chosen command runs after
// the last word.
#pragma once

#include <string>
#include <vector>

#include "library/identity.h"
#include "tool/commands/command_options.h"

namespace quillet {

enum class ReadOutcome {
    kRunCommand,  // all words read: the command should run
    kAnswered,    // "--Version" or "--Help" printed their answer
    kStopped,     // "--Exit"
};

// Reads `words` (the arguments after the program name) into `options`,
// applying the identity options to `identity` and printing the answers of
// "--Version" and "--Help". Runs no command.
ReadOutcome ReadArguments(const std::vector<std::u16string>& words, CommandOptions& options,
                          library::ApplicationIdentity& identity);

// Reads the words and runs the chosen command on `root` (borrowed; `version`
// is its interface version). The command may set `exit_code` to 1 (or, for
// GetAll, back to 0). Returns true when the words were read to the end or
// "--Version"/"--Help" ended them, false when "--Exit" stopped the run.
bool DispatchArguments(const std::vector<std::u16string>& words, MediaLibrary* root,
                       library::ApplicationIdentity& identity, LONG& exit_code, int version);

// Prints the 81 lines of the help text.
void PrintHelp();

}  // namespace quillet
