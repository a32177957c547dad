// One command line against a fake media library: how the root is created,
// how the identity is found and told, which file becomes the target, what is
// printed, the exit codes, and that everything made is released again.
#include <gtest/gtest.h>

#include "helpers.h"
#include "library/identity.h"
#include "library/media_ids.h"
#include "platform/com/apartment.h"
#include "platform/console/console.h"
#include "platform/registry/registry.h"
#include "support/fake_media_library.h"
#include "tool/commands/entry.h"

namespace attr = medialib::attr;

namespace {

using testsupport::FakeMediaItem;
using tooltest::U16;

const std::string kOpenMg = "SOFTWARE\\Sony Corporation\\OpenMG\\PC\\";
const std::string kRow1First = kOpenMg + "{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D";
const std::string kRow1Second = kOpenMg + "{ED976567-8C40-419B-9B8F-D6ED61463F56}\\11D";
const std::string kRow2First = kOpenMg + "{5081AA38-1446-4FA6-91E0-4D63C710B409}\\129";
const std::string kRow2Second = kOpenMg + "{ED976567-8C40-419B-9B8F-D6ED61463F56}\\129";
const std::string kRow3First = kOpenMg + "{431EBBC6-2F70-4F73-9846-3184124AB34D}\\103";
const std::string kRow3Second = kOpenMg + "{ED976567-8C40-419B-9B8F-D6ED61463F56}\\103";
const std::string kRow4First = kOpenMg + "{431EBBC6-2F70-4F73-9846-3184124AB34D}\\404";
const std::string kRow4Second = kOpenMg + "{ED976567-8C40-419B-9B8F-D6ED61463F56}\\404";

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

class RunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        song_ = dir_ / "song.oma";
        other_ = dir_ / "other.oma";
        testsupport::WriteText(song_, "x");
        testsupport::WriteText(other_, "y");
        open_keys_ = platform::OpenRegistryKeyCount();
    }
    void TearDown() override {
        EXPECT_EQ(platform::OpenRegistryKeyCount(), open_keys_);
        CoUninitialize();
    }

    // A file that the fake library opens, with one title attribute.
    ComPtr<FakeMediaItem> Openable(const std::filesystem::path& path) {
        ComPtr<FakeMediaItem> item = fake_.Openable(U16(path));
        item->PutText(attr::Title, u"Title of " + U16(path.filename()));
        return item;
    }

    LONG Run(std::vector<std::u16string> arguments) {
        return tooltest::RunQuilletLine(std::move(arguments), &output_);
    }

    testsupport::ScopedTempDir dir_;
    std::filesystem::path song_;
    std::filesystem::path other_;
    testsupport::FakeMediaLibrary fake_;
    std::string output_;
    long open_keys_ = 0;
};

TEST_F(RunTest, NoArgumentsPrintsVersionLineAndEos) {
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(output_, "Quillet Version 111029.\nEOS.\n");
    EXPECT_TRUE(fake_.state->destroyed);
    EXPECT_EQ(fake_.state->references, 0);
}

