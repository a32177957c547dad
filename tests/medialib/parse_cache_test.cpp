// The engine's parse sharing between a content object and its item: one
// parse for an unchanged file, a new parse for a file that changed in any
// way (content with the modification time put back included), parses handed
// over rather than shared, a bounded number kept, and safe use from several
// threads.
#include "medialib/detect/parse_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"
#include "support/test_support.h"

namespace medialib {
namespace {

std::u16string TitleOf(const OpenedFile& file) {
    auto it = file.Attributes().find(attr::Title);
    if (it == file.Attributes().end() || it->second.empty()) return u"<none>";
    return std::get<std::u16string>(it->second.front());
}

void WriteOma(const std::filesystem::path& path, const std::string& title) {
    openmg::DemoOmaOptions options;
    options.tags[attr::Title] = {std::u16string(title.begin(), title.end())};
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.05, options));
}

int64_t Ns(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// File times move in ticks of a coarse clock, and a parse of a file changed
// in the tick it is opened in is not kept; tests that expect a parse to be
// kept first let that tick pass (a wait for a condition, not a timing).
void WaitPastChange(const std::filesystem::path& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    for (;;) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (Ns(now) > Ns(st.st_ctim)) return;
        ::usleep(1000);
    }
}

void SetModified(const std::filesystem::path& path, const struct timespec& when) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class ParseCacheTest : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    ParseCache cache{4};
};

TEST_F(ParseCacheTest, ContentAndItemOfAnUnchangedFileShareOneParse) {
    const auto path = dir / "a.oma";
    WriteOma(path, "First");
    WaitPastChange(path);
    const std::optional<int32_t> container = cache.ParseAndKeep(path);
    ASSERT_TRUE(container);
    EXPECT_EQ(*container, container::Oma);
    const std::unique_ptr<OpenedFile> file = cache.TakeOrParse(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(cache.Parses(), 1u);
    EXPECT_EQ(TitleOf(*file), u"First");
    EXPECT_EQ(file->Container(), container::Oma);
}

TEST_F(ParseCacheTest, AParseIsHandedOverOnce) {
    const auto path = dir / "a.oma";
    WriteOma(path, "First");
    WaitPastChange(path);
    ASSERT_TRUE(cache.ParseAndKeep(path));
    ASSERT_TRUE(cache.TakeOrParse(path));
    ASSERT_TRUE(cache.TakeOrParse(path));
    EXPECT_EQ(cache.Parses(), 2u);
}

TEST_F(ParseCacheTest, NewModificationTimeSameSizeIsParsedAgain) {
    const auto path = dir / "a.oma";
    WriteOma(path, "Alpha");
    WaitPastChange(path);
    ASSERT_TRUE(cache.ParseAndKeep(path));
    const auto size = std::filesystem::file_size(path);
    SetModified(path, {1234567890, 5});
    EXPECT_EQ(std::filesystem::file_size(path), size);
    ASSERT_TRUE(cache.TakeOrParse(path));
    EXPECT_EQ(cache.Parses(), 2u);
}

TEST_F(ParseCacheTest, ContentChangedWithTheOldTimesPutBackIsSeen) {
    const auto path = dir / "a.oma";
    WriteOma(path, "Alpha");
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    WaitPastChange(path);
    ASSERT_TRUE(cache.ParseAndKeep(path));
    // Same size, same inode, same modification time: only the change time
    // tells (a tagger that keeps file times does this).
    const auto other = dir / "b.oma";
    WriteOma(other, "Omega");
    ASSERT_EQ(std::filesystem::file_size(other), std::filesystem::file_size(path));
    testsupport::WriteBytes(path, testsupport::ReadBytes(other));
    SetModified(path, before.st_mtim);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(Ns(after.st_mtim), Ns(before.st_mtim));
    const std::unique_ptr<OpenedFile> file = cache.TakeOrParse(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(TitleOf(*file), u"Omega");
    EXPECT_EQ(cache.Parses(), 2u);
}

TEST_F(ParseCacheTest, AFileReplacedByAnotherIsParsedAgain) {
    const auto path = dir / "a.oma";
    WriteOma(path, "Alpha");
    WaitPastChange(path);
    ASSERT_TRUE(cache.ParseAndKeep(path));
    const auto other = dir / "b.oma";
    WriteOma(other, "Omega");
    std::filesystem::rename(other, path);
    const std::unique_ptr<OpenedFile> file = cache.TakeOrParse(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(TitleOf(*file), u"Omega");
}

TEST_F(ParseCacheTest, ForgetDropsTheKeptParse) {
    const auto path = dir / "a.oma";
    WriteOma(path, "Alpha");
    WaitPastChange(path);
    ASSERT_TRUE(cache.ParseAndKeep(path));
    cache.Forget(path);
    ASSERT_TRUE(cache.TakeOrParse(path));
    EXPECT_EQ(cache.Parses(), 2u);
}

TEST_F(ParseCacheTest, OnlyTheLastFewFilesAreKept) {
    std::vector<std::filesystem::path> paths;
    for (int i = 0; i < 5; ++i) {
        paths.push_back(dir / ("f" + std::to_string(i) + ".oma"));
        WriteOma(paths.back(), "T" + std::to_string(i));
    }
    for (const auto& p : paths) WaitPastChange(p);
    for (const auto& p : paths) ASSERT_TRUE(cache.ParseAndKeep(p));
    EXPECT_EQ(cache.Parses(), 5u);
    for (int i = 1; i < 5; ++i) ASSERT_TRUE(cache.TakeOrParse(paths[i]));
    EXPECT_EQ(cache.Parses(), 5u);  // the four newest were kept
    ASSERT_TRUE(cache.TakeOrParse(paths[0]));
    EXPECT_EQ(cache.Parses(), 6u);  // the oldest was not
}

TEST_F(ParseCacheTest, MissingAndUnreadableFilesGiveNothing) {
    EXPECT_FALSE(cache.ParseAndKeep(dir / "missing.oma"));
    EXPECT_FALSE(cache.TakeOrParse(dir / "missing.oma"));
    testsupport::WriteText(dir / "text.oma", "not audio at all, just some words");
    EXPECT_FALSE(cache.ParseAndKeep(dir / "text.oma"));
    EXPECT_FALSE(cache.TakeOrParse(dir / "text.oma"));
    // A FIFO is never opened for reading in a way that waits for a writer.
    ASSERT_EQ(::mkfifo((dir / "fifo.oma").c_str(), 0600), 0);
    EXPECT_FALSE(cache.ParseAndKeep(dir / "fifo.oma"));
    EXPECT_FALSE(cache.TakeOrParse(dir / "fifo.oma"));
}

TEST_F(ParseCacheTest, ThreadsOpeningAndLoadingTheSameFilesSeeTheirContent) {
    std::vector<std::filesystem::path> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(dir / ("t" + std::to_string(i) + ".oma"));
        WriteOma(paths.back(), "Track " + std::to_string(i));
    }
    for (const auto& p : paths) WaitPastChange(p);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const size_t i = static_cast<size_t>(t + round) % paths.size();
                if (!cache.ParseAndKeep(paths[i])) ++wrong;
                const std::unique_ptr<OpenedFile> file = cache.TakeOrParse(paths[i]);
                const std::string title = "Track " + std::to_string(i);
                if (!file || TitleOf(*file) != std::u16string(title.begin(), title.end())) ++wrong;
                if (round % 7 == 0) cache.Forget(paths[i]);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(cache.Parses(), 80u);
    EXPECT_LE(cache.Parses(), 160u);
}

}  // namespace
}  // namespace medialib
