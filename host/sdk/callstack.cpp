#include "host/sdk/callstack.h"

namespace {
thread_local std::vector<const char*> t_stack;
}  // namespace

uCallStackTracker::uCallStackTracker(const char* name) { t_stack.push_back(name ? name : ""); }

uCallStackTracker::~uCallStackTracker() {
    if (!t_stack.empty()) t_stack.pop_back();
}

std::vector<std::string> uCallStackTracker::g_get_stack() { return {t_stack.begin(), t_stack.end()}; }
