// Small fixtures shared by the console program's tests: captured output, one
// command line run in process, a registry file of the test's own, and a
// pinned ANSI code page.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/text/text.h"
#include "support/test_support.h"
#include "tool/commands/entry.h"
#include "tool/common/console_output.h"

namespace tooltest {

// Routes the program's output into a file as redirected output.
class OutputCapture {
  public:
    OutputCapture() {
        path_ = dir_ / "out.txt";
        handle_ = CreateFileW(platform::FromNativePath(path_.string()).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        quillet::SetConsoleOutputForTesting(handle_, false);
    }
    ~OutputCapture() {
        quillet::SetConsoleOutputForTesting(nullptr, false);
        CloseHandle(handle_);
    }
    std::string Text() const {
        auto bytes = testsupport::ReadBytes(path_);
        return std::string(bytes.begin(), bytes.end());
    }

  private:
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
    HANDLE handle_ = nullptr;
};

// Points the registry at a file of the test's own for the object's life.
class RegistryFile {
  public:
    // `keys`: key paths below HKEY_LOCAL_MACHINE.
    explicit RegistryFile(const std::vector<std::string>& keys) {
        std::string text = "Windows Registry Editor Version 5.00\n";
        for (const auto& key : keys) text += "\n[HKEY_LOCAL_MACHINE\\" + key + "]\n";
        path_ = dir_ / "registry.reg";
        testsupport::WriteText(path_, text);
        const char* old = std::getenv("CQ_REGISTRY_FILE");
        had_old_ = old != nullptr;
        if (old) old_ = old;
        setenv("CQ_REGISTRY_FILE", path_.c_str(), 1);
    }
    ~RegistryFile() {
        if (had_old_) {
            setenv("CQ_REGISTRY_FILE", old_.c_str(), 1);
        } else {
            unsetenv("CQ_REGISTRY_FILE");
        }
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
    bool had_old_ = false;
    std::string old_;
};

// Pins the thread's ANSI code page for the object's life.
class CodePage {
  public:
    explicit CodePage(const char* name) { platform::SetThreadAnsiCodePage(name); }
    ~CodePage() { platform::SetThreadAnsiCodePage(nullptr); }
};

// Runs one command line through quillet::RunCommandLine, with "Quillet" as
// the program's name before `arguments`; what it prints goes to `output`.
// Returns the exit code.
inline LONG RunQuilletLine(std::vector<std::u16string> arguments, std::string* output) {
    arguments.insert(arguments.begin(), u"Quillet");
    OutputCapture capture;
    const LONG code = quillet::RunCommandLine(arguments);
    *output = capture.Text();
    return code;
}

inline std::u16string U16(const std::filesystem::path& path) {
    return platform::FromNativePath(path.string());
}
inline std::u16string U16(const std::string& text) { return platform::Utf8ToUtf16(text); }

}  // namespace tooltest
