// Standard handles and the two console writing paths: a terminal gets UTF-8
// through WriteConsoleW, a pipe or file gets raw bytes through WriteFile.

#include "platform/console/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/text/text.h"
#include "support/test_support.h"

namespace {

// Reads what has arrived on a descriptor, waiting at most a moment for it.
std::string Drain(int fd) {
    std::string out;
    for (;;) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, out.empty() ? 2000 : 50) <= 0 || !(p.revents & POLLIN)) break;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// A pseudo-terminal whose slave side is the console for one test.
class PtyConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
        // Raw mode: the bytes arrive exactly as written (no "\n" → "\r\n").
        struct termios raw {};
        ASSERT_EQ(0, tcgetattr(slave_, &raw));
        cfmakeraw(&raw);
        ASSERT_EQ(0, tcsetattr(slave_, TCSANOW, &raw));
        console_ = platform::HandleFromFd(slave_, true);
        ASSERT_NE(INVALID_HANDLE_VALUE, console_);
        ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, console_));
    }
    void TearDown() override {
        platform::ResetStdHandles();
        if (console_ != INVALID_HANDLE_VALUE) CloseHandle(console_);
        if (master_ >= 0) close(master_);
    }

    int master_ = -1;
    int slave_ = -1;
    HANDLE console_ = INVALID_HANDLE_VALUE;
};

TEST_F(PtyConsole, TerminalIsTheConsoleAndGetsUtf8) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    EXPECT_EQ(console_, out);
    EXPECT_EQ(FILE_TYPE_CHAR, GetFileType(out));
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(out, &mode));
    EXPECT_TRUE(mode & ENABLE_PROCESSED_OUTPUT);

    // The console tool's line: text, then a line feed by a second call.
    std::u16string line = u"Title=Caf\u00E9 \u65E5\u672C \U0001F600";
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
    EXPECT_EQ(line.size(), written);
    ASSERT_TRUE(WriteConsoleW(out, u"\n", 1, &written, nullptr));
    EXPECT_EQ("Title=Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\n", Drain(master_));
}

TEST_F(PtyConsole, SurrogatePairSplitAcrossCallsStaysWhole) {
    std::u16string smile = u"\U0001F600";
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleW(console_, smile.data(), 1, &written, nullptr));
    EXPECT_EQ(1u, written);
    ASSERT_TRUE(WriteConsoleW(console_, smile.data() + 1, 1, &written, nullptr));
    EXPECT_EQ("\xF0\x9F\x98\x80", Drain(master_));
    // A lone low surrogate becomes U+FFFD instead of breaking the stream.
    ASSERT_TRUE(WriteConsoleW(console_, smile.data() + 1, 1, &written, nullptr));
    EXPECT_EQ("\xEF\xBF\xBD", Drain(master_));
}

TEST_F(PtyConsole, WriteFileAlsoWorksOnTheTerminal) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(console_, "raw\n", 4, &written, nullptr));
    EXPECT_EQ(4u, written);
    EXPECT_EQ("raw\n", Drain(master_));
}

TEST(RedirectedOutputTest, PipeGetsRawBytesAndNoConsoleMode) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    HANDLE out = platform::HandleFromFd(fds[1], true);
    ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, out));
    EXPECT_EQ(out, GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(FILE_TYPE_PIPE, GetFileType(out));
    DWORD mode = 0;
    SetLastError(0);
    EXPECT_FALSE(GetConsoleMode(out, &mode));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    DWORD written = 0;
    EXPECT_FALSE(WriteConsoleW(out, u"x", 1, &written, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    // The redirected path: ANSI bytes, "=" as one byte, a single 0x0A.
    platform::SetThreadAnsiCodePage("windows-1252");
    std::string key = platform::ToAnsi(u"Title");
    std::string value = platform::ToAnsi(u"Caf\u00E9");
    platform::SetThreadAnsiCodePage(nullptr);
    ASSERT_TRUE(WriteFile(out, key.data(), static_cast<DWORD>(key.size()), &written, nullptr));
    ASSERT_TRUE(WriteFile(out, "=", 1, &written, nullptr));
    ASSERT_TRUE(WriteFile(out, value.data(), static_cast<DWORD>(value.size()), &written, nullptr));
    ASSERT_TRUE(WriteFile(out, "\n", 1, &written, nullptr));
    EXPECT_EQ("Title=Caf\xE9\n", Drain(fds[0]));

    // A reader that went away fails the write instead of killing the process.
    close(fds[0]);
    SetLastError(0);
    EXPECT_FALSE(WriteFile(out, "lost", 4, &written, nullptr));
    EXPECT_EQ(ERROR_NO_DATA, GetLastError());

    platform::ResetStdHandles();
    EXPECT_TRUE(CloseHandle(out));
}

TEST(RedirectedOutputTest, FilesAndDevices) {
    testsupport::ScopedTempDir dir;
    int fd = open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    HANDLE file = platform::HandleFromFd(fd, true);
    EXPECT_EQ(FILE_TYPE_DISK, GetFileType(file));
    DWORD mode = 0;
    EXPECT_FALSE(GetConsoleMode(file, &mode));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "EOS.\n", 5, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ("EOS.\n",
              std::string(reinterpret_cast<const char*>(testsupport::ReadBytes(dir / "out.txt").data()), 5));

    // The null device is a character device but no console, as NUL on Windows.
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_fd, 0);
    HANDLE null_handle = platform::HandleFromFd(null_fd, true);
    EXPECT_EQ(FILE_TYPE_CHAR, GetFileType(null_handle));
    EXPECT_FALSE(GetConsoleMode(null_handle, &mode));
    EXPECT_TRUE(CloseHandle(null_handle));
}

TEST(StdHandleTest, WrapsTheProcessDescriptors) {
    platform::ResetStdHandles();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(nullptr, out);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);
    EXPECT_EQ(1, platform::FdOf(out));
    EXPECT_EQ(out, GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(2, platform::FdOf(GetStdHandle(STD_ERROR_HANDLE)));
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, GetStdHandle(42));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ(FILE_TYPE_UNKNOWN, GetFileType(reinterpret_cast<HANDLE>(0x7777)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

}  // namespace