TEST_F(RunTest, RootIsTriedFromVersionOneUntilOneAnswers) {
    fake_.state->accepted_version = 3;
    EXPECT_EQ(Run({u"--Version"}), 0);
    EXPECT_EQ(fake_.state->versions_tried, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(output_, "Quillet Version 111029.\nEOS.\n");
    EXPECT_TRUE(fake_.state->destroyed);
}

TEST_F(RunTest, NoVersionAnswersEndsWithExitOneAndNothingPrinted) {
    fake_.state->accepted_version = 6;
    EXPECT_EQ(Run({u"--Help"}), 1);
    EXPECT_EQ(fake_.state->versions_tried, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(output_, "");
}

TEST_F(RunTest, IdentityIsToldByTheMeansOfTheVersion) {
    tooltest::RegistryFile registry({kRow2First, kRow2Second});
    Openable(song_);
    const std::vector<std::pair<int, std::string>> cases = {
        {1, "SetApplication(297,2,null,null)"},
        {2, "SetApplication(297,2,null,null)"},
        {3, "SetApplication(297,2,null,null)"},
        {4, "SetApplication(297)"},
        {5, "Initialize"},
    };
    for (const auto& [version, call] : cases) {
        SCOPED_TRACE(version);
        fake_.state->accepted_version = version;
        fake_.state->log.clear();
        EXPECT_EQ(Run({U16(song_)}), 0);
        ASSERT_GE(fake_.state->RootCalls().size(), 2u);
        EXPECT_EQ(fake_.state->RootCalls()[0], "IsInitialized");
        EXPECT_EQ(fake_.state->RootCalls()[1], call);
    }
}

TEST_F(RunTest, NoIdentityFoundStillTellsZero) {
    tooltest::RegistryFile registry({kRow1First, kRow2Second});  // no row complete
    Openable(song_);
    EXPECT_EQ(Run({u"--Get", U16(song_)}), 0);
    EXPECT_EQ(fake_.state->RootCalls()[1], "SetApplication(0,2,null,null)");
    fake_.state->accepted_version = 4;
    fake_.state->log.clear();
    EXPECT_EQ(Run({U16(song_)}), 0);
    EXPECT_EQ(fake_.state->RootCalls()[1], "SetApplication(0)");
}

TEST_F(RunTest, LibraryThatKnowsAnIdentityIsNotToldAgain) {
    tooltest::RegistryFile registry({kRow1First, kRow1Second});
    fake_.state->initialized_count = 1;
    Openable(song_);
    EXPECT_EQ(Run({U16(song_)}), 0);
    EXPECT_EQ(fake_.state->RootCalls()[0], "IsInitialized");
    EXPECT_NE(fake_.state->RootCalls()[1].rfind("SetApplication", 0), 0u);
    EXPECT_NE(fake_.state->RootCalls()[1], "Initialize");
}

TEST_F(RunTest, FailedIsInitializedOrTellingGivesExitOneBetweenBannerlessEos) {
    Openable(song_);
    fake_.state->is_initialized_result = E_FAIL;
    EXPECT_EQ(Run({U16(song_)}), 1);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_TRUE(fake_.state->opened.empty());

    fake_.state->is_initialized_result = S_OK;
    fake_.state->initialize_result = E_FAIL;
    fake_.state->set_application_result = E_FAIL;
    EXPECT_EQ(Run({U16(song_)}), 1);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_TRUE(fake_.state->opened.empty());
    EXPECT_TRUE(fake_.state->destroyed);
}

TEST_F(RunTest, IdentityOverrideReachesTheLibrary) {
    tooltest::RegistryFile registry({kRow1First, kRow1Second});
    Openable(song_);
    EXPECT_EQ(Run({U16(song_), u"--ApplicationId", u"0x129"}), 0);
    EXPECT_EQ(fake_.state->RootCalls()[1], "SetApplication(297,2,null,null)");
    fake_.state->log.clear();
    EXPECT_EQ(Run({U16(song_), u"--PluginRegistryKey", u"K"}), 0);
    EXPECT_EQ(fake_.state->RootCalls()[1], "SetApplication(0,2,null,null)");  // the detected 285 is dropped
}

TEST_F(RunTest, LastSourceThatOpensIsTheTargetAndIsListedAndClosed) {
    ComPtr<FakeMediaItem> first = Openable(song_);
    ComPtr<FakeMediaItem> second = Openable(other_);
    const ULONG first_refs = References(first.Get());
    const ULONG second_refs = References(second.Get());
    const std::filesystem::path missing = dir_ / "missing.oma";
    testsupport::WriteText(missing, "not a library file");
    EXPECT_EQ(Run({U16(song_), U16(other_), U16(missing)}), 0);

    // Tried from the last: the missing one fails, the other opens; song is untouched.
    EXPECT_EQ(fake_.state->opened, (std::vector<std::u16string>{U16(missing), U16(other_)}));
    EXPECT_EQ(second->loaded_path, U16(other_));
    EXPECT_EQ(second->loaded_mode, 2);
    EXPECT_EQ(second->close_count, 1);
    EXPECT_TRUE(first->calls.empty());
    EXPECT_EQ(References(first.Get()), first_refs);
    EXPECT_EQ(References(second.Get()), second_refs);
    EXPECT_EQ(fake_.state->live_contents, 0);

    const std::string expected_start =
        "TargetTrack=" + other_.string() + "\nTitle=Title of other.oma\nSortTitle=\n";
    EXPECT_EQ(output_.substr(0, expected_start.size()), expected_start);
    EXPECT_NE(
        output_.find("\nLyricsText=\nLyricsPicture=\nLinerNotesText=\nLinerNotesPicture=\nJacket=\nEOS.\n"),
        std::string::npos);
    EXPECT_EQ(std::count(output_.begin(), output_.end(), '\n'), 1 + 34 + 1);
}

TEST_F(RunTest, QuietSkipsTheListingButStillCloses) {
    ComPtr<FakeMediaItem> item = Openable(song_);
    EXPECT_EQ(Run({u"--Quiet", U16(song_)}), 0);
    EXPECT_EQ(output_, "TargetTrack=" + song_.string() + "\nEOS.\n");
    EXPECT_EQ(item->close_count, 1);
}

TEST_F(RunTest, FailedCloseFailsTheRunAfterTheListing) {
    // Close writes the changes: a save that fails there must not pass as success.
    ComPtr<FakeMediaItem> item = Openable(song_);
    item->close_result = E_ACCESSDENIED;
    EXPECT_EQ(Run({u"--Put", u"--Title", u"New", U16(song_)}), 1);
    EXPECT_NE(output_.find("\nTitle=New\n"), std::string::npos);  // listed before the close
    EXPECT_EQ(item->close_count, 1);
    EXPECT_EQ(Run({u"--Get", u"--Quiet", U16(song_)}), 1);

    item->close_result = S_OK;
    EXPECT_EQ(Run({u"--Put", u"--Title", u"New", U16(song_)}), 0);
}

// The default export names come from the target's own name: a target
// called song.info would be overwritten by its own info export, and a
// picture or text path may name the target or a base file.
TEST_F(RunTest, ExportsAreNeverWrittenOntoTheTargetOrABaseFile) {
    const std::filesystem::path target = dir_ / "song.info";
    testsupport::WriteText(target, "audio bytes");
    ComPtr<FakeMediaItem> item = Openable(target);
    ComPtr<FakeMediaItem> base = Openable(other_);
    EXPECT_EQ(Run({u"--GetAll", u"--ForceWrite", U16(target)}), 0);
    EXPECT_EQ(output_.find("InfoFile="), std::string::npos);
    EXPECT_EQ(testsupport::ReadBytes(target),
              std::vector<uint8_t>({'a', 'u', 'd', 'i', 'o', ' ', 'b', 'y', 't', 'e', 's'}));

    // Another spelling of the same file, and a base file, are caught too.
    const std::u16string spelled = U16(dir_ / "." / "song.info");
    EXPECT_EQ(Run({u"--Get", u"--ForceWrite", u"--Info", spelled, U16(target)}), 1);
    EXPECT_EQ(testsupport::ReadBytes(target).size(), 11u);
    const std::filesystem::path other_info = dir_ / "other.info";
    std::filesystem::rename(other_, other_info);
    ComPtr<FakeMediaItem> renamed_base = Openable(other_info);
    EXPECT_EQ(
        Run({u"--Put", u"--Quiet", u"--Base", U16(other_info), u"--Info", U16(other_info), U16(target)}), 0);
    EXPECT_EQ(renamed_base->close_count, 1);
    EXPECT_EQ(Run({u"--Get", u"--ForceWrite", u"--Info", U16(other_info), U16(target)}), 0);
    EXPECT_NE(output_.find("InfoFile="), std::string::npos) << "a base of an earlier run is free again";
}

TEST_F(RunTest, NothingOpensOrNothingGivenLeavesExitCodeAlone) {
    EXPECT_EQ(Run({u"--Put", U16(song_)}), 0);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_EQ(fake_.state->opened.size(), 1u);

    fake_.state->log.clear();
    EXPECT_EQ(Run({u"--Get", U16(dir_ / "absent.oma")}), 0);
    EXPECT_TRUE(fake_.state->RootCalls().empty());  // no source: the library is not even asked
}

TEST_F(RunTest, ItemThatFailsToLoadOrHasNoAttributesDoesNotOpen) {
    ComPtr<FakeMediaItem> broken = Openable(song_);
    broken->load_result = E_FAIL;
    const ULONG refs = References(broken.Get());
    EXPECT_EQ(Run({U16(song_)}), 0);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_EQ(References(broken.Get()), refs);

    ComPtr<FakeMediaItem> empty = FakeMediaItem::Make();
    fake_.state->items[U16(other_)] = empty;
    EXPECT_EQ(Run({U16(other_)}), 0);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_EQ(fake_.state->live_contents, 0);
}

TEST_F(RunTest, CreateNeedsNoTargetAndTellsNoIdentity) {
    Openable(song_);
    EXPECT_EQ(Run({u"--Create", U16(song_)}), 0);
    EXPECT_EQ(output_, "EOS.\n");
    EXPECT_TRUE(fake_.state->RootCalls().empty());
}

TEST_F(RunTest, HelpBeforeGetRunsNoCommand) {
    Openable(song_);
    EXPECT_EQ(Run({u"--Help", u"--Get", U16(song_)}), 0);
    EXPECT_TRUE(fake_.state->opened.empty());
    EXPECT_EQ(output_.substr(0, 12), "[--Version]\n");
    EXPECT_EQ(output_.substr(output_.size() - 22), "--MilliSecond 0~\nEOS.\n");
}

TEST_F(RunTest, ExitStopsButEosFollows) {
    Openable(song_);
    EXPECT_EQ(Run({u"--Exit", U16(song_)}), 0);
    EXPECT_EQ(output_, "EOS.\n");
}

TEST_F(RunTest, ConvertThatTheLibraryRefusesFailsWithoutAListing) {
    ComPtr<FakeMediaItem> item = Openable(song_);
    fake_.state->convert_result = E_NOTIMPL;
    EXPECT_EQ(Run({u"--Convert", U16(song_)}), 1);
    EXPECT_EQ(output_, "TargetTrack=" + song_.string() + "\nEOS.\n");
    EXPECT_EQ(item->close_count, 1);  // closed once its values were read
}

TEST(Identity, RegistryRowsFirstCompleteRowWins) {
    struct Case {
        std::vector<std::string> keys;
        LONG id;
        const char16_t* plugin_key;
    };
    const std::vector<Case> cases = {
        {{kRow1First, kRow1Second, kRow3First, kRow3Second},
         285,
         u"SOFTWARE\\Sony Corporation\\LISMO Port\\SonicStage\\Plugin\\PC"},
        {{kRow1First, kRow2First, kRow2Second}, 297, u"SOFTWARE\\Sony Corporation\\SonicStage V\\Plugin\\PC"},
        {{kRow3First, kRow3Second}, 259, u"SOFTWARE\\Sony Corporation\\SonicStage\\Plugin\\PC"},
        {{kRow4First, kRow4Second}, 1028, nullptr},
        {{kRow4Second, kRow3Second}, 0, nullptr},
        {{}, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        tooltest::RegistryFile registry(c.keys);
        const long open_keys = platform::OpenRegistryKeyCount();
        library::ApplicationIdentity identity;
        library::FillApplicationIdentity(identity);
        EXPECT_FALSE(identity.IsGiven);
        EXPECT_EQ(identity.Mode, 2);
        EXPECT_EQ(identity.Extra, nullptr);
        EXPECT_EQ(identity.ApplicationId, c.id);
        if (c.plugin_key) {
            ASSERT_NE(identity.PluginRegistryKey, nullptr);
            EXPECT_EQ(std::u16string(identity.PluginRegistryKey), c.plugin_key);
        } else {
            EXPECT_EQ(SysStringLen(identity.PluginRegistryKey), 0u);
        }
        EXPECT_EQ(platform::OpenRegistryKeyCount(), open_keys);
    }
}

class ProcessEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_ / "stdout.txt";
        handle_ = CreateFileW(U16(path_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        SetStdHandle(STD_OUTPUT_HANDLE, handle_);
    }
    void TearDown() override {
        platform::ResetStdHandles();
        quillet::SetConsoleOutputForTesting(nullptr, false);
        CloseHandle(handle_);
        platform::SetCoInitializeResultForTesting(S_OK);
    }
    std::string Output() {
        auto bytes = testsupport::ReadBytes(path_);
        return std::string(bytes.begin(), bytes.end());
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
    HANDLE handle_ = nullptr;
    testsupport::FakeMediaLibrary fake_;
};

constexpr const char* kBanner =
    "Quillet Version 111029.\nType \"--Version\" or \"--Help\" or \"--Exit\".\nEOS.\n";

TEST_F(ProcessEntryTest, BannerThenTheRunAndComIsBalanced) {
    const int com_before = platform::ComInitCount();
    EXPECT_EQ(quillet::ProcessEntry({u"Quillet", u"--Version"}), 0);
    EXPECT_EQ(Output(), std::string(kBanner) + "Quillet Version 111029.\nEOS.\n");
    EXPECT_EQ(platform::ComInitCount(), com_before);
    EXPECT_TRUE(fake_.state->destroyed);
}

TEST_F(ProcessEntryTest, ComFailureEndsAfterTheBannerWithExitOne) {
    platform::SetCoInitializeResultForTesting(E_UNEXPECTED);
    EXPECT_EQ(quillet::ProcessEntry({u"Quillet", u"--Version"}), 1);
    EXPECT_EQ(Output(), kBanner);
    EXPECT_TRUE(fake_.state->versions_tried.empty());
}

TEST_F(ProcessEntryTest, NoLibraryPrintsOnlyTheBanner) {
    fake_.state->accepted_version = 6;
    EXPECT_EQ(quillet::ProcessEntry({u"Quillet"}), 1);
    EXPECT_EQ(Output(), kBanner);
}

// The picture services start when a picture is first needed, not with the
// run: a run without pictures ends without having started them.
TEST_F(ProcessEntryTest, StartsThePictureServicesOnFirstUseOnly) {
    EXPECT_EQ(quillet::ProcessEntry({u"Quillet", u"--Exit"}), 0);
    EXPECT_FALSE(quillet::PictureServicesStarted());
    EXPECT_EQ(quillet::JpegEncoderClsid, CLSID{});

    ASSERT_TRUE(quillet::UsePictureServices());
    EXPECT_TRUE(quillet::PictureServicesStarted());
    EXPECT_NE(quillet::JpegEncoderClsid, CLSID{});
    EXPECT_TRUE(quillet::UsePictureServices()) << "a second use finds them running";
    quillet::EndPictureServices();
    EXPECT_FALSE(quillet::PictureServicesStarted());
    EXPECT_EQ(quillet::JpegEncoderClsid, CLSID{});
}

}  // namespace
