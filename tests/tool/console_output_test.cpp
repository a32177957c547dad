// The two output paths: a console gets UTF-16 text (UTF-8 on a terminal) and
// "\n"; anything else gets ANSI bytes and a single 0x0A.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "helpers.h"
#include "platform/console/console.h"

namespace {

using quillet::FormatLine;
using quillet::WriteKeyValue;
using quillet::WriteLine;

TEST(ConsoleOutput, RedirectedWritesAnsiBytesAndSingleLineFeeds) {
    tooltest::CodePage code_page("windows-1252");
    tooltest::OutputCapture capture;
    WriteKeyValue(u"Title", u"Caf\u00e9 \u65e5");
    WriteKeyValue(nullptr, u"value only");
    WriteKeyValue(u"key only", nullptr);
    WriteKeyValue(u"", u"");
    WriteLine(FormatLine(u"%s=%d", u"N\u00fcm", 42));
    WriteLine(0);
    WriteLine(-1);
    EXPECT_EQ(capture.Text(), "Title=Caf\xE9 ?\n=value only\nkey only=\n=\nN\xFCm=42\n");
}

// A value cannot forge lines of the protocol: every C0 control inside key
// or value is printed as a space, on both output paths.
TEST(ConsoleOutput, ControlCharactersInValuesArePrintedAsSpaces) {
    tooltest::CodePage code_page("windows-1252");
    tooltest::OutputCapture capture;
    WriteKeyValue(u"Title", u"X\nEOS.\nGenre=Injected\r\t\x1b\x7f\u2028");
    WriteKeyValue(u"K\ney", u"v");
    EXPECT_EQ(capture.Text(), "Title=X EOS. Genre=Injected   \x7f?\nK ey=v\n");
    EXPECT_EQ(quillet::OneLine(std::u16string(u"a\0b\x1f c", 6)), std::u16string(u"a b  c"));
}

TEST(ConsoleOutput, LongValuesAreWrittenWhole) {
    tooltest::CodePage code_page("windows-1252");
    tooltest::OutputCapture capture;
    const std::u16string long_value(5000, u'x');
    WriteKeyValue(u"k", long_value.c_str());
    EXPECT_EQ(capture.Text(), "k=" + std::string(5000, 'x') + "\n");
}

TEST(ConsoleOutput, NoHandlePrintsNothing) {
    quillet::SetConsoleOutputForTesting(nullptr, false);
    WriteKeyValue(u"k", u"v");  // must not crash
    WriteLine(FormatLine(u"x"));
}

TEST(ConsoleOutput, ConsoleGetsUnicodeTextWhateverTheCodePage) {
    tooltest::CodePage code_page("US-ASCII");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    HANDLE handle = platform::HandleFromFd(slave, false);
    DWORD mode = 0;
    ASSERT_EQ(GetFileType(handle), FILE_TYPE_CHAR);
    ASSERT_TRUE(GetConsoleMode(handle, &mode));

    quillet::SetConsoleOutputForTesting(handle, true);
    WriteKeyValue(u"Title", u"Caf\u00e9 \u65e5");
    WriteLine(FormatLine(u"EOS."));
    quillet::SetConsoleOutputForTesting(nullptr, false);
    CloseHandle(handle);
    close(slave);

    std::string text;
    char buffer[256];
    // Until EIO: the terminal has no writer left.
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(master);
    EXPECT_EQ(text, "Title=Caf\xC3\xA9 \xE6\x97\xA5\nEOS.\n");
}

}  // namespace
