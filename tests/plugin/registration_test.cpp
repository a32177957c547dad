// What the plug-in registers, seen through its own factory list: claimed
// extensions, the installation check, the identity texts, the settings tree
// with defaults and reset, and the start-up and shutdown hooks against a fake
// library.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/sdk/advconfig.h"
#include "host/sdk/component.h"
#include "host/sdk/core_api.h"
#include "host/sdk/input.h"
#include "library/identity.h"
#include "platform/com/apartment.h"
#include "plugin/host/initquit.h"
#include "plugin/host/settings.h"
#include "plugin/input/input_oma.h"
#include "plugin_library.h"

namespace {

// Every service of this module's factory list that implements T, in registration order.
template <typename T>
std::vector<service_ptr_t<T>> Registered() {
    std::vector<service_ptr_t<T>> out;
    for (service_factory_base* f = service_factory_base::list_head(); f; f = f->get_next()) {
        if (f->get_class_guid() != T::t_interface_entrypoint::class_guid) continue;
        service_ptr raw;
        f->instance_create(raw);
        service_ptr_t<T> typed;
        if (raw.service_query_t(typed)) out.push_back(typed);
    }
    return out;
}

advconfig_entry_checkbox_v2* Checkbox(const GUID& guid) {
    for (auto& entry : Registered<advconfig_entry_checkbox_v2>())
        if (entry->get_guid() == guid) return entry.get_ptr();
    return nullptr;
}

class SettingsReset : public ::testing::Test {
  protected:
    void TearDown() override {
        for (auto& entry : Registered<advconfig_entry>()) entry->reset();
    }
};

using IsOurPath = SettingsReset;

TEST_F(IsOurPath, ClaimsOpenMgExtensionsInAnyCase) {
    auto inputs = Registered<input_entry>();
    ASSERT_EQ(inputs.size(), 1u);
    for (const char* ext : {"oma", "OMA", "Oma", "omg", "OMG", "kdr", "KdR"}) {
        EXPECT_TRUE(inputs[0]->is_our_path("/x/whatever.bin", ext)) << ext;
    }
    for (const char* ext : {"aa3", "wav", "mp3", "at3", "", "om", "omaa", "3gpp", "oma "}) {
        EXPECT_FALSE(inputs[0]->is_our_path("/x/a.oma", ext)) << ext;
    }
    EXPECT_FALSE(inputs[0]->is_our_path("/x/a.oma", nullptr));
    EXPECT_FALSE(inputs[0]->is_our_content_type("audio/x-oma"));
}

TEST_F(IsOurPath, ThreeGpOnlyWhileTheSwitchIsOn) {
    auto input = Registered<input_entry>().at(0);
    EXPECT_FALSE(input->is_our_path("/x/a.3gp", "3gp"));
    Checkbox(corvina::guid_cfg_support_3gp)->set_state(true);
    EXPECT_TRUE(input->is_our_path("/x/a.3gp", "3gp"));
    EXPECT_TRUE(input->is_our_path("/x/a.3GP", "3GP"));
    Checkbox(corvina::guid_cfg_support_3gp)->set_state(false);
    // Read at every call, never cached.
    EXPECT_FALSE(input->is_our_path("/x/a.3gp", "3gp"));
}

TEST(InstallationCheck, ComparesTheModulesOwnFileNameExactly) {
    auto validators = Registered<component_installation_validator>();
    ASSERT_EQ(validators.size(), 1u);
    struct Case {
        const char* full_path;
        bool valid;
    } cases[] = {
        {"/usr/lib/player/components/corvina.so", true},
        {"corvina.so", true},
        {"C:\\Program Files\\player\\corvina.so", true},
        {"C:corvina.so", true},
        {"archive.zip|corvina.so", true},
        {"/usr/lib/player/Corvina.so", false},
        {"/usr/lib/player/CORVINA.SO", false},
        {"/usr/lib/player/corvina.dll", false},
        {"/usr/lib/player/corvina.so.1", false},
        {"/usr/lib/player/corvina.so/other.so", false},
        {"/usr/lib/player/xcorvina.so", false},
        {"", false},
    };
    for (const Case& c : cases) {
        core_api::detail::set_library_path(c.full_path, "");
        EXPECT_EQ(validators[0]->is_installed_correctly(), c.valid) << c.full_path;
    }
    core_api::detail::set_library_path("", "");
}

TEST(Identity, NameVersionAboutAndFileType) {
    auto versions = Registered<componentversion>();
    ASSERT_EQ(versions.size(), 1u);
    std::string text;
    versions[0]->get_component_name(text);
    EXPECT_EQ(text, "Pellwick");
    versions[0]->get_component_version(text);
    EXPECT_EQ(text, "111029");
    versions[0]->get_about_message(text);
    EXPECT_EQ(text, "\"Sony Media Library Earth\" is necessary for this component.");
    core_api::detail::set_library_path("/opt/x/corvina.so", "corvina.so");
    versions[0]->get_file_name(text);
    EXPECT_EQ(text, "corvina.so");
    core_api::detail::set_library_path("", "");

    auto types = Registered<input_file_type>();
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0]->get_count(), 1u);
    ASSERT_TRUE(types[0]->get_name(0, text));
    EXPECT_EQ(text, "OMA/3GP Files");
    ASSERT_TRUE(types[0]->get_mask(0, text));
    EXPECT_EQ(text, "*.OMA;*.OMG;*.KDR;*.3GP");
    EXPECT_TRUE(types[0]->is_associatable(0));
    text = "unchanged";
    EXPECT_FALSE(types[0]->get_name(1, text));
    EXPECT_FALSE(types[0]->get_mask(1, text));
    EXPECT_EQ(text, "unchanged");
}

