// Names of the operations the current thread is inside, for crash reports
// and tests. Each `uCallStackTracker` pushes its name when constructed and
// pops it when destroyed, so nesting follows the C++ scopes. The names must
// be string literals (only the pointers are kept). The stack is per thread
// and per module.
#pragma once

#include <string>
#include <vector>

class uCallStackTracker {
  public:
    explicit uCallStackTracker(const char* name);
    ~uCallStackTracker();
    uCallStackTracker(const uCallStackTracker&) = delete;
    uCallStackTracker& operator=(const uCallStackTracker&) = delete;

    // The names on this thread's stack, outermost first.
    static std::vector<std::string> g_get_stack();
};

#define TRACK_CALL_TEXT(name) uCallStackTracker call_stack_tracker_(name)
