// The built Quillet program, end to end: stdout bytes and exit codes compared
// with committed golden files, the program without a registered media
// library, and output to a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

extern char** environ;

namespace {

struct Result {
    int exit_code = -1;
    std::string out;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // end of pipe, or EIO once a terminal's last writer is gone
        }
    }
    return text;
}

// Runs bin/Quillet with `args`; `environment` entries ("NAME=value") replace
// or add to the test's own. With `terminal` stdout is a raw pseudo-terminal.
Result RunQuillet(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                  bool terminal = false) {
    const std::string program = (testsupport::BinDir() / "Quillet").string();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& mine : environment)
            replaced |= entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
        if (!replaced && entry.rfind("LC_ALL=", 0) != 0) env.push_back(entry);
    }
    env.push_back("LC_ALL=C.UTF-8");
    for (const auto& mine : environment) env.push_back(mine);

    int read_fd = -1;
    int write_fd = -1;
    if (terminal) {
        read_fd = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(read_fd, 0);
        grantpt(read_fd);
        unlockpt(read_fd);
        write_fd = open(ptsname(read_fd), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(write_fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(write_fd, TCSANOW, &raw);
    } else {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        read_fd = fds[0];
        write_fd = fds[1];
    }

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(write_fd, STDOUT_FILENO);
        close(write_fd);
        close(read_fd);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(write_fd);
    Result result;
    result.out = ReadAll(read_fd);
    close(read_fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(CQ_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Program, GoldenOutputs) {
    struct Case {
        std::vector<std::string> args;
        const char* golden;
    };
    const std::vector<Case> cases = {
        {{}, "no_arguments.out"},
        {{"--Help"}, "help.out"},
        {{"--HELP", "--Get", "whatever.oma"}, "help.out"},
        {{"--version", "--Get", "x"}, "version.out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        const Result r = RunQuillet(c.args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, Golden(c.golden));
    }
}

TEST(Program, ExitAndUnknownWordsEndWithEos) {
    const std::string banner = Golden("banner_only.out");
    Result r = RunQuillet({"--Exit", "--Help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner + "EOS.\n");
    r = RunQuillet({"--NoSuchOption", "/no/such/file.oma"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner + "EOS.\n");
}

TEST(Program, WithoutTheLibraryEveryRunPrintsOnlyTheBannerAndFails) {
    testsupport::ScopedTempDir dir;
    const auto registry = dir / "registry.reg";
    // The application keys stay; the library's class registrations are gone.
    testsupport::WriteText(registry,
                           "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Sony Corporation\\OpenMG\\PC\\"
                           "{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D]\n");
    const auto song = dir / "song.oma";
    testsupport::WriteText(song, "x");
    const std::vector<std::vector<std::string>> runs = {
        {}, {"--Help"}, {"--Version"}, {"--Exit"}, {"--Get", song.string()}, {"--Create"}};
    for (const auto& args : runs) {
        const Result r = RunQuillet(args, {"CQ_REGISTRY_FILE=" + registry.string()});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, Golden("banner_only.out"));
    }
}

TEST(Program, TerminalOutputIsTextWithSingleLineFeeds) {
    const Result r = RunQuillet({"--Version"}, {}, true);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, Golden("version.out"));
}

}  // namespace