TEST(Registrations, OneOfEachInTheirOrder) {
    std::vector<GUID> classes;
    for (service_factory_base* f = service_factory_base::list_head(); f; f = f->get_next())
        classes.push_back(f->get_class_guid());
    const std::vector<GUID> expected = {
        input_entry::class_guid,
        componentversion::class_guid,
        component_installation_validator::class_guid,
        input_file_type::class_guid,
        initquit::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
        advconfig_entry::class_guid,
    };
    EXPECT_EQ(classes, expected);
}

struct EntryRow {
    const char* name;
    const char* setting;  // null for a branch
    GUID guid;
    GUID parent;
    double priority;
    bool radio;
};

const EntryRow kTree[] = {
    {"Sony Media Library Earth wrapper (Pellwick)", nullptr, corvina::guid_branch_pellwick,
     advconfig_entry::guid_branch_tools, 0, false},
    {"Buffering Mode (Non-recommendation)", "buffering_mode", corvina::guid_cfg_buffering_mode,
     corvina::guid_branch_pellwick, 1, false},
    {"Support 3gp (Non-recommendation)", "support_3gp", corvina::guid_cfg_support_3gp,
     corvina::guid_branch_pellwick, 2, false},
    {"Storage place of tag that cannot be written with SMLE (e.g. ReplayGain information)", nullptr,
     corvina::guid_branch_side_tags, corvina::guid_branch_pellwick, 3, false},
    {"Use user profile (e.g. \"C:\\Users\\UserName\\AppData\\Roaming\\foobar2000\\ID3v2\\\")",
     "use_user_profile", corvina::guid_cfg_use_user_profile, corvina::guid_branch_side_tags, 1, false},
    {"Keeps clean (The data of no existence file is deleted)", "keeps_clean", corvina::guid_cfg_keeps_clean,
     corvina::guid_cfg_use_user_profile, 1, true},
    {"Portable (The drive letter is disregarded)", "portable", corvina::guid_cfg_portable,
     corvina::guid_cfg_use_user_profile, 2, true},
    {"Write \"NTFS Alternate Data Stream\" (e.g. \"D:\\Music\\TrackName.oma:ID3v2.tag\")",
     "write_ntfs_stream", corvina::guid_cfg_write_ntfs_stream, corvina::guid_branch_side_tags, 2, false},
};

TEST(SettingsTree, BranchesAndSwitchesWithTheirIdentities) {
    auto entries = Registered<advconfig_entry>();
    ASSERT_EQ(entries.size(), std::size(kTree));
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntryRow& row = kTree[i];
        SCOPED_TRACE(row.name);
        std::string name;
        entries[i]->get_name(name);
        EXPECT_EQ(name, row.name);
        EXPECT_EQ(entries[i]->get_guid(), row.guid);
        EXPECT_EQ(entries[i]->get_parent(), row.parent);
        EXPECT_EQ(entries[i]->get_sort_priority(), row.priority);
        service_ptr_t<advconfig_entry_checkbox_v2> box;
        if (!row.setting) {
            EXPECT_FALSE(entries[i].service_query_t(box));
            service_ptr_t<advconfig_branch> branch;
            EXPECT_TRUE(entries[i].service_query_t(branch));
            continue;
        }
        ASSERT_TRUE(entries[i].service_query_t(box));
        std::string setting;
        box->get_setting_name(setting);
        EXPECT_EQ(setting, row.setting);
        EXPECT_EQ(box->is_radio(), row.radio);
        EXPECT_FALSE(box->get_default_state());
        EXPECT_FALSE(box->get_state());
    }
}

