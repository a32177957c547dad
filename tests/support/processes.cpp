#include "support/processes.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace testsupport {
namespace {

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

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// The test's environment with the entries of `changes` in place of those of the same name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& mine : changes)
            replaced |= entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), changes.begin(), changes.end());
    return env;
}

}  // namespace

bool ProgramResult::HasLine(const std::string& line) const {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

bool ProgramResult::HasKey(const std::string& key) const {
    return ("\n" + out).find("\n" + key + "=") != std::string::npos;
}

ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, bool terminal) {
    const std::string path = program.string();
    std::vector<std::string> env = MergedEnvironment(environment);

    int read_fd = -1;
    int write_fd = -1;
    if (terminal) {
        read_fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (read_fd < 0) return {};
        grantpt(read_fd);
        unlockpt(read_fd);
        write_fd = open(ptsname(read_fd), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(write_fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(write_fd, TCSANOW, &raw);
    } else {
        int fds[2];
        if (pipe(fds) != 0) return {};
        read_fd = fds[0];
        write_fd = fds[1];
    }

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(write_fd, STDOUT_FILENO);
        close(write_fd);
        close(read_fd);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(write_fd);
    ProgramResult result;
    result.out = ReadAll(read_fd);
    close(read_fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = ExitCodeOf(status);
    return result;
}

ProgramResult RunShell(const std::string& command) {
    ProgramResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    result.exit_code = ExitCodeOf(::pclose(pipe));
    return result;
}

std::string ShellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace testsupport
