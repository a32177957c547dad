// The engine's shared core: value comparison, dates, UTF conversion, byte
// sources, atomic edits and dispatch of unknown content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "container_fixtures.h"
#include "medialib/core/atomic_save.h"
#include "medialib/core/dates.h"
#include "medialib/core/text_utf.h"
#include "medialib/detect/dispatch.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

TEST(SameValue, ComparesPicturesByContentAndTypesStrictly) {
    auto a = fixtures::Picture("image/png", fixtures::PngBytes(1));
    auto b = fixtures::Picture("image/png", fixtures::PngBytes(1));
    auto c = fixtures::Picture("image/jpeg", fixtures::PngBytes(1));
    EXPECT_TRUE(SameValue(Value{a}, Value{b}));
    EXPECT_FALSE(SameValue(Value{a}, Value{c}));
    EXPECT_FALSE(SameValue(Value{a}, Value{std::shared_ptr<PictureData>()}));
    EXPECT_TRUE(SameValue(Value{std::shared_ptr<PictureData>()}, Value{std::shared_ptr<PictureData>()}));
    EXPECT_FALSE(SameValue(Value{int32_t{1}}, Value{std::u16string(u"1")}));
    EXPECT_TRUE(SameValue(Value{DateValue{36526.5}}, Value{DateValue{36526.5}}));
}

TEST(Dates, ConvertBetweenOleDaysAndText) {
    EXPECT_DOUBLE_EQ(fixtures::Date(1899, 12, 30).days, 0.0);
    EXPECT_DOUBLE_EQ(fixtures::Date(2000, 1, 1).days, 36526.0);
    EXPECT_DOUBLE_EQ(fixtures::Date(2000, 1, 1, 12).days, 36526.5);
    EXPECT_EQ(FormatIsoDate(fixtures::Date(1999, 5, 6)), "1999-05-06");
    EXPECT_EQ(FormatIsoDate(fixtures::Date(2024, 2, 29, 10, 20, 30)), "2024-02-29T10:20:30");
    const auto t = ParseDateText("2005/01/01 00:00:00");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->has_time);
    EXPECT_EQ(t->year, 2005);
    const auto y = ParseDateText("1999");
    ASSERT_TRUE(y);
    EXPECT_FALSE(y->has_month);
    for (const char* bad :
         {"", "99", "199x", "1999-13", "1999-02-30", "1999-05-06T25:00", "2000-01-01T10:00:6"}) {
        EXPECT_FALSE(ParseDateText(bad)) << bad;
    }
    // Before the epoch: a plain count of days, or OLE's backward day with a
    // forward time of day; both readings agree from the epoch on.
    const CivilTime morning{.year = 1899, .month = 12, .day = 29, .hour = 6};
    EXPECT_DOUBLE_EQ(ToDateValue(morning).days, -0.75);
    EXPECT_DOUBLE_EQ(ToDateValue(morning, BeforeEpoch::OleTimeOfDay).days, -1.25);
    const CivilTime plain = FromDateValue(DateValue{-1.25});
    EXPECT_EQ(plain.day, 28);
    EXPECT_EQ(plain.hour, 18);
    const CivilTime ole = FromDateValue(DateValue{-1.25}, BeforeEpoch::OleTimeOfDay);
    EXPECT_EQ(ole.day, 29);
    EXPECT_EQ(ole.hour, 6);
    EXPECT_DOUBLE_EQ(ToDateValue(FromDateValue(DateValue{36526.5}), BeforeEpoch::OleTimeOfDay).days, 36526.5);
    EXPECT_TRUE(IsCivilDate(2024, 2, 29));
    EXPECT_FALSE(IsCivilDate(2023, 2, 29));
    EXPECT_FALSE(IsCivilDate(2024, 13, 1));
    EXPECT_FALSE(IsCivilDate(2024, 1, 0));
    // Not-a-number and absurd values give some date, never a crash.
    (void)FromDateValue(DateValue{std::nan("")});
    (void)FromDateValue(DateValue{1e300});
}

TEST(TextUtf, RoundTripsAndReplacesInvalidSequences) {
    const std::u16string s = u"a\u00e9\u6b4c\U0001F3B5";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD") << "overlong forms are refused";
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx") << "encoded surrogates are refused";
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(ByteSources, ReadAtAnyOffsetAndStopAtTheEnd) {
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5};
    auto mem = MemorySource(bytes);
    uint8_t buf[8] = {};
    EXPECT_EQ(mem->Size(), 5u);
    EXPECT_EQ(mem->ReadAt(3, buf, 8), 2u);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(mem->ReadAt(5, buf, 8), 0u);
    EXPECT_EQ(mem->ReadAt(UINT64_MAX, buf, 8), 0u);

    testsupport::ScopedTempDir dir;
    testsupport::WriteBytes(dir / "f", bytes);
    auto file = OpenFileSource(dir / "f");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Size(), 5u);
    EXPECT_EQ(file->ReadAt(1, buf, 2), 2u);
    EXPECT_EQ(buf[1], 3);
    EXPECT_FALSE(OpenFileSource(dir / "missing"));
    EXPECT_FALSE(OpenFileSource(dir.path())) << "a folder is not a file";
}