TEST_F(SettingsReset, EachSwitchIsItsOwnVariableAndResetsToOff) {
    struct Switch {
        const GUID& guid;
        advconfig_checkbox_factory& variable;
    } switches[] = {
        {corvina::guid_cfg_buffering_mode, cfg_buffering_mode},
        {corvina::guid_cfg_support_3gp, cfg_support_3gp},
        {corvina::guid_cfg_use_user_profile, cfg_use_user_profile},
        {corvina::guid_cfg_keeps_clean, cfg_keeps_clean},
        {corvina::guid_cfg_portable, cfg_portable},
        {corvina::guid_cfg_write_ntfs_stream, cfg_write_ntfs_stream},
    };
    for (const Switch& s : switches) {
        advconfig_entry_checkbox_v2* box = Checkbox(s.guid);
        ASSERT_NE(box, nullptr);
        box->set_state(true);
        for (const Switch& other : switches) EXPECT_EQ(other.variable.get(), &other == &s);
        box->reset();
        EXPECT_FALSE(s.variable.get());
        EXPECT_FALSE(box->get_state());
    }
}

TEST_F(SettingsReset, SwitchesAreSavedUnderTheirOwnGuids) {
    std::vector<GUID> saved;
    for (cfg_var* v = cfg_var::list_head(); v; v = v->get_next()) saved.push_back(v->get_guid());
    for (const GUID& guid :
         {corvina::guid_cfg_buffering_mode, corvina::guid_cfg_support_3gp, corvina::guid_cfg_use_user_profile,
          corvina::guid_cfg_keeps_clean, corvina::guid_cfg_portable, corvina::guid_cfg_write_ntfs_stream}) {
        EXPECT_EQ(std::count(saved.begin(), saved.end(), guid), 1) << platform::FormatGuid(guid);
    }
    EXPECT_EQ(saved.size(), 6u);
}

class InitQuitTest : public ::testing::Test {
  protected:
    void TearDown() override { fakes::ForgetProcessLibrary(); }
    testsupport::FakeMediaLibrary library{fakes::PluginLibraryState()};
    fakes::Log& log = library.state->log;
};

TEST_F(InitQuitTest, StartUpKeepsComAndCreatesTheRootShutdownReleasesBoth) {
    service_impl_single_t<corvina::CInitQuit> hooks;
    hooks.on_init();
    EXPECT_TRUE(hooks.com_initialized());
    EXPECT_EQ(platform::ComInitCount(), 1);
    EXPECT_NE(library::ProcessMediaLibrary(), nullptr);
    const fakes::Log created = {"create v1", "Initialize"};
    EXPECT_EQ(log, created);

    hooks.on_quit();
    EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);
    EXPECT_EQ(log.back(), "root destroyed@1");  // released before COM goes down
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InitQuitTest, MissingLibraryAtStartUpIsCreatedByTheFirstOpen) {
    library.state->available = false;
    service_impl_single_t<corvina::CInitQuit> hooks;
    hooks.on_init();
    EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);
    EXPECT_EQ(platform::ComInitCount(), 1);

    library.state->available = true;
    {
        abort_callback_dummy abort;
        input_oma input;
        input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
    }
    EXPECT_NE(library::ProcessMediaLibrary(), nullptr);
    hooks.on_quit();
    EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InitQuitTest, ExistingRootIsNotCreatedAgain) {
    ASSERT_TRUE(corvina::EnsureMediaLibrary());
    log.clear();
    service_impl_single_t<corvina::CInitQuit> hooks;
    hooks.on_init();
    EXPECT_TRUE(log.empty());
    hooks.on_quit();
}

TEST_F(InitQuitTest, FailedComStartUpIsNotBalancedAtShutdown) {
    platform::SetCoInitializeResultForTesting(E_OUTOFMEMORY);
    service_impl_single_t<corvina::CInitQuit> hooks;
    hooks.on_init();
    EXPECT_FALSE(hooks.com_initialized());
    EXPECT_EQ(library::ProcessMediaLibrary(), nullptr);  // creation needs COM too
    platform::SetCoInitializeResultForTesting(S_OK);
    CoInitialize(nullptr);  // the thread's own use, which on_quit must leave alone
    hooks.on_quit();
    EXPECT_EQ(platform::ComInitCount(), 1);
    CoUninitialize();
}

TEST_F(InitQuitTest, ConcurrentFirstOpensCreateOneRoot) {
    std::vector<std::thread> threads;
    std::atomic<int> opened{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            abort_callback_dummy abort;
            input_oma input;
            input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
            ++opened;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(opened.load(), 4);
    EXPECT_EQ(static_cast<long>(fakes::Creations(log)), 1);
}

}  // namespace
