#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/guid.h"
#include "support/test_support.h"

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { setenv("CQ_REGISTRY_FILE", (dir_ / "registry.reg").c_str(), 1); }
    void TearDown() override {
        unsetenv("CQ_REGISTRY_FILE");
        EXPECT_EQ(platform::OpenRegistryKeyCount(), 0) << "every opened key is closed";
    }
    void Write(const std::string& text) { testsupport::WriteText(dir_ / "registry.reg", text); }
    bool Exists(const char16_t* path) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
        if (rc == ERROR_SUCCESS) RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }
    testsupport::ScopedTempDir dir_;
};

TEST_F(Registry, SectionsAndTheirParentsExistWithoutRegardToCase) {
    Write(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Sony "
        "Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D]\r\n"
        "\"Name\"=\"Sonic\\\\Stage \\\"V\\\"\"\r\n"
        "\"Number\"=dword:0000011d\r\n");
    EXPECT_TRUE(
        Exists(u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D"));
    EXPECT_TRUE(
        Exists(u"software\\sony corporation\\openmg\\pc\\{5081aa38-1446-4fa6-91e0-4d63c710b409}\\11d"));
    EXPECT_TRUE(Exists(u"SOFTWARE\\Sony Corporation\\OpenMG")) << "a parent of a section exists";
    EXPECT_FALSE(
        Exists(u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\129"));
    EXPECT_FALSE(Exists(u"SOFTWARE\\Sony Corporation\\Open"));

    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D",
                      0, KEY_READ, &key),
        ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    std::u16string expected = u"Sonic\\Stage \"V\"";
    EXPECT_EQ(size, (expected.size() + 1) * 2);
    std::vector<BYTE> small(4);
    DWORD small_size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, small.data(), &small_size), ERROR_MORE_DATA);
    EXPECT_EQ(small_size, size);
    std::u16string buffer(expected.size() + 1, u'x');
    ASSERT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer.c_str()), expected);
    DWORD number = 0, number_size = sizeof number;
    ASSERT_EQ(
        RegQueryValueExW(key, u"Number", nullptr, &type, reinterpret_cast<BYTE*>(&number), &number_size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(number, 0x11Du);
    EXPECT_EQ(RegQueryValueExW(key, u"Absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, IsReadOnlyAndEmptyWhenTheFileIsMissing) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    Write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\X", 0, 0x20006 /* KEY_WRITE */, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(nullptr, u"SOFTWARE\\X", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, OpensRelativeToAnOpenKeyAndReadsUtf16Files) {
    std::u16string text =
        u"\uFEFFWindows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ünï\\Sub]\r\n";
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    Write(bytes);
    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ÜNÏ", 0, KEY_READ, &parent), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(parent, u"sub", 0, KEY_READ, &child), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(Registry, DeletionSectionsAndGarbageLinesAreIgnored) {
    Write(
        "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n\"x\"=\"y\"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\n"
        "garbage line\n\"unterminated=\"\n[broken\n");
    EXPECT_FALSE(Exists(u"SOFTWARE\\Gone"));
    EXPECT_TRUE(Exists(u"SOFTWARE\\Kept"));
}

TEST_F(Registry, InprocServerPathsResolveAgainstTheFileFolder) {
    Write(
        "REGEDIT4\n[HKEY_CLASSES_ROOT\\CLSID\\{787EB924-DF0E-4E88-8310-78305419C70C}\\InprocServer32]\n"
        "@=\"medialib.so\"\n");
    std::string module;
    ASSERT_TRUE(platform::FindInprocServer("{787eb924-df0e-4e88-8310-78305419c70c}", &module));
    EXPECT_EQ(module, (dir_ / "medialib.so").string());
    EXPECT_FALSE(platform::FindInprocServer(platform::FormatGuid(GUID_NULL), &module));
}

}  // namespace

namespace {

TEST_F(Registry, ClosedAndMadeUpKeysAreInvalidHandles) {
    Write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"v\"=\"text\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\X", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a second close must not free the key again";
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, u"", 0, KEY_READ, &child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(child, nullptr);

    auto made_up = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1000));
    EXPECT_EQ(RegQueryValueExW(made_up, u"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(made_up, u"Sub", 0, KEY_READ, &child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(made_up), ERROR_INVALID_HANDLE);
}

}  // namespace

namespace {

TEST_F(Registry, MalformedDwordValuesAreNotValues) {
    Write(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\N]\n"
        "\"Max\"=dword:ffffffff\n"
        "\"Short\"=dword:1d  \n"
        "\"Negative\"=dword:-1\n"
        "\"NineDigits\"=dword:100000000\n"
        "\"Trailing\"=dword:12zz\n"
        "\"Empty\"=dword:\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\N", 0, KEY_READ, &key), ERROR_SUCCESS);
    auto read = [&](const char16_t* name, DWORD* number) {
        DWORD type = 0, size = sizeof *number;
        return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(number), &size);
    };
    DWORD number = 0;
    ASSERT_EQ(read(u"Max", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 0xFFFFFFFFu);
    ASSERT_EQ(read(u"Short", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 0x1Du);
    EXPECT_EQ(read(u"Negative", &number), ERROR_FILE_NOT_FOUND) << "a sign is not a hex digit";
    EXPECT_EQ(read(u"NineDigits", &number), ERROR_FILE_NOT_FOUND) << "would be cut to 32 bits";
    EXPECT_EQ(read(u"Trailing", &number), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(read(u"Empty", &number), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

}  // namespace

namespace {

TEST_F(Registry, ThreadsOpenQueryAndCloseKeysTogether) {
    Write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared]\n\"v\"=dword:00000007\n");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                HKEY key = nullptr;
                if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared", 0, KEY_READ, &key) !=
                    ERROR_SUCCESS) {
                    ++failures;
                    continue;
                }
                DWORD number = 0, size = sizeof number;
                if (RegQueryValueExW(key, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size) !=
                        ERROR_SUCCESS ||
                    number != 7)
                    ++failures;
                if (RegCloseKey(key) != ERROR_SUCCESS) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace

namespace {

TEST_F(Registry, AFileThatIsNotRegularIsAnEmptyRegistry) {
    // Reading a FIFO without a writer would block every lookup for good.
    ASSERT_EQ(mkfifo((dir_ / "registry.reg").c_str(), 0600), 0);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    std::string module;
    EXPECT_FALSE(platform::FindInprocServer(platform::FormatGuid(GUID_NULL), &module));
}

}  // namespace

namespace {

TEST(RegistryFile, DefaultsToRegistryRegBesideTheModule) {
    unsetenv("CQ_REGISTRY_FILE");
    // The platform is linked into this test program, so the program is the module.
    const auto program = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(platform::RegistryFilePath(), program.parent_path() / "registry.reg");
    setenv("CQ_REGISTRY_FILE", "/somewhere/else.reg", 1);
    EXPECT_EQ(platform::RegistryFilePath(), std::filesystem::path("/somewhere/else.reg"));
    unsetenv("CQ_REGISTRY_FILE");
}

}  // namespace