TEST(AtomicEdit, ReplacesOnlyOnSuccessAndKeepsPermissions) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / "data.bin";
    testsupport::WriteText(f, "original");
    fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_FALSE(EditAtomically(f, [](const fs::path& copy) {
        testsupport::WriteText(copy, "half");
        return false;
    }));
    EXPECT_EQ(testsupport::ReadBytes(f), std::vector<uint8_t>({'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}));
    EXPECT_FALSE(EditAtomically(f, [](const fs::path&) -> bool { throw std::runtime_error("boom"); }));
    EXPECT_TRUE(EditAtomically(f, [](const fs::path& copy) {
        testsupport::WriteText(copy, "new");
        return true;
    }));
    EXPECT_EQ(testsupport::ReadBytes(f).size(), 3u);
    EXPECT_EQ(fs::status(f).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(EditAtomically(dir / "missing", [](const fs::path&) { return true; }));
}

TEST(AtomicEdit, WholeNewContentReplacesOnlyOnSuccess) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / "data.bin";
    testsupport::WriteText(f, "original");
    fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    const std::vector<uint8_t> original = testsupport::ReadBytes(f);
    EXPECT_FALSE(WriteAtomically(f, [](int fd) {
        WriteAll(fd, "half", 4);
        return false;
    }));
    EXPECT_FALSE(WriteAtomically(f, [](int) -> bool { throw std::runtime_error("boom"); }));
    EXPECT_FALSE(WriteAtomically(f, [](int) { return WriteAll(-1, "x", 1); }))
        << "a failed write is reported";
    EXPECT_EQ(testsupport::ReadBytes(f), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // The writer starts from an empty file, however long the original was.
    EXPECT_TRUE(WriteAtomically(f, [](int fd) { return WriteAll(fd, "new", 3); }));
    EXPECT_EQ(testsupport::ReadBytes(f), std::vector<uint8_t>({'n', 'e', 'w'}));
    EXPECT_EQ(fs::status(f).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(WriteAtomically(dir / "missing", [](int) { return true; }));
    EXPECT_FALSE(WriteAtomically(dir.path(), [](int) { return true; })) << "a folder is not a file";
}

// A file without write permission is read-only for every user, root
// included, although the rename over it needs only the folder's permission.
TEST(AtomicEdit, ReadOnlyFileIsNeverReplaced) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / "data.bin";
    testsupport::WriteText(f, "original");
    fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::vector<uint8_t> original = testsupport::ReadBytes(f);
    bool edited = false;
    EXPECT_FALSE(EditAtomically(f, [&](const fs::path&) { return edited = true; }));
    EXPECT_FALSE(edited) << "no copy is even made";
    EXPECT_FALSE(WriteAtomically(f, [](int fd) { return WriteAll(fd, "new", 3); }));
    EXPECT_FALSE(WriteWholeFile(f, [](int fd) { return WriteAll(fd, "new", 3); }));
    EXPECT_EQ(testsupport::ReadBytes(f), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    fs::permissions(f, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(WriteAtomically(f, [](int fd) { return WriteAll(fd, "new", 3); }));
}

size_t EntriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Where the file system offers unnamed temporary files the copy has no name
// while it is made; elsewhere it is ".<name>.cq-XXXXXX" beside the target.
TEST(AtomicEdit, TheCopyHasANameOnlyWhereItMust) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / "data.bin";
    testsupport::WriteText(f, "original");
    for (bool unnamed : {true, false}) {
        SetUnnamedTemporaryForTesting(unnamed);
        std::string copy_seen;
        size_t entries_during_edit = 0;
        EXPECT_TRUE(EditAtomically(f, [&](const fs::path& copy) {
            copy_seen = copy.string();
            entries_during_edit = EntriesIn(dir.path());
            testsupport::WriteText(copy, "edited");
            return true;
        }));
        SetUnnamedTemporaryForTesting(true);
        if (copy_seen.rfind("/proc/self/fd/", 0) == 0) {
            EXPECT_TRUE(unnamed);
            EXPECT_EQ(entries_during_edit, 1u);
        } else {
            EXPECT_EQ(fs::path(copy_seen).filename().string().rfind(".data.bin.cq-", 0), 0u) << copy_seen;
            EXPECT_EQ(entries_during_edit, 2u);
        }
        EXPECT_EQ(testsupport::ReadBytes(f), std::vector<uint8_t>({'e', 'd', 'i', 't', 'e', 'd'}));
        EXPECT_EQ(EntriesIn(dir.path()), 1u);
    }
}

// A save killed halfway (SIGKILL, no clean-up runs) may leave its named
// temporary file; the next save of the same file removes it, but not one of
// another file's pattern nor one that a running save still holds.
TEST(AtomicEdit, NextSaveRemovesAStaleTemporaryOfItsOwnFile) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / "data.bin";
    testsupport::WriteText(f, "original");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetUnnamedTemporaryForTesting(false);
        EditAtomically(f, [](const fs::path&) {
            for (;;) ::pause();
            return true;
        });
        ::_exit(0);
    }
    // Wait until the child's temporary exists, then kill it.
    for (int i = 0; i < 1000 && EntriesIn(dir.path()) < 2; ++i) ::usleep(5000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(EntriesIn(dir.path()), 2u) << "the killed save left its temporary";

    const fs::path other = dir / ".other.bin.cq-AbCdEf";
    testsupport::WriteText(other, "another file's leftover");
    const fs::path held = dir / ".data.bin.cq-HeLd01";
    testsupport::WriteText(held, "a save in progress");
    const int hold = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(hold, 0);
    ASSERT_EQ(::flock(hold, LOCK_EX), 0);

    EXPECT_TRUE(WriteAtomically(f, [](int fd) { return WriteAll(fd, "new", 3); }));
    ::close(hold);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".data.bin.cq-HeLd01", ".other.bin.cq-AbCdEf", "data.bin"}));
}

