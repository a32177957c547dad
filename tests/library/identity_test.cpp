#include "library/identity.h"

#include <gtest/gtest.h>

#include "platform/com/apartment.h"
#include "platform/registry/registry.h"
#include "support/fake_media_library.h"
#include "support/test_support.h"

namespace {

using testsupport::FakeMediaLibrary;
using testsupport::LibraryState;
using testsupport::Log;

// A fake library class on `state` whose roots answer from interface version
// `first` on (6: none).
FakeMediaLibrary FakeFrom(const std::shared_ptr<LibraryState>& state, int first) {
    state->accepted_version = first;
    return FakeMediaLibrary(state);
}

const char* const kRowKeys[4][2] = {
    {"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D",
     "SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\11D"},
    {"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\129",
     "SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\129"},
    {"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{431EBBC6-2F70-4F73-9846-3184124AB34D}\\103",
     "SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\103"},
    {"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{431EBBC6-2F70-4F73-9846-3184124AB34D}\\404",
     "SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\404"},
};

// A registry file holding the given keys, in force for the test's life.
class IdentityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("CQ_REGISTRY_FILE", (dir_ / "registry.reg").c_str(), 1);
        Keys({});
    }
    void TearDown() override {
        unsetenv("CQ_REGISTRY_FILE");
        EXPECT_EQ(platform::OpenRegistryKeyCount(), 0) << "every registry key opened is closed";
        EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);
    }
    void Keys(std::initializer_list<const char*> keys) {
        std::string text = "Windows Registry Editor Version 5.00\r\n";
        for (const char* k : keys) text += std::string("\r\n[HKEY_LOCAL_MACHINE\\") + k + "]\r\n";
        // A new inode each time, so the change is seen at once.
        testsupport::WriteText(dir_ / "next.reg", text);
        std::filesystem::rename(dir_ / "next.reg", dir_ / "registry.reg");
    }
    static std::string Text(BSTR s) {
        std::u16string_view v = platform::BstrView(s);
        return std::string(v.begin(), v.end());
    }
    testsupport::ScopedTempDir dir_;
};

TEST_F(IdentityTest, DetectsTheFirstRowWhoseTwoKeysBothOpen) {
    BSTR key = nullptr;
    EXPECT_EQ(library::DetectApplicationIdentity(&key), 0);
    EXPECT_EQ(key, nullptr);

    Keys({kRowKeys[0][0], kRowKeys[0][1], kRowKeys[2][0], kRowKeys[2][1]});
    EXPECT_EQ(library::DetectApplicationIdentity(&key), 285) << "row 1 wins over row 3";
    EXPECT_EQ(Text(key), "SOFTWARE\\Sony Corporation\\LISMO Port\\SonicStage\\Plugin\\PC");
    SysFreeString(key);

    Keys({kRowKeys[0][0], kRowKeys[1][0], kRowKeys[1][1]});
    EXPECT_EQ(library::DetectApplicationIdentity(&key), 297) << "row 1 lacks its second key";
    EXPECT_EQ(Text(key), "SOFTWARE\\Sony Corporation\\SonicStage V\\Plugin\\PC");
    SysFreeString(key);

    Keys({kRowKeys[2][0], kRowKeys[2][1]});
    EXPECT_EQ(library::DetectApplicationIdentity(nullptr), 259);

    Keys({kRowKeys[3][0], kRowKeys[3][1]});
    EXPECT_EQ(library::DetectApplicationIdentity(&key), 1028);
    EXPECT_EQ(key, nullptr) << "row 4 has no plugin key";

    Keys({kRowKeys[3][1]});
    EXPECT_EQ(library::DetectApplicationIdentity(&key), 0);
}

TEST_F(IdentityTest, RootIsCreatedWithTheFirstInterfaceVersionThatAnswers) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    {
        FakeMediaLibrary fake = FakeFrom(state, 3);
        MediaLibrary* root = nullptr;
        int version = 0;
        ASSERT_TRUE(library::CreateLibraryRoot(&root, &version));
        EXPECT_EQ(version, 3);
        EXPECT_EQ(root, state->last);
        root->Release();
    }
    EXPECT_EQ(log, (Log{"create v1", "create v2", "create v3", "root destroyed@1"}));

    log.clear();
    {
        FakeMediaLibrary none = FakeFrom(state, 6);
        MediaLibrary* root = reinterpret_cast<MediaLibrary*>(1);
        int version = 7;
        EXPECT_FALSE(library::CreateLibraryRoot(&root, &version));
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(version, 0);
    }
    EXPECT_EQ(log, (Log{"create v1", "create v2", "create v3", "create v4", "create v5"}));
    CoUninitialize();
}

TEST_F(IdentityTest, TellingDependsOnTheVersionAndOnWhoAsks) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    MediaLibrary* root = testsupport::NewFakeRoot(state);
    for (int version = 1; version <= 5; ++version) {
        library::TellApplicationIdentity(root, version, 297, 2, nullptr, false);
        library::TellApplicationIdentity(root, version, 0, 2, nullptr, false);  // the tool with no identity
        library::TellApplicationIdentity(root, version, 0, 2, nullptr, true);   // the plug-in with none
    }
    root->Release();
    EXPECT_EQ(log, (Log{"SetApplication(297,2,null,null)", "SetApplication(0,2,null,null)", "Initialize",
                        "SetApplication(297,2,null,null)", "SetApplication(0,2,null,null)", "Initialize",
                        "SetApplication(297,2,null,null)", "SetApplication(0,2,null,null)", "Initialize",
                        "SetApplication(297)", "SetApplication(0)", "Initialize", "Initialize", "Initialize",
                        "Initialize", "root destroyed@1"}));
    CoUninitialize();
}

