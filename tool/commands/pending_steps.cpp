// Commands whose own layers are not part of this build yet. Each fails in the
// open (Convert) or does nothing (Create, which never changes the exit code
// and prints only what it wrote), rather than pretending to succeed.
#include "tool/commands/sequences.h"

namespace quillet {

bool RunConvertSequence(CommandRun& run) {
    run.exit_code = 1;
    return false;
}

void RunCreateSequence(CommandOptions&) {}

}  // namespace quillet
