// Renaming through the host's file system: the target is replaced in one
// step, folders and missing sources are refused.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/filesystem.h"
#include "support/test_support.h"

// Every fsync of this program passes through here, so a test can see which
// files were flushed and make a flush fail.
namespace fsync_probe {
std::mutex lock;
std::vector<std::string> flushed;  // what each flushed descriptor named
std::string failing;               // a file whose flush fails with EIO
}  // namespace fsync_probe

extern "C" int fsync(int fd) {
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof(target) - 1);
    const std::string name = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
    {
        std::lock_guard hold(fsync_probe::lock);
        fsync_probe::flushed.push_back(name);
        if (!fsync_probe::failing.empty() && name == fsync_probe::failing) {
            errno = EIO;
            return -1;
        }
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

class HostMove : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;
    std::string Url(const std::string& name) const { return "file://" + (dir / name).string(); }
};

TEST_F(HostMove, ReadOnlyTargetIsNotReplaced) {
    testsupport::WriteText(dir / "new", "new content");
    testsupport::WriteText(dir / "old", "old content");
    std::filesystem::permissions(dir / "old", std::filesystem::perms::owner_read);
    EXPECT_THROW(filesystem::g_move(Url("new").c_str(), Url("old").c_str(), abort), exception_io_denied);
    const auto bytes = testsupport::ReadBytes(dir / "old");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old content");
    EXPECT_TRUE(std::filesystem::exists(dir / "new"));
}

TEST_F(HostMove, ReplacesTheTargetAndLeavesNoSource) {
    testsupport::WriteText(dir / "new", "new content");
    testsupport::WriteText(dir / "old", "old content that is longer");
    filesystem::g_move(Url("new").c_str(), (dir / "old").string().c_str(), abort);
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
    const auto bytes = testsupport::ReadBytes(dir / "old");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new content");

    // Backslashes separate as in every host path.
    std::filesystem::create_directories(dir / "sub");
    filesystem::g_move(Url("old").c_str(), ("file://" + dir.path().string() + "\\sub\\moved").c_str(), abort);
    EXPECT_TRUE(std::filesystem::exists(dir / "sub" / "moved"));
}

TEST_F(HostMove, TheNewContentIsFlushedBeforeItReplacesTheTarget) {
    testsupport::WriteText(dir / "new", "new content");
    testsupport::WriteText(dir / "old", "old content");
    const std::string source = std::filesystem::canonical(dir / "new").string();
    {
        std::lock_guard hold(fsync_probe::lock);
        fsync_probe::flushed.clear();
        fsync_probe::failing = source;
    }
    // A flush that fails leaves the target as it was.
    EXPECT_THROW(filesystem::g_move(Url("new").c_str(), Url("old").c_str(), abort), exception_io);
    auto bytes = testsupport::ReadBytes(dir / "old");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old content");

    {
        std::lock_guard hold(fsync_probe::lock);
        fsync_probe::flushed.clear();
        fsync_probe::failing.clear();
    }
    filesystem::g_move(Url("new").c_str(), Url("old").c_str(), abort);
    bytes = testsupport::ReadBytes(dir / "old");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new content");
    std::lock_guard hold(fsync_probe::lock);
    EXPECT_NE(std::find(fsync_probe::flushed.begin(), fsync_probe::flushed.end(), source),
              fsync_probe::flushed.end());
}

TEST_F(HostMove, RefusesMissingSourcesFoldersAndAborts) {
    EXPECT_THROW(filesystem::g_move(Url("missing").c_str(), Url("x").c_str(), abort), exception_io_not_found);
    std::filesystem::create_directories(dir / "folder");
    EXPECT_THROW(filesystem::g_move(Url("folder").c_str(), Url("x").c_str(), abort), exception_io_denied);
    testsupport::WriteText(dir / "file", "f");
    EXPECT_THROW(filesystem::g_move(Url("file").c_str(), Url("folder").c_str(), abort), exception_io);
    EXPECT_TRUE(std::filesystem::exists(dir / "file"));
    abort_callback_impl aborting;
    aborting.abort();
    EXPECT_THROW(filesystem::g_move(Url("file").c_str(), Url("y").c_str(), aborting), exception_aborted);
    EXPECT_TRUE(std::filesystem::exists(dir / "file"));
}

}  // namespace
