// Marks a point the code cannot reach. Reaching it is a programming error, so
// the process stops with a message instead of carrying on with a made-up value.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace platform {

[[noreturn]] inline void NotReached(const char* where) {
    std::fprintf(stderr, "not reached: %s\n", where);
    std::abort();
}

}  // namespace platform
