// The host's file system over host paths, with and without "file://".
#include "host/sdk/filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "host/core/host.h"
#include "support/test_support.h"

namespace {

using testsupport::ScopedTempDir;

class HostFilesystem : public ::testing::Test {
  protected:
    ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;

    std::string Native(const std::string& name) const { return (dir / name).string(); }
    std::string Url(const std::string& name) const { return "file://" + Native(name); }
};

TEST(HostPaths, PrefixAndSeparators) {
    EXPECT_EQ(fb2k::host_path_to_native("file:///music/a.oma"), "/music/a.oma");
    EXPECT_EQ(fb2k::host_path_to_native("FILE:///music/a.oma"), "/music/a.oma");
    EXPECT_EQ(fb2k::host_path_to_native("/music/a.oma"), "/music/a.oma");
    EXPECT_EQ(fb2k::host_path_to_native("file:///p\\ID3v2\\0A\\00000000.tag"), "/p/ID3v2/0A/00000000.tag");
    EXPECT_EQ(fb2k::host_path_to_native(nullptr), "");
    EXPECT_EQ(fb2k::native_path_to_host("/a b/c"), "file:///a b/c");
}

TEST(HostPaths, WindowsFileTime) {
    EXPECT_EQ(fb2k::windows_file_time(0, 0), 116444736000000000ULL);  // 1970-01-01
    EXPECT_EQ(fb2k::windows_file_time(1, 500), 116444736010000005ULL);
    EXPECT_EQ(fb2k::windows_file_time(-11644473600LL, 0), 0ULL);  // 1601-01-01
}

TEST_F(HostFilesystem, WriteReadSeekBothPathForms) {
    file_ptr f;
    filesystem::g_open_write_new(f, Url("a.bin").c_str(), abort);
    f->write("ID3abcdef", 9, abort);
    f->seek_ex(0, file::seek_from_eof, abort);
    f->write("\0\0", 2, abort);
    EXPECT_EQ(f->get_size(abort), 11u);
    f.release();

    filesystem::g_open_read(f, Native("a.bin").c_str(), abort);
    char head[3];
    f->read_object(head, 3, abort);
    EXPECT_EQ(std::string(head, 3), "ID3");
    f->seek(9, abort);
    EXPECT_EQ(f->read_till_eof(abort).size(), 2u);
    char more;
    EXPECT_EQ(f->read(&more, 1, abort), 0u);
    EXPECT_THROW(f->read_object(&more, 1, abort), exception_io_data);
    EXPECT_THROW(f->seek_ex(-1, file::seek_from_beginning, abort), exception_io_data);
    EXPECT_THROW(f->write("x", 1, abort), exception_io);  // opened for reading
}

TEST_F(HostFilesystem, WriteNewDiscardsOldContent) {
    testsupport::WriteText(dir / "b.txt", "0123456789");
    file_ptr f;
    filesystem::g_open(f, Url("b.txt").c_str(), filesystem::open_mode_write_new, abort);
    f->write("xy", 2, abort);
    f.release();
    EXPECT_EQ(testsupport::ReadBytes(dir / "b.txt").size(), 2u);
}

TEST_F(HostFilesystem, StatsSizeAndTimestamp) {
    testsupport::WriteText(dir / "c.txt", "12345");
    struct stat st {};
    ASSERT_EQ(::stat(Native("c.txt").c_str(), &st), 0);
    t_filestats stats;
    bool writeable = false;
    filesystem::g_get_stats(Url("c.txt").c_str(), stats, writeable, abort);
    EXPECT_EQ(stats.m_size, 5u);
    EXPECT_EQ(stats.m_timestamp, fb2k::windows_file_time(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
    EXPECT_TRUE(writeable);

    t_filestats same;
    filesystem::g_get_stats(Native("c.txt").c_str(), same, writeable, abort);
    EXPECT_EQ(same, stats);
}

TEST_F(HostFilesystem, MissingObjectsAndExistence) {
    t_filestats stats;
    bool writeable;
    EXPECT_THROW(filesystem::g_get_stats(Url("none").c_str(), stats, writeable, abort),
                 exception_io_not_found);
    file_ptr f;
    EXPECT_THROW(filesystem::g_open_read(f, Url("none").c_str(), abort), exception_io_not_found);
    EXPECT_TRUE(f.is_empty());
    EXPECT_THROW(filesystem::g_remove(Url("none").c_str(), abort), exception_io_not_found);
    EXPECT_FALSE(filesystem::g_exists(Url("none").c_str(), abort));
    testsupport::WriteText(dir / "d.txt", "x");
    EXPECT_TRUE(filesystem::g_exists(Url("d.txt").c_str(), abort));
    EXPECT_TRUE(filesystem::g_exists(Native("d.txt").c_str(), abort));
    filesystem::g_remove(Url("d.txt").c_str(), abort);
    EXPECT_FALSE(filesystem::g_exists(Native("d.txt").c_str(), abort));
    // A folder cannot be opened as a file.
    EXPECT_THROW(filesystem::g_open_read(f, dir.path().string().c_str(), abort), exception_io_denied);
}

// Reading opens regular files only, at once: a FIFO would wait for a writer
// and a device may never end.
TEST_F(HostFilesystem, FifosAndDevicesAreNotFoundForReading) {
    ASSERT_EQ(mkfifo(Native("f.oma").c_str(), 0644), 0);
    file_ptr f;
    alarm(10);
    EXPECT_THROW(filesystem::g_open_read(f, Url("f.oma").c_str(), abort), exception_io_not_found);
    alarm(0);
    EXPECT_THROW(filesystem::g_open_read(f, "/dev/zero", abort), exception_io_not_found);
    EXPECT_TRUE(f.is_empty());
}

// A name longer than the file system holds (255 bytes a component) names
// nothing: lookups, reads and removals find no object; creating it fails.
TEST_F(HostFilesystem, NamesTooLongForTheFileSystemAreNotFound) {
    const std::string long_name = Url(std::string(250, 'a') + ".oma:ID3v2.tag");
    t_filestats stats;
    bool writeable;
    EXPECT_THROW(filesystem::g_get_stats(long_name.c_str(), stats, writeable, abort), exception_io_not_found);
    EXPECT_FALSE(filesystem::g_exists(long_name.c_str(), abort));
    file_ptr f;
    EXPECT_THROW(filesystem::g_open_read(f, long_name.c_str(), abort), exception_io_not_found);
    EXPECT_THROW(filesystem::g_remove(long_name.c_str(), abort), exception_io_not_found);
    try {
        filesystem::g_open(f, long_name.c_str(), filesystem::open_mode_write_new, abort);
        ADD_FAILURE() << "a name the file system cannot hold was created";
    } catch (const exception_io_not_found&) {
        ADD_FAILURE() << "creating reports the name, not a missing file";
    } catch (const exception_io&) {
    }
}

TEST_F(HostFilesystem, FoldersCreateListEmptyRemove) {
    const std::string root = Url("store") + "\\";  // joined Windows-style, as components do
    EXPECT_FALSE(filesystem::g_is_empty_directory(root.c_str(), abort));  // missing: not empty
    filesystem::g_create_directory(root.c_str(), abort);
    EXPECT_THROW(filesystem::g_create_directory(root.c_str(), abort), exception_io_already_exists);
    EXPECT_TRUE(filesystem::g_is_empty_directory(root.c_str(), abort));
    filesystem::g_create_directory((root + "0A\\").c_str(), abort);
    testsupport::WriteText(dir / "store/0A/00000001.tag", "1234567890");
    testsupport::WriteText(dir / "store/0A/00000000.tag", "123");
    testsupport::WriteText(dir / "store/top.txt", "t");
    EXPECT_FALSE(filesystem::g_is_empty_directory(root.c_str(), abort));

    directory_callback_impl flat(false);
    filesystem::g_list_directory(root.c_str(), flat, abort);
    ASSERT_EQ(flat.get_count(), 1u);
    EXPECT_EQ(flat.get_files()[0].path, Url("store/top.txt"));

    directory_callback_impl deep(true);
    filesystem::g_list_directory(root.c_str(), deep, abort);
    ASSERT_EQ(deep.get_count(), 3u);  // sorted by name at each level
    EXPECT_EQ(deep.get_files()[0].path, Url("store/0A/00000000.tag"));
    EXPECT_EQ(deep.get_files()[0].stats.m_size, 3u);
    EXPECT_EQ(deep.get_files()[1].path, Url("store/0A/00000001.tag"));
    EXPECT_EQ(deep.get_files()[1].stats.m_size, 10u);
    EXPECT_EQ(deep.get_files()[2].path, Url("store/top.txt"));

    // Listing a plain path yields plain paths.
    directory_callback_impl plain(false);
    filesystem::g_list_directory(Native("store").c_str(), plain, abort);
    ASSERT_EQ(plain.get_count(), 1u);
    EXPECT_EQ(plain.get_files()[0].path, Native("store/top.txt"));

    EXPECT_THROW(filesystem::g_remove(Url("store/0A").c_str(), abort), exception_io);  // not empty
    directory_callback_impl missing(true);
    EXPECT_THROW(filesystem::g_list_directory(Url("nothing").c_str(), missing, abort),
                 exception_io_not_found);
}

TEST_F(HostFilesystem, AbortStopsOperations) {
    abort_callback_impl stop;
    stop.abort();
    file_ptr f;
    EXPECT_THROW(filesystem::g_open_write_new(f, Url("e").c_str(), stop), exception_aborted);
    EXPECT_FALSE(filesystem::g_exists(Url("e").c_str(), abort));
}

TEST_F(HostFilesystem, ProfilePathIsAHostPathOfAnExistingFolder) {
    const std::string profile = core_api::get_profile_path();
    EXPECT_EQ(profile, "file://" + (dir / "profile").string());
    t_filestats stats;
    bool writeable;
    filesystem::g_get_stats(profile.c_str(), stats, writeable, abort);
    EXPECT_EQ(stats.m_size, t_filestats::filesize_invalid);  // a folder
    EXPECT_TRUE(filesystem::g_is_empty_directory((profile + "\\").c_str(), abort));
}

TEST_F(HostFilesystem, OtherSchemesAreNotClaimed) {
    t_filestats stats;
    bool writeable;
    EXPECT_THROW(filesystem::g_get_stats("http://example.invalid/a.oma", stats, writeable, abort),
                 exception_io_not_found);
}

}  // namespace