// Names near the file system's limit (255 bytes) still save: the named
// temporary cuts the name to fit.
TEST(AtomicEdit, FilesWithNamesNearTheLimitCanBeSaved) {
    testsupport::ScopedTempDir dir;
    const fs::path f = dir / (std::string(250, 'a') + ".bin");
    testsupport::WriteText(f, "original");
    for (bool unnamed : {true, false}) {
        SetUnnamedTemporaryForTesting(unnamed);
        EXPECT_TRUE(EditAtomically(f, [](const fs::path& copy) {
            testsupport::WriteText(copy, "edited");
            return true;
        })) << unnamed;
        SetUnnamedTemporaryForTesting(true);
        EXPECT_EQ(EntriesIn(dir.path()), 1u);
    }
}

TEST(Dispatch, FifosAndDevicesAreNotOpened) {
    testsupport::ScopedTempDir dir;
    const fs::path fifo = dir / "f.oma";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ::alarm(10);  // a test that waits for a writer ends here
    EXPECT_FALSE(OpenFileSource(fifo));
    EXPECT_FALSE(OpenMediaFile(fifo));
    ::alarm(0);
    EXPECT_FALSE(OpenMediaFile("/dev/zero"));
}

// Detection turns absurd sizes in the content (an allocation that fails)
// into "not recognised", but a fault of the code itself is not passed off as
// an unknown format: it reaches the caller (the COM methods answer E_FAIL).
TEST(Dispatch, OnlyAllocationFailuresCountAsUnrecognisedContent) {
    struct Throwing final : ByteSource {
        std::function<void()> raise;
        uint64_t Size() const override { return 1000; }
        size_t ReadAt(uint64_t, void*, size_t) const override {
            raise();
            return 0;
        }
    } source;
    source.raise = [] { throw std::bad_alloc(); };
    EXPECT_FALSE(OpenMediaSource(source, "x.oma"));
    source.raise = [] { throw std::length_error("too long"); };
    EXPECT_FALSE(OpenMediaSource(source, "x.oma"));
    source.raise = [] { throw std::logic_error("a fault of the code"); };
    EXPECT_THROW(OpenMediaSource(source, "x.oma"), std::logic_error);
}

TEST(Dispatch, UnknownOrEmptyContentGivesNull) {
    testsupport::ScopedTempDir dir;
    testsupport::WriteText(dir / "text.mp3", "just some text, not audio at all\n");
    testsupport::WriteBytes(dir / "empty.wav", {});
    EXPECT_FALSE(OpenMediaFile(dir / "text.mp3"));
    EXPECT_FALSE(OpenMediaFile(dir / "empty.wav"));
    EXPECT_FALSE(OpenMediaFile(dir / "missing.wav"));
    EXPECT_FALSE(OpenMediaFile(dir.path()));
}

}  // namespace
