// Info files and text files: decoding by byte order mark, line splitting,
// the encodings chosen by the encoding digit, export and import.
#include "tool/tags/info_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "helpers.h"

namespace {

using quillet::NameValueList;
using tooltest::U16;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

Pairs Entries(const NameValueList& list) {
    Pairs out;
    for (const auto& e : list) out.emplace_back(e.name, e.value);
    return out;
}

std::string Bytes(const std::filesystem::path& path) {
    auto bytes = testsupport::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class InfoFileTest : public ::testing::Test {
  protected:
    Pairs Read(const std::string& bytes) {
        const auto path = dir_ / "in.info";
        testsupport::WriteText(path, bytes);
        NameValueList list;
        quillet::ReadInfoFile(U16(path).c_str(), list);
        return Entries(list);
    }
    testsupport::ScopedTempDir dir_;
    tooltest::CodePage code_page_{"windows-1252"};
};

TEST_F(InfoFileTest, LinesSplitAtTheFirstEqualsAndRunsOfLineEnds) {
    EXPECT_EQ(Read("Title=A=B\r\nGenre=\n\n\r\r Title=x\rno equals here\n=\nArtist=Z"),
              (Pairs{{u"Title", u"A=B"},
                     {u"Genre", u""},
                     {u" Title", u"x"},
                     {u"", u"no equals here"},
                     {u"Artist", u"Z"}}));
}

TEST_F(InfoFileTest, MarksChooseTheDecoding) {
    EXPECT_EQ(Read("Title=Caf\xE9"), (Pairs{{u"Title", u"Caf\u00e9"}}));                  // ANSI
    EXPECT_EQ(Read("\xEF\xBB\xBFTitle=Caf\xC3\xA9"), (Pairs{{u"Title", u"Caf\u00e9"}}));  // UTF-8
    EXPECT_EQ(Read(std::string("\xFF\xFET\0=\0\xE5\x65\r\0\n\0", 12)), (Pairs{{u"T", u"\u65e5"}}));
    // UTF-16 text ends at its first NUL; a trailing odd byte is dropped.
    EXPECT_EQ(Read(std::string("\xFF\xFE"
                               "A\0=\0b\0\0\0C\0=\0d\0",
                               16)),
              (Pairs{{u"A", u"b"}}));
    EXPECT_EQ(Read(std::string("\xFF\xFE"
                               "A\0=\0b\0c",
                               9)),
              (Pairs{{u"A", u"b"}}));
}

TEST_F(InfoFileTest, NothingToReadAddsNothing) {
    EXPECT_TRUE(Read("").empty());
    EXPECT_TRUE(Read("\xFF\xFE").empty());
    EXPECT_TRUE(Read("\xEF\xBB\xBF").empty());
    EXPECT_TRUE(Read("\r\n\r\n").empty());
    NameValueList list;
    quillet::ReadInfoFile(u"/no/such/file.info", list);
    quillet::ReadInfoFile(nullptr, list);
    quillet::ReadInfoFile(U16(dir_.path()).c_str(), list);  // a folder
    EXPECT_TRUE(list.Empty());
    std::u16string text = u"unchanged";
    EXPECT_FALSE(quillet::ReadTextFile(u"/no/such/file.txt", &text));
    EXPECT_EQ(text, u"unchanged");
}

TEST_F(InfoFileTest, FilesTooLargeToDecodeAreNotReadAtAll) {
    // A sparse file of 2 GiB: its text would be counted beyond int, so it
    // reads nothing, without gigabytes being read and held first.
    const auto path = dir_ / "huge.info";
    testsupport::WriteBytes(path, {0xFF, 0xFE, 'T', 0, '=', 0, 'x', 0});
    std::filesystem::resize_file(path, std::uintmax_t{1} << 31);
    NameValueList list;
    quillet::ReadInfoFile(U16(path).c_str(), list);
    EXPECT_TRUE(list.Empty());
    std::u16string text = u"untouched";
    EXPECT_FALSE(quillet::ReadTextFile(U16(path).c_str(), &text));
    EXPECT_EQ(text, u"untouched");
}

TEST_F(InfoFileTest, TextFilesDecodeWhole) {
    const auto path = dir_ / "notes.txt";
    testsupport::WriteText(path, "\xEF\xBB\xBFline 1\r\nline 2=x\n");
    std::u16string text;
    ASSERT_TRUE(quillet::ReadTextFile(U16(path).c_str(), &text));
    EXPECT_EQ(text, u"line 1\r\nline 2=x\n");
}

struct DigitCase {
    LONG digit;
    bool exact;  // only characters of the code page
    std::string expected;
};

TEST_F(InfoFileTest, EncodingDigits) {
    NameValueList ascii;
    ascii.Append(u"Title", u"Caf\u00e9");
    ascii.Append(u"Genre", nullptr);
    ascii.Append(nullptr, u"bare");
    NameValueList wide;
    wide.Append(u"Title", u"\u65e5");
    const std::string utf16_wide("\xFF\xFET\0i\0t\0l\0e\0=\0\xE5\x65\r\0\n\0", 20);
    const std::vector<DigitCase> cases = {
        {1, true, "Title=Caf\xE9\r\nGenre=\r\nbare\r\n"},
        {3, true, "Title=Caf\xE9\r\nGenre=\r\nbare\r\n"},
        {9, true, "Title=Caf\xE9\r\nGenre=\r\nbare\r\n"},
        {0, true, "Title=Caf\xE9\r\nGenre=\r\nbare\r\n"},
        {8, true, "\xEF\xBB\xBFTitle=Caf\xC3\xA9\r\nGenre=\r\nbare\r\n"},
        {1, false, "Title=?\r\n"},
        {3, false, utf16_wide},
        {7, false, utf16_wide},
        {2, false, utf16_wide},
        {9, false, "\xEF\xBB\xBFTitle=\xE6\x97\xA5\r\n"},
    };
    for (const DigitCase& c : cases) {
        SCOPED_TRACE(c.digit);
        const auto path = dir_ / "out.info";
        quillet::WriteInfoFile(c.exact ? ascii : wide, U16(path).c_str(), c.digit);
        EXPECT_EQ(Bytes(path), c.expected);
    }
    const auto path = dir_ / "out.info";
    quillet::WriteInfoFile(ascii, U16(path).c_str(), 2);
    EXPECT_EQ(Bytes(path).substr(0, 4), std::string("\xFF\xFET\0", 4));  // digit 2 always marks
}

TEST_F(InfoFileTest, WrittenFileReadsBackAndFoldersAreCreated) {
    NameValueList list;
    list.Append(u"Title", u"\u65e5\u672c Caf\u00e9");
    list.Append(u"Album", u"A=B");
    const auto path = dir_ / "new" / "deeper" / "x.info";
    quillet::WriteInfoFile(list, U16(path).c_str(), 3);
    NameValueList back;
    quillet::ReadInfoFile(U16(path).c_str(), back);
    EXPECT_EQ(Entries(back), Entries(list));
}

// A value holding line ends (any tag editor can store them) must not split
// into lines of its own: controls are written as spaces and the entry reads
// back whole, in every encoding.
TEST_F(InfoFileTest, ControlCharactersInAValueAreWrittenAsSpaces) {
    NameValueList list;
    list.Append(u"Title", u"X\nEOS.\r\nGenre=Injected\t\x1b[2J");
    list.Append(u"Album", u"A");
    for (LONG digit : {1, 2, 8, 3}) {
        const auto path = dir_ / ("x" + std::to_string(digit) + ".info");
        ASSERT_TRUE(quillet::WriteInfoFile(list, U16(path).c_str(), digit));
        NameValueList back;
        quillet::ReadInfoFile(U16(path).c_str(), back);
        EXPECT_EQ(Entries(back), (Pairs{{u"Title", u"X EOS.  Genre=Injected  [2J"}, {u"Album", u"A"}}))
            << digit;
    }
    EXPECT_EQ(Bytes(dir_ / "x1.info"), "Title=X EOS.  Genre=Injected  [2J\r\nAlbum=A\r\n");
}

TEST_F(InfoFileTest, TextFileEncodings) {
    const auto path = dir_ / "t.txt";
    quillet::WriteTextFile(U16(path).c_str(), u"plain", 3);
    EXPECT_EQ(Bytes(path), "plain");
    quillet::WriteTextFile(U16(path).c_str(), u"\u65e5", 9);
    EXPECT_EQ(Bytes(path), "\xEF\xBB\xBF\xE6\x97\xA5");
    quillet::WriteTextFile(U16(path).c_str(), u"\u65e5", 3);
    EXPECT_EQ(Bytes(path), "\xFF\xFE\xE5\x65");
    quillet::WriteTextFile(U16(path).c_str(), nullptr, 2);
    EXPECT_EQ(Bytes(path), "\xFF\xFE");
}

TEST_F(InfoFileTest, ExportReplacesTheExtensionAndRespectsExistingFiles) {
    NameValueList attributes;
    attributes.Append(u"Title", u"T");
    NameValueList info;
    info.Append(u"8", U16(dir_ / "song.dat").c_str());
    const auto written = dir_ / "song.info";

    tooltest::OutputCapture capture;
    EXPECT_TRUE(quillet::ExportInfoFiles(info, attributes, false));
    EXPECT_EQ(Bytes(written), "\xEF\xBB\xBFTitle=T\r\n");  // digit 8 from the entry's name
    testsupport::WriteText(written, "keep");
    EXPECT_FALSE(quillet::ExportInfoFiles(info, attributes, false));
    EXPECT_EQ(Bytes(written), "keep");
    EXPECT_TRUE(quillet::ExportInfoFiles(info, attributes, true));
    EXPECT_EQ(capture.Text(), "InfoFile=" + written.string() + "\nInfoFile=" + written.string() + "\n");

    NameValueList unusable;
    unusable.Append(u"3", nullptr);
    unusable.Append(u"3", u"/tmp/folder/");
    EXPECT_FALSE(quillet::ExportInfoFiles(unusable, attributes, true));
}

TEST_F(InfoFileTest, ExportIntoAFileThatCannotBeCreatedPrintsNothing) {
    NameValueList attributes;
    attributes.Append(u"Title", u"T");
    const auto blocker = dir_ / "blocker";
    testsupport::WriteText(blocker, "a file where a folder should be");
    NameValueList info;
    info.Append(u"3", U16(blocker / "x.info").c_str());
    tooltest::OutputCapture capture;
    EXPECT_FALSE(quillet::ExportInfoFiles(info, attributes, false));
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(InfoFileTest, ForcedExportOntoAReadOnlyFileKeepsItAndPrintsNothing) {
    NameValueList attributes;
    attributes.Append(u"Title", u"T");
    const auto existing = dir_ / "song.info";
    testsupport::WriteText(existing, "keep");
    ASSERT_TRUE(SetFileAttributesW(U16(existing).c_str(), FILE_ATTRIBUTE_READONLY));
    NameValueList info;
    info.Append(u"3", U16(dir_ / "song.oma").c_str());
    tooltest::OutputCapture capture;
    EXPECT_FALSE(quillet::ExportInfoFiles(info, attributes, true));
    EXPECT_EQ(capture.Text(), "");  // the old file still exists, but nothing was written to it
    EXPECT_EQ(Bytes(existing), "keep");
    EXPECT_FALSE(quillet::WriteInfoFile(attributes, U16(existing).c_str(), 3));
    SetFileAttributesW(U16(existing).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InfoFileTest, AWriteThatFailsPartWayLeavesNoShortFileAndIsNotReported) {
    NameValueList attributes;
    attributes.Append(u"Title", u"A title longer than the file size limit");
    NameValueList info;
    info.Append(u"3", U16(dir_ / "song.oma").c_str());
    const auto written = dir_ / "song.info";

    // The file size limit makes the write fail after its first bytes.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small = old_limit;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool exported = true;
    std::string printed;
    {
        tooltest::OutputCapture capture;
        exported = quillet::ExportInfoFiles(info, attributes, true);
        printed = capture.Text();
    }
    const bool text_written =
        quillet::WriteTextFile(U16(dir_ / "notes.txt").c_str(), u"longer than eight", 1);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(exported);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(std::filesystem::exists(written));
    EXPECT_FALSE(text_written);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "notes.txt"));
}

// A FIFO or device is no info file: reading it gives nothing at once, and a
// forced export does not replace it (opening it to write would wait for a
// reader).
TEST_F(InfoFileTest, FifosAreNeitherReadNorWritten) {
    const auto fifo = dir_ / "f.info";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    alarm(10);
    NameValueList read;
    quillet::ReadInfoFile(U16(fifo).c_str(), read);
    EXPECT_TRUE(read.Empty());
    std::u16string text;
    EXPECT_FALSE(quillet::ReadTextFile(U16(fifo).c_str(), &text));
    NameValueList list;
    list.Append(u"Title", u"T");
    NameValueList exports;
    exports.Append(u"3", U16(fifo).c_str());
    tooltest::OutputCapture capture;
    EXPECT_FALSE(quillet::ExportInfoFiles(exports, list, true));
    EXPECT_FALSE(quillet::WriteInfoFile(list, u"/dev/null", 3));
    alarm(0);
    EXPECT_EQ(capture.Text(), "");
    EXPECT_FALSE(std::filesystem::is_regular_file(fifo));
}

TEST_F(InfoFileTest, ImportLetsTheLaterFileWin) {
    const auto first = dir_ / "a.info";
    const auto second = dir_ / "b.info";
    testsupport::WriteText(first, "Title=One\r\nAlbum=Kept\r\nno name line\r\n");
    testsupport::WriteText(second, "TITLE=Two\r\nGenre=\r\n");
    NameValueList info;
    info.Append(u"3", U16(first).c_str());
    info.Append(u"3", U16(second).c_str());
    info.Append(u"3", u"/no/such.info");
    NameValueList merged;
    merged.Append(u"Artist", u"Before");
    quillet::ImportInfoFiles(info, merged);
    EXPECT_EQ(Entries(merged),
              (Pairs{{u"Artist", u"Before"}, {u"Title", u"Two"}, {u"Album", u"Kept"}, {u"Genre", u""}}));
}

}  // namespace