TEST_F(IdentityTest, PluginCreatesOnceTellsOnceAndBalancesCom) {
    Keys({kRowKeys[0][0], kRowKeys[0][1]});
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    FakeMediaLibrary fake = FakeFrom(state, 4);
    const int before = platform::ComInitCount();
    ASSERT_TRUE(library::CreateMediaLibrary());
    EXPECT_EQ(platform::ComInitCount(), before);
    EXPECT_EQ(log, (Log{"create v1", "create v2", "create v3", "create v4", "SetApplication(285)"}));

    log.clear();
    Keys({});
    EXPECT_TRUE(library::CreateMediaLibrary()) << "second call: already there";
    EXPECT_TRUE(log.empty()) << "touches neither the library nor the registry";

    library::ReleaseProcessMediaLibrary();
    EXPECT_EQ(log, (Log{"root destroyed@0"}));  // this thread never started COM
}

TEST_F(IdentityTest, PluginWithoutIdentityInitialisesPlainly) {
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    FakeMediaLibrary fake = FakeFrom(state, 1);
    ASSERT_TRUE(library::CreateMediaLibrary());
    EXPECT_EQ(log, (Log{"create v1", "Initialize"}));
    library::ReleaseProcessMediaLibrary();
}

TEST_F(IdentityTest, PluginFailuresLeaveNothingBehind) {
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    {
        state->initialize_result = E_FAIL;
        FakeMediaLibrary fake = FakeFrom(state, 2);
        EXPECT_FALSE(library::CreateMediaLibrary());
        EXPECT_EQ(log, (Log{"create v1", "create v2", "Initialize", "root destroyed@1"}));
        EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);
        EXPECT_EQ(platform::ComInitCount(), 0);
    }
    state->initialize_result = S_OK;
    log.clear();
    {
        FakeMediaLibrary none = FakeFrom(state, 6);
        EXPECT_FALSE(library::CreateMediaLibrary());
        EXPECT_EQ(platform::ComInitCount(), 0);
    }
    log.clear();
    {
        FakeMediaLibrary fake = FakeFrom(state, 5);
        platform::SetCoInitializeResultForTesting(E_OUTOFMEMORY);
        EXPECT_FALSE(library::CreateMediaLibrary());
        platform::SetCoInitializeResultForTesting(S_OK);
        EXPECT_TRUE(log.empty()) << "nothing is tried without COM";
        // The next call, with COM back, succeeds: creation is retried.
        EXPECT_TRUE(library::CreateMediaLibrary());
        library::ReleaseProcessMediaLibrary();
    }
}

TEST_F(IdentityTest, ToolTellsLazilyOnlyWhenTheLibraryAsks) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    auto state = std::make_shared<LibraryState>();
    Log& log = state->log;
    MediaLibrary* root = testsupport::NewFakeRoot(state);
    library::ApplicationIdentity identity;
    identity.ApplicationId = 259;

    state->initialized_count = 1;
    EXPECT_TRUE(library::EnsureApplicationTold(root, 2, identity));
    EXPECT_EQ(log, (Log{"IsInitialized"}));

    log.clear();
    state->initialized_count = 0;
    EXPECT_TRUE(library::EnsureApplicationTold(root, 2, identity));
    EXPECT_EQ(log, (Log{"IsInitialized", "SetApplication(259,2,null,null)"}));

    log.clear();
    state->set_application_result = E_FAIL;
    EXPECT_FALSE(library::EnsureApplicationTold(root, 4, identity));
    EXPECT_EQ(log, (Log{"IsInitialized", "SetApplication(259)"}));

    log.clear();
    state->is_initialized_result = E_FAIL;
    EXPECT_FALSE(library::EnsureApplicationTold(root, 4, identity));
    EXPECT_EQ(log, (Log{"IsInitialized"}));
    root->Release();
    CoUninitialize();
}

TEST_F(IdentityTest, OverridesDropTheDetectedIdentityOnce) {
    Keys({kRowKeys[1][0], kRowKeys[1][1]});
    library::ApplicationIdentity identity;
    library::FillApplicationIdentity(identity);
    EXPECT_EQ(identity.ApplicationId, 297);
    EXPECT_FALSE(identity.IsGiven);
    ASSERT_NE(identity.PluginRegistryKey, nullptr);

    library::OverrideApplicationId(identity, true, 0x129);
    EXPECT_TRUE(identity.IsGiven);
    EXPECT_EQ(identity.ApplicationId, 297);
    EXPECT_EQ(identity.PluginRegistryKey, nullptr) << "the detected key is dropped";
    EXPECT_EQ(identity.Mode, 2);

    library::ApplicationIdentity other;
    library::FillApplicationIdentity(other);
    library::OverridePluginRegistryKey(other, u"Key\\Path");
    library::OverrideApplicationId(other, true, 5);
    EXPECT_EQ(other.ApplicationId, 5);
    EXPECT_EQ(Text(other.PluginRegistryKey), "Key\\Path") << "later options keep what earlier ones set";

    library::ApplicationIdentity bare;
    library::FillApplicationIdentity(bare);
    library::OverrideApplicationId(bare, false, 0);
    EXPECT_TRUE(bare.IsGiven);
    EXPECT_EQ(bare.ApplicationId, 0) << "an option without a value only resets";
}

}  // namespace
