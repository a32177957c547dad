// Running built programs from the tests, with their standard output captured
// whole: by argument list (fork and exec, no shell in between, optionally onto
// a pseudo-terminal) or by a shell command line (popen). Standard error is
// left as it is, unless a command line redirects it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramResult {
    int exit_code = -1;  // -1 when the program could not run or did not exit normally
    std::string out;     // everything written to standard output

    // True when `line` (without its line feed) is one whole line of `out`.
    bool HasLine(const std::string& line) const;
    // True when a line of `out` starts with `key` followed by "=".
    bool HasKey(const std::string& key) const;
};

// Runs `program` with `args` and waits for it. `environment` entries
// ("NAME=value") replace or add to the test's own environment. With
// `terminal`, standard output is a raw pseudo-terminal instead of a pipe.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {}, bool terminal = false);

// Runs `command` through the shell and waits for it.
ProgramResult RunShell(const std::string& command);

// `word` quoted for the shell, so that it stays one word whatever it holds.
std::string ShellQuote(const std::string& word);

}  // namespace testsupport
