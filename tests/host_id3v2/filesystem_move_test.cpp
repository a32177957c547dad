// Renaming through the host's file system: the target is replaced in one
// step, folders and missing sources are refused.
#include <gtest/gtest.h>

#include "host/core/host.h"
#include "host/sdk/filesystem.h"
#include "support/test_support.h"

namespace {

class HostMove : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;
    std::string Url(const std::string& name) const { return "file://" + (dir / name).string(); }
};

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
