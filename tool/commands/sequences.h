// The order of work of the commands, each run once per run. A failed step
// sets the exit code to 1 and never stops the later steps of its sequence.
#pragma once

#include "tool/commands/command_run.h"

namespace quillet {

// Get: exports the info files of the Info list. Returns true (the sequence
// always ends normally).
bool RunGetSequence(CommandRun& run);

// Put: copies the Base files' attributes, imports the info files, lays the
// tag options over them and writes the result into the item. Returns true.
bool RunPutSequence(CommandRun& run);

// Convert: converts the target and continues with Put on the converted file.
// Returns false when the run must end without the closing listing.
bool RunConvertSequence(CommandRun& run);

// Create: writes picture files from its lists; never changes the exit code.
void RunCreateSequence(CommandOptions& options);

}  // namespace quillet
