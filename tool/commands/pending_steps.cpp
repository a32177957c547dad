// Commands whose own layers are not part of this build yet: Create does
// nothing (it never changes the exit code and prints only what it wrote).
#include "tool/commands/sequences.h"

namespace quillet {

void RunCreateSequence(CommandOptions&) {}

}  // namespace quillet
