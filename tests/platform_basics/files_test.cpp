// Files, attributes, paths, folders and moves of the file stand-in.

#include "platform/files/files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/files/folder_handle.h"
#include "platform/text/text.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// The callers' 64-bit integer type, as the stream stand-in spells it.
union TestLargeInteger {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

std::u16string W(const fs::path& path) { return platform::Utf8ToUtf16(path.string()); }

std::u16string Cwd() {
    char buf[4096];
    EXPECT_NE(nullptr, getcwd(buf, sizeof buf));
    return platform::Utf8ToUtf16(buf);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(0, stat(path.c_str(), &st));
    return st.st_mode & 07777;
}

// Closes a handle at the end of a scope.
struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

// Every existing file name reaches the file system unchanged: bytes that
// are not UTF-8 travel as U+DC80..U+DCFF and come back as the same bytes.
TEST(NativePathTest, NamesThatAreNotUtf8RoundTrip) {
    const std::vector<std::string> names = {
        "plain.oma",
        "caf\xC3\xA9.oma",
        "\xE6\x97\xA5\xE6\x9C\xAC.oma",
        "\xF0\x9F\x8E\xB5.oma",
        "caf\xE9.oma",           // Latin-1
        "\xC3(.oma",             // a lead byte without its continuation
        "\xED\xB2\x80.oma",      // an encoded surrogate (not UTF-8)
        "\xC0\xAF.oma",          // an overlong "/"
        "\xF4\x90\x80\x80.oma",  // beyond U+10FFFF
        "end\xE6\x97",           // cut short at the end
    };
    for (const std::string& name : names) {
        const std::u16string wide = platform::FromNativePath(name);
        EXPECT_EQ(platform::NativePath(wide), name) << name;
    }
    EXPECT_EQ(platform::FromNativePath("caf\xE9"), std::u16string(u"caf\xDCE9"));
    EXPECT_EQ(platform::FromNativePath("caf\xC3\xA9"), std::u16string(u"caf\u00E9"));
    EXPECT_EQ(platform::NativePath(u"\U0001F3B5"), "\xF0\x9F\x8E\xB5");

    testsupport::ScopedTempDir dir;
    const fs::path latin1 = dir / "caf\xE9.oma";
    testsupport::WriteText(latin1, "x");
    const std::u16string wide = platform::FromNativePath(latin1.string());
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(FullPathTest, MakesAbsoluteAndCollapses) {
    EXPECT_EQ(Cwd() + u"/a/c.txt", platform::FullPath(u"a/./b/../c.txt"));
    EXPECT_EQ(u"/x/y", platform::FullPath(u"/x//y/."));
    EXPECT_EQ(u"/x/y/", platform::FullPath(u"/x//y/./"));
    EXPECT_EQ(u"/", platform::FullPath(u"/../.."));
    EXPECT_EQ(u"/b", platform::FullPath(u"/a/../../b"));
    EXPECT_EQ(Cwd(), platform::FullPath(u"."));
    // No drive on Linux: a Windows-looking path is relative, and "\" is part of a name.
    EXPECT_EQ(Cwd() + u"/C:\\x\\song.dat", platform::FullPath(u"C:\\x\\song.dat"));
}

TEST(FullPathTest, BufferRulesAndFilePart) {
    const char16_t* name = u"/music/album/track.oma";
    const DWORD length = 22;
    // Size query: the size needed, NUL included.
    EXPECT_EQ(length + 1, GetFullPathNameW(name, 0, nullptr, nullptr));
    std::u16string buf(64, u'#');
    LPWSTR file_part = nullptr;
    // One unit short: the size needed again, nothing written.
    EXPECT_EQ(length + 1, GetFullPathNameW(name, length, buf.data(), &file_part));
    EXPECT_EQ(u'#', buf[0]);
    EXPECT_EQ(nullptr, file_part);
    // Exactly enough: the length without NUL, the file part inside the buffer.
    EXPECT_EQ(length, GetFullPathNameW(name, length + 1, buf.data(), &file_part));
    EXPECT_EQ(std::u16string(name), buf.c_str());
    ASSERT_NE(nullptr, file_part);
    EXPECT_EQ(std::u16string(u"track.oma"), file_part);
    // A path that ends with a separator has no file part.
    EXPECT_EQ(7u, GetFullPathNameW(u"/music/", 64, buf.data(), &file_part));
    EXPECT_EQ(nullptr, file_part);

    SetLastError(0);
    EXPECT_EQ(0u, GetFullPathNameW(u"", 64, buf.data(), &file_part));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
    EXPECT_EQ(0u, GetFullPathNameW(nullptr, 64, buf.data(), &file_part));
}

TEST(SplitPathTest, WindowsRules) {
    char16_t drive[3], dir[256], name[256], ext[256];
    ASSERT_EQ(0, _wsplitpath_s(u"D:\\MUSIC\\TRACK.OMA", drive, 3, dir, 256, name, 256, ext, 256));
    EXPECT_EQ(std::u16string(u"D:"), drive);
    EXPECT_EQ(std::u16string(u"\\MUSIC\\"), dir);
    EXPECT_EQ(std::u16string(u"TRACK"), name);
    EXPECT_EQ(std::u16string(u".OMA"), ext);
    // The side-tag bucket adds up folder, name and extension: 1209 for this path.
    unsigned sum = 0;
    for (const char16_t* part : {dir, name, ext})
        for (const char16_t* p = part; *p; ++p) sum += *p;
    EXPECT_EQ(1209u, sum);

    ASSERT_EQ(0, _wsplitpath_s(u"/home/u/a.b.c", drive, 3, dir, 256, name, 256, ext, 256));
    EXPECT_EQ(std::u16string(u""), drive);
    EXPECT_EQ(std::u16string(u"/home/u/"), dir);
    EXPECT_EQ(std::u16string(u"a.b"), name);
    EXPECT_EQ(std::u16string(u".c"), ext);

    // Parts may be left out; a part that does not fit fails and clears all.
    ASSERT_EQ(0, _wsplitpath_s(u"x/y\\z", nullptr, 0, dir, 256, name, 256, nullptr, 0));
    EXPECT_EQ(std::u16string(u"x/y\\"), dir);
    EXPECT_EQ(std::u16string(u"z"), name);
    EXPECT_EQ(ERANGE, _wsplitpath_s(u"/long/folder/f.txt", drive, 3, dir, 5, name, 256, ext, 256));
    EXPECT_EQ(0, dir[0]);
    EXPECT_EQ(0, name[0]);
    EXPECT_EQ(EINVAL, _wsplitpath_s(nullptr, drive, 3, dir, 256, name, 256, ext, 256));
    EXPECT_EQ(EINVAL, _wsplitpath_s(u"a", drive, 0, dir, 256, name, 256, ext, 256));

    EXPECT_EQ(u"/a/b/", platform::FolderOf(u"/a/b/c.txt"));
    EXPECT_EQ(u"C:\\a\\", platform::FolderOf(u"C:\\a\\c.txt"));
    EXPECT_EQ(u"c.txt", platform::FileNameOf(u"/a/b\\c.txt"));
    EXPECT_EQ(u"c", platform::BaseNameOf(u"/a/b/c.txt"));
    EXPECT_EQ(u".txt", platform::ExtensionOf(u"/a.d/c.txt"));
    EXPECT_EQ(u"", platform::ExtensionOf(u"/a.d/c"));
    EXPECT_EQ(u"", platform::FileNameOf(u"/a/b/"));
}

TEST(FileIoTest, CreateWriteSeekRead) {
    testsupport::ScopedTempDir dir;
    std::u16string path = W(dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt");  // 日本.txt

    const platform::UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
    // The UTF-16 name is a UTF-8 name on disk.
    EXPECT_TRUE(fs::exists(dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt"));

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h.get(), "hello world", 11, &written, nullptr));
    EXPECT_EQ(11u, written);
    TestLargeInteger size{}, position{}, distance{};
    ASSERT_TRUE(GetFileSizeEx(h.get(), &size));
    EXPECT_EQ(11, size.QuadPart);
    DWORD high = 99;
    EXPECT_EQ(11u, GetFileSize(h.get(), &high));
    EXPECT_EQ(0u, high);

    distance.QuadPart = -5;
    ASSERT_TRUE(SetFilePointerEx(h.get(), distance, &position, FILE_END));
    EXPECT_EQ(6, position.QuadPart);
    char buf[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h.get(), buf, sizeof buf, &read, nullptr));
    EXPECT_EQ(5u, read);
    EXPECT_EQ(std::string("world"), std::string(buf, read));
    // At the end: success with nothing read.
    ASSERT_TRUE(ReadFile(h.get(), buf, sizeof buf, &read, nullptr));
    EXPECT_EQ(0u, read);

    distance.QuadPart = -1;
    SetLastError(0);
    EXPECT_FALSE(SetFilePointerEx(h.get(), distance, nullptr, FILE_BEGIN));
    EXPECT_EQ(ERROR_NEGATIVE_SEEK, GetLastError());

    distance.QuadPart = 5;
    ASSERT_TRUE(SetFilePointerEx(h.get(), distance, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h.get()));
    EXPECT_EQ(5u, GetFileSize(h.get(), nullptr));
    EXPECT_TRUE(FlushFileBuffers(h.get()));
}

TEST(FileIoTest, DispositionsAndTheirErrors) {
    testsupport::ScopedTempDir dir;
    std::u16string path = W(dir / "f.bin");
    testsupport::WriteText(dir / "f.bin", "old content");

    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());

    {
        const platform::UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
        EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
        EXPECT_EQ(0u, GetFileSize(h.get(), nullptr));
        // Writing only: reading is refused.
        char c;
        DWORD read = 0;
        EXPECT_FALSE(ReadFile(h.get(), &c, 1, &read, nullptr));
        EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    }
    {
        std::u16string fresh = W(dir / "new.bin");
        const platform::UniqueHandle h(
            CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
        EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    }

    SetLastError(0);
    std::u16string missing = W(dir / "missing.bin");
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(missing.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    std::u16string no_folder = W(dir / "no" / "such" / "file.bin");
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(no_folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    std::u16string folder = W(dir.path());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST(FileIoTest, HandlesThatAreNotOpenFailCleanly) {
    testsupport::ScopedTempDir dir;
    std::u16string path = W(dir / "f.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &n, nullptr));
    EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x12345678), nullptr, 0, &n, nullptr));
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

// Opening a FIFO for reading must not wait for a writer that never comes
// (the alarm ends a test that hangs); a FIFO has no size to read.
TEST(FileIoTest, OpeningAFifoForReadingDoesNotWait) {
    testsupport::ScopedTempDir dir;
    const fs::path fifo = dir / "f.oma";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    alarm(10);
    HANDLE h =
        CreateFileW(W(fifo).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    alarm(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD high = 0;
    EXPECT_EQ(0u, GetFileSize(h, &high));
    EXPECT_TRUE(CloseHandle(h));
}

TEST(AttributesTest, KindsAndMissingFiles) {
    testsupport::ScopedTempDir dir;
    testsupport::WriteText(dir / "f.txt", "x");
    DWORD file = GetFileAttributesW(W(dir / "f.txt").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, file);
    EXPECT_FALSE(file & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(file & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(file & FILE_ATTRIBUTE_ARCHIVE);
    DWORD folder = GetFileAttributesW(W(dir.path()).c_str());
    EXPECT_TRUE(folder & FILE_ATTRIBUTE_DIRECTORY);

    SetLastError(0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(W(dir / "none.txt").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(W(dir / "none" / "x.txt").c_str()));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u""));

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(W(dir / "f.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(file, data.dwFileAttributes);
    EXPECT_EQ(1u, data.nFileSizeLow);
}

TEST(AttributesTest, ReadOnlyFollowsTheWriteBitsAndIsEnforced) {
    testsupport::ScopedTempDir dir;
    fs::path file = dir / "ro.txt";
    testsupport::WriteText(file, "keep");
    chmod(file.c_str(), 0664);
    std::u16string path = W(file);

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0444u, ModeOf(file));
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);

    // Windows refuses these on a read-only file, even for an administrator.
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("keep", ReadAll(file));
    // Reading is fine.
    const platform::UniqueHandle h(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(INVALID_HANDLE_VALUE, h.get());

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(ModeOf(file) & S_IWUSR);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(fs::exists(file));

    SetLastError(0);
    EXPECT_FALSE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST(AttributesTest, HiddenIsAnExtendedAttribute) {
    testsupport::ScopedTempDir dir;
    fs::path file = dir / "pic.jpg";
    testsupport::WriteText(file, "jpeg");
    std::u16string path = W(file);

    if (!SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY)) {
        EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
        EXPECT_FALSE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
        GTEST_SKIP() << "the temporary folder's file system has no user extended attributes";
    }
    DWORD attributes = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_GE(getxattr(file.c_str(), platform::kHiddenAttributeName, nullptr, 0), 0);

    // The picture writer's sequence: clear both, replace the file, give both back.
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    attributes = GetFileAttributesW(path.c_str());
    EXPECT_FALSE(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    {
        const platform::UniqueHandle h(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
        DWORD n = 0;
        WriteFile(h.get(), "new", 3, &n, nullptr);
    }
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    attributes = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("new", ReadAll(file));

    // A file created hidden.
    std::u16string other = W(dir / "other.jpg");
    const platform::UniqueHandle h(
        CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
    EXPECT_TRUE(GetFileAttributesW(other.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST(FolderTest, ShCreateDirectoryWithParentsAndItsCodes) {
    testsupport::ScopedTempDir dir;
    std::u16string deep = W(dir / "a" / "b" / "c");
    SetLastError(99);
    EXPECT_EQ(static_cast<int>(ERROR_SUCCESS), SHCreateDirectory(nullptr, deep.c_str()));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_EQ(static_cast<int>(ERROR_ALREADY_EXISTS), SHCreateDirectory(nullptr, deep.c_str()));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(static_cast<int>(ERROR_ALREADY_EXISTS), SHCreateDirectory(nullptr, (deep + u"/").c_str()));
    EXPECT_EQ(static_cast<int>(ERROR_SUCCESS), SHCreateDirectory(nullptr, W(dir / "x" / "y" / "").c_str()));
    EXPECT_TRUE(fs::is_directory(dir / "x" / "y"));

    testsupport::WriteText(dir / "file", "x");
    EXPECT_EQ(static_cast<int>(ERROR_FILE_EXISTS), SHCreateDirectory(nullptr, W(dir / "file").c_str()));
    EXPECT_EQ(static_cast<int>(ERROR_PATH_NOT_FOUND),
              SHCreateDirectory(nullptr, W(dir / "file" / "sub").c_str()));
    EXPECT_EQ(static_cast<int>(ERROR_BAD_PATHNAME), SHCreateDirectory(nullptr, u"relative/folder"));
    EXPECT_EQ(static_cast<int>(ERROR_BAD_PATHNAME), SHCreateDirectory(nullptr, u""));
    EXPECT_EQ(static_cast<int>(ERROR_BAD_PATHNAME), SHCreateDirectory(nullptr, nullptr));

    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(W(dir / "p" / "q").c_str(), nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_TRUE(CreateDirectoryW(W(dir / "p").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(W(dir / "p").c_str(), nullptr));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(DeleteFileW(W(dir / "p").c_str()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_TRUE(RemoveDirectoryW(W(dir / "p").c_str()));
}

TEST(FolderTest, ListingIsSortedWithoutRegardToCase) {
    testsupport::ScopedTempDir dir;
    testsupport::WriteText(dir / "b.tag", "12345");
    testsupport::WriteText(dir / "A.tag", "1");
    fs::create_directory(dir / "c");
    testsupport::WriteText(dir / "c" / "d.tag", "123");

    auto flat = platform::ListFolder(W(dir.path()));
    ASSERT_TRUE(flat.has_value());
    ASSERT_EQ(3u, flat->size());
    EXPECT_EQ(u"A.tag", (*flat)[0].name);
    EXPECT_EQ(u"b.tag", (*flat)[1].name);
    EXPECT_EQ(u"c", (*flat)[2].name);
    EXPECT_EQ(5u, (*flat)[1].size);
    EXPECT_EQ(W(dir / "b.tag"), (*flat)[1].path);
    EXPECT_TRUE((*flat)[2].attributes & FILE_ATTRIBUTE_DIRECTORY);

    auto deep = platform::ListFolder(W(dir.path()) + u"/", true);
    ASSERT_TRUE(deep.has_value());
    ASSERT_EQ(4u, deep->size());
    EXPECT_EQ(W(dir / "c" / "d.tag"), (*deep)[3].path);
    EXPECT_EQ(3u, (*deep)[3].size);

    SetLastError(0);
    EXPECT_FALSE(platform::ListFolder(W(dir / "none")).has_value());
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_FALSE(platform::ListFolder(W(dir / "A.tag")).has_value());
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
}

TEST(FileTimeTest, WindowsScaleSince1601) {
    EXPECT_EQ(116444736000000000ULL, platform::FileTimeToUInt64(platform::UnixToFileTime(0)));
    // 2000-01-01 00:00:00 UTC.
    FILETIME y2k = platform::UnixToFileTime(946684800, 500);
    EXPECT_EQ(125911584000000005ULL, platform::FileTimeToUInt64(y2k));
    EXPECT_EQ(0x01BF53EBu, y2k.dwHighDateTime);
    EXPECT_EQ(946684800, platform::FileTimeToUnix(y2k));
    EXPECT_EQ(0u, platform::FileTimeToUInt64(platform::UnixToFileTime(-11644473601LL)));

    testsupport::ScopedTempDir dir;
    fs::path file = dir / "dated.oma";
    testsupport::WriteText(file, "x");
    struct timespec times[2] = {{946684800, 0}, {946684800, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));

    const platform::UniqueHandle h(
        CreateFileW(W(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
    FILETIME creation{}, access{}, write{};
    ASSERT_TRUE(GetFileTime(h.get(), &creation, &access, &write));
    EXPECT_EQ(125911584000000000ULL, platform::FileTimeToUInt64(write));
    EXPECT_EQ(125911584000000000ULL, platform::FileTimeToUInt64(access));
    EXPECT_GT(platform::FileTimeToUInt64(creation), 0u);
    EXPECT_TRUE(GetFileTime(h.get(), nullptr, nullptr, nullptr));

    auto listing = platform::ListFolder(W(dir.path()));
    ASSERT_TRUE(listing && listing->size() == 1);
    EXPECT_EQ(125911584000000000ULL, platform::FileTimeToUInt64(listing->front().lastWriteTime));
}

class MoveTest : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
};

TEST_F(MoveTest, ReplaceOnlyWhenAsked) {
    testsupport::WriteText(dir / "src", "new");
    testsupport::WriteText(dir / "dst", "old");
    std::u16string src = W(dir / "src"), dst = W(dir / "dst");

    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ("new", ReadAll(dir / "src"));
    EXPECT_EQ("old", ReadAll(dir / "dst"));

    // A read-only target is not replaced.
    chmod((dir / "dst").c_str(), 0444);
    EXPECT_FALSE(MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    chmod((dir / "dst").c_str(), 0644);

    EXPECT_TRUE(MoveFileExW(src.c_str(), dst.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_FALSE(fs::exists(dir / "src"));
    EXPECT_EQ("new", ReadAll(dir / "dst"));

    EXPECT_FALSE(MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    // Into a folder that does not exist.
    EXPECT_FALSE(MoveFileExW(dst.c_str(), W(dir / "no" / "x").c_str(), 0));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_TRUE(fs::exists(dir / "dst"));
}

TEST_F(MoveTest, AcrossFileSystemsCopiesOnlyWhenAllowed) {
    struct stat shm {
    }, tmp{};
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
        access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "/dev/shm is not a separate, writable file system here";
    }
    fs::path source = fs::path("/dev/shm") / ("cq-move-" + std::to_string(getpid()));
    testsupport::WriteText(source, "audio bytes");
    chmod(source.c_str(), 0640);
    struct timespec times[2] = {{946684800, 0}, {946684800, 0}};
    utimensat(AT_FDCWD, source.c_str(), times, 0);
    std::u16string src = W(source), dst = W(dir / "moved.oma");

    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_NOT_SAME_DEVICE, GetLastError());
    EXPECT_TRUE(fs::exists(source));
    EXPECT_FALSE(fs::exists(dir / "moved.oma"));

    testsupport::WriteText(dir / "moved.oma", "previous");
    EXPECT_TRUE(MoveFileExW(src.c_str(), dst.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ("audio bytes", ReadAll(dir / "moved.oma"));
    EXPECT_EQ(0640u, ModeOf(dir / "moved.oma"));
    struct stat moved {};
    stat((dir / "moved.oma").c_str(), &moved);
    EXPECT_EQ(946684800, moved.st_mtim.tv_sec);
    // Nothing is left beside the target.
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));

    // Without the replace flag an existing target stays.
    testsupport::WriteText(source, "again");
    EXPECT_FALSE(MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ("audio bytes", ReadAll(dir / "moved.oma"));
    fs::remove(source);
}

TEST(TempPathTest, HonoursTmpdirAndBufferRules) {
    const char* saved = std::getenv("TMPDIR");
    std::string saved_value = saved ? saved : "";
    testsupport::ScopedTempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::u16string expected = W(dir.path()) + u"/";
    char16_t buf[1024];
    EXPECT_EQ(expected.size() + 1, GetTempPathW(0, nullptr));
    EXPECT_EQ(expected.size(), GetTempPathW(1024, buf));
    EXPECT_EQ(expected, buf);
    setenv("TMPDIR", (dir.path().string() + "/").c_str(), 1);
    EXPECT_EQ(expected.size(), GetTempPathW(1024, buf));
    unsetenv("TMPDIR");
    EXPECT_EQ(5u, GetTempPathW(1024, buf));
    EXPECT_EQ(std::u16string(u"/tmp/"), buf);
    if (saved) setenv("TMPDIR", saved_value.c_str(), 1);
}

TEST(ModuleTest, ExecutableAndModulePaths) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::u16string expected = platform::Utf8ToUtf16(std::string(exe, static_cast<size_t>(n)));

    char16_t buf[4096];
    EXPECT_EQ(expected.size(), GetModuleFileNameW(nullptr, buf, 4096));
    EXPECT_EQ(expected, buf);
    // Too small: truncated, NUL-terminated, the size returned.
    SetLastError(0);
    EXPECT_EQ(8u, GetModuleFileNameW(nullptr, buf, 8));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(expected.substr(0, 7), buf);

    // The module that holds a given address.
    static int marker = 0;
    EXPECT_EQ(expected, platform::ModulePathOf(&marker));
    std::u16string libc = platform::ModulePathOf(reinterpret_cast<const void*>(&getpid));
    EXPECT_NE(std::u16string::npos, libc.find(u"libc")) << platform::Utf16ToUtf8(libc);

    void* libm = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, libm);
    ASSERT_GT(GetModuleFileNameW(libm, buf, 4096), 0u);
    EXPECT_NE(std::u16string::npos, std::u16string(buf).find(u"libm")) << platform::Utf16ToUtf8(buf);
    dlclose(libm);
}

TEST(FolderHandleTest, ListsKindsAndOpensRelativeToTheFolder) {
    testsupport::ScopedTempDir dir;
    testsupport::WriteText(dir / "file.txt", "twelve bytes");
    fs::create_directories(dir / "sub");
    testsupport::WriteText(dir / "sub" / "inner.txt", "inner");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("file.txt", dir / "link");
    fs::create_symlink("missing", dir / "dangling");

    using Kind = platform::FolderHandle::Kind;
    const platform::FolderHandle folder = platform::FolderHandle::Open(dir.path().string());
    ASSERT_TRUE(folder.valid());
    std::vector<platform::FolderHandle::Entry> entries;
    ASSERT_TRUE(folder.List(entries));
    std::map<std::string, Kind> kinds;
    for (const auto& e : entries) kinds[e.name] = e.kind;
    ASSERT_EQ(kinds.size(), 5u) << "no . and ..";
    // File systems that record no kinds list everything as Unknown; the
    // status call then gives it.
    for (auto& [name, kind] : kinds) {
        if (kind == Kind::Unknown) {
            ASSERT_TRUE(folder.KindOf(name, false, kind)) << name;
        }
    }
    EXPECT_EQ(kinds["file.txt"], Kind::File);
    EXPECT_EQ(kinds["sub"], Kind::Folder);
    EXPECT_EQ(kinds["fifo"], Kind::Other);
    EXPECT_EQ(kinds["link"], Kind::Link);
    EXPECT_EQ(kinds["dangling"], Kind::Link);

    Kind kind = Kind::Unknown;
    EXPECT_TRUE(folder.KindOf("link", true, kind));
    EXPECT_EQ(kind, Kind::File);
    EXPECT_TRUE(folder.KindOf("link", false, kind));
    EXPECT_EQ(kind, Kind::Link);
    EXPECT_TRUE(folder.KindOf("fifo", true, kind));
    EXPECT_EQ(kind, Kind::Other);
    EXPECT_FALSE(folder.KindOf("dangling", true, kind));
    EXPECT_EQ(errno, ENOENT);

    struct stat st {};
    int fd = folder.OpenForReading("link");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 12);
    char text[16] = {};
    EXPECT_EQ(pread(fd, text, sizeof text, 0), 12);
    EXPECT_STREQ(text, "twelve bytes");
    close(fd);
    // A FIFO opens at once (no writer is waited for) and tells what it is.
    fd = folder.OpenForReading("fifo");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(pread(fd, text, sizeof text, 0), -1) << "a FIFO refuses pread";
    close(fd);
    EXPECT_EQ(folder.OpenForReading("missing"), -1);
    EXPECT_EQ(errno, ENOENT);

    const platform::FolderHandle sub = folder.OpenFolder("sub");
    ASSERT_TRUE(sub.valid());
    ASSERT_TRUE(sub.List(entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "inner.txt");
    EXPECT_FALSE(folder.OpenFolder("file.txt").valid());
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(platform::FolderHandle::Open((dir / "none").string()).valid());
}

}  // namespace
