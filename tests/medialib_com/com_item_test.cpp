#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "com_fixture.h"
#include "library/media_ids.h"
#include "medialib/com/classes.h"
#include "medialib/openmg/openmg_file.h"
#include "platform/kernel/modules.h"

namespace {

using comtest::MediaLibraryModule;
using comtest::Values;
namespace attr = medialib::attr;

const char* const kSamples[] = {
    "pronom_03-Untitled-3_atrac3plus.oma",           "pronom_02-Untitled-2_aal_atrac3.oma",
    "atracdencU_test_atrac3_132k_noid3.oma",         "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma",
    "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3", "pronom_02-Untitled-2_openmg_legacy.omg",
};

TEST_F(MediaLibraryModule, RootAnswersIdentityCalls) {
    LONG count = -1;
    ASSERT_EQ(root_->IsInitialized(&count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(root_->SetApplication(297, 2, nullptr, nullptr), S_OK);
    ASSERT_EQ(root_->IsInitialized(&count), S_OK);
    EXPECT_EQ(count, 1);
    CLSID item_class{};
    EXPECT_LT(root_->GetItemClass(12345, &item_class), 0);
    EXPECT_EQ(item_class, GUID_NULL);
}

TEST_F(MediaLibraryModule, EveryRealSampleOpensWithItsTechnicalValues) {
    for (const char* name : kSamples) {
        SCOPED_TRACE(name);
        CQ_REQUIRE_SAMPLE(path, name);
        ComPtr<MediaItem> item = Open(path, kMediaItemRead);
        ASSERT_TRUE(item);
        LONG count = 0;
        ASSERT_EQ(item->GetAttributeCount(&count), S_OK);
        EXPECT_GE(count, 4);
        // Every listed attribute can be read back by id with its values.
        for (LONG i = 0; i < count; ++i) {
            ULONG id = 0;
            Values at, by_id;
            ASSERT_EQ(item->GetAttributeAt(i, &id, at.CountSlot(), at.ArraySlot()), S_OK);
            Get(item.Get(), id, &by_id);
            ASSERT_EQ(by_id.hr, S_OK);
            EXPECT_EQ(at.Count(), by_id.Count());
            EXPECT_EQ(at.Text(), by_id.Text());
        }
        Values size, location, extension, format;
        Get(item.Get(), attr::Size, &size);
        Get(item.Get(), attr::Location, &location);
        Get(item.Get(), attr::Extension, &extension);
        Get(item.Get(), attr::Format, &format);
        EXPECT_EQ(size.Text(), platform::Utf8ToUtf16(std::to_string(std::filesystem::file_size(path))));
        EXPECT_EQ(location.Text(), comtest::Wide(path));
        EXPECT_EQ(extension.Text(), comtest::Wide(path.extension()));
        EXPECT_EQ(format.hr, S_OK);
        EXPECT_EQ(item->Close(), S_OK);
    }
}

TEST_F(MediaLibraryModule, UnknownDamagedOrMissingFilesFailCleanly) {
    testsupport::ScopedTempDir dir;
    testsupport::WriteText(dir / "notes.oma", "this is not audio at all");
    testsupport::WriteBytes(dir / "empty.oma", {});
    for (const char* name : {"notes.oma", "empty.oma", "missing.oma"}) {
        std::u16string p = comtest::Wide(dir / name);
        ComPtr<MediaContent> content;
        LONG format = 7, status = 0;
        EXPECT_LT(root_->OpenContent(p.c_str(), IID_MediaContent, content.ReleaseAndGetVoidAddress(), &format,
                                     &status),
                  0)
            << name;
        EXPECT_FALSE(content);
        EXPECT_EQ(format, 0);
    }
    ComPtr<MediaItem> item;
    ASSERT_EQ(CoCreateInstance(medialib::CLSID_MediaItem, nullptr, CLSCTX_INPROC_SERVER, IID_MediaItem,
                               item.ReleaseAndGetVoidAddress()),
              S_OK);
    std::u16string p = comtest::Wide(dir / "notes.oma");
    EXPECT_LT(item->Load(p.c_str(), kMediaItemWrite), 0);
    Values none;
    Get(item.Get(), attr::Title, &none);
    EXPECT_LT(none.hr, 0) << "nothing loaded";
    EXPECT_EQ(none.Array(), nullptr);
}

class DemoFile : public MediaLibraryModule {
  protected:
    void SetUp() override {
        MediaLibraryModule::SetUp();
        path_ = dir_ / "tone.oma";
        ASSERT_TRUE(medialib::openmg::WriteDemoOma(path_, 1.0));
    }
    // The content object of the demo file, opened through the root (null on failure).
    ComPtr<MediaContent> OpenDemoContent() {
        const std::u16string p = comtest::Wide(path_);
        ComPtr<MediaContent> content;
        LONG format = 0, status = 0;
        EXPECT_EQ(root_->OpenContent(p.c_str(), IID_MediaContent, content.ReleaseAndGetVoidAddress(), &format,
                                     &status),
                  S_OK);
        return content;
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
};

TEST_F(DemoFile, TagChangesAreWrittenAtCloseAndReadBack) {
    const auto audio_before = testsupport::ReadBytes(path_);
    {
        ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
        ASSERT_TRUE(item);
        EXPECT_EQ(SetText(item.Get(), attr::Title, u"Ünïcode title"), S_OK);
        EXPECT_EQ(SetText(item.Get(), attr::TrackNumber, u"7"), S_OK) << "text converts to the number kept";
        platform::Variant date = platform::Variant::FromDate(36526.0);
        EXPECT_EQ(item->SetAttribute(attr::Release, 1, date.Get()), S_OK);
        VARIANT two[2];
        VariantInit(&two[0]);
        VariantInit(&two[1]);
        two[0].vt = two[1].vt = VT_BSTR;
        two[0].bstrVal = SysAllocString(u"Rock");
        two[1].bstrVal = SysAllocString(u"Pop");
        EXPECT_EQ(item->SetAttribute(attr::Genre, 2, two), S_OK);
        VariantClear(&two[0]);
        VariantClear(&two[1]);
        EXPECT_LT(SetText(item.Get(), attr::TrackNumber, u"seven"), 0)
            << "a value that does not convert is refused";
        EXPECT_LT(SetText(item.Get(), attr::Size, u"1"), 0) << "technical values are not writable";
        ASSERT_EQ(item->Close(), S_OK);
    }
    ComPtr<MediaItem> item = Open(path_, kMediaItemRead);
    ASSERT_TRUE(item);
    Values title, track, release, genre;
    Get(item.Get(), attr::Title, &title);
    Get(item.Get(), attr::TrackNumber, &track);
    Get(item.Get(), attr::Release, &release);
    Get(item.Get(), attr::Genre, &genre);
    EXPECT_EQ(title.Text(), u"Ünïcode title");
    ASSERT_EQ(track.Count(), 1);
    EXPECT_EQ(track.Array()[0].vt, VT_I4);
    EXPECT_EQ(track.Array()[0].lVal, 7);
    ASSERT_EQ(release.Count(), 1);
    EXPECT_EQ(release.Array()[0].vt, VT_DATE);
    EXPECT_EQ(release.Text(), u"2000/01/01");
    // OpenMG text frames hold one value each: the first of a list is kept.
    ASSERT_EQ(genre.Count(), 1);
    EXPECT_EQ(genre.Text(0), u"Rock");
    EXPECT_LT(SetText(item.Get(), attr::Title, u"x"), 0) << "an item loaded for reading refuses changes";
    item->Close();

    // The audio after the tag is untouched: the old file's payload is the new file's tail.
    const auto after = testsupport::ReadBytes(path_);
    const size_t payload = 96 + 1;  // at least the EA3 header and some audio
    ASSERT_GT(audio_before.size(), payload);
    EXPECT_TRUE(std::equal(audio_before.end() - static_cast<long>(audio_before.size() / 2),
                           audio_before.end(), after.end() - static_cast<long>(audio_before.size() / 2)));
}

TEST_F(DemoFile, RemovalAndUnchangedCloseLeaveTheRightBytes) {
    {
        ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
        ASSERT_EQ(SetText(item.Get(), attr::Artist, u"Someone"), S_OK);
        ASSERT_EQ(item->Close(), S_OK);
    }
    const auto with_artist = testsupport::ReadBytes(path_);
    {
        ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
        ASSERT_EQ(SetText(item.Get(), attr::Artist, u"Someone"), S_OK) << "the same value again";
        ASSERT_EQ(item->Close(), S_OK);
    }
    EXPECT_EQ(testsupport::ReadBytes(path_), with_artist) << "nothing changed, nothing written";
    {
        ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
        ASSERT_EQ(item->SetAttribute(attr::Artist, 0, nullptr), S_OK);
        ASSERT_EQ(item->Close(), S_OK);
    }
    ComPtr<MediaItem> item = Open(path_, kMediaItemRead);
    Values artist;
    Get(item.Get(), attr::Artist, &artist);
    EXPECT_LT(artist.hr, 0);
    EXPECT_EQ(artist.Count(), 0);
}

TEST_F(MediaLibraryModule, ProtectedLegacyPackageIsReadOnly) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_openmg_legacy.omg");
    testsupport::ScopedTempDir dir;
    std::filesystem::copy_file(path, dir / "legacy.omg");
    std::filesystem::permissions(dir / "legacy.omg", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);  // samples are read-only
    const auto before = testsupport::ReadBytes(dir / "legacy.omg");
    ComPtr<MediaItem> item = Open(dir / "legacy.omg", kMediaItemWrite);
    ASSERT_TRUE(item);
    EXPECT_LT(SetText(item.Get(), attr::Title, u"x"), 0);
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_EQ(testsupport::ReadBytes(dir / "legacy.omg"), before);
}

}  // namespace

namespace {

TEST_F(DemoFile, ContentCarriesTheItemOfItsFile) {
    std::u16string p = comtest::Wide(path_);
    ComPtr<MediaContent> content;
    LONG format = 0, status = 0;
    ASSERT_EQ(
        root_->OpenContent(p.c_str(), IID_MediaContent, content.ReleaseAndGetVoidAddress(), &format, &status),
        S_OK);
    EXPECT_EQ(format, 9) << "a plain OMA file";
    ComPtr<MediaItem> item = content.As<MediaItem>();
    ASSERT_TRUE(item);
    LONG count = 0;
    EXPECT_LT(item->GetAttributeCount(&count), 0) << "not loaded until its caller loads it";
    ASSERT_EQ(item->Load(p.c_str(), kMediaItemRead), S_OK);
    Values title;
    Get(item.Get(), attr::Title, &title);
    EXPECT_LT(title.hr, 0) << "the demo file has no title";
    Values format_value;
    Get(item.Get(), attr::Format, &format_value);
    EXPECT_EQ(format_value.Text(), u"9");
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_EQ(item->Close(), S_FALSE) << "closing twice is harmless";
    ComPtr<MediaContent> back = item.As<MediaContent>();
    EXPECT_EQ(back.Get(), content.Get());
}

// The module's count of file parses by content objects and items.
uint64_t ModuleParses() {
    const std::u16string module = comtest::Wide(testsupport::BinDir() / "medialib.so");
    HMODULE handle = LoadLibraryW(module.c_str());  // the loaded module, one more reference
    auto* count =
        reinterpret_cast<uint64_t (*)()>(handle ? GetProcAddress(handle, "MedialibParseCount") : nullptr);
    const uint64_t value = count ? count() : ~uint64_t{0};
    if (handle) FreeLibrary(handle);
    return value;
}

// File times move in ticks of a coarse clock; the engine keeps no parse of a
// file changed in the tick it opens it in. Waits for that tick to pass.
void WaitPastChange(const std::filesystem::path& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    for (;;) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (now.tv_sec > st.st_ctim.tv_sec ||
            (now.tv_sec == st.st_ctim.tv_sec && now.tv_nsec > st.st_ctim.tv_nsec))
            return;
        ::usleep(1000);
    }
}

TEST_F(DemoFile, ContentAndItsItemParseTheFileOnce) {
    WaitPastChange(path_);
    const uint64_t before = ModuleParses();
    ASSERT_NE(before, ~uint64_t{0}) << "the module counts its parses";
    const std::u16string p = comtest::Wide(path_);
    ComPtr<MediaContent> content = OpenDemoContent();
    ASSERT_TRUE(content);
    ComPtr<MediaItem> item = content.As<MediaItem>();
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Load(p.c_str(), kMediaItemRead), S_OK);
    EXPECT_EQ(ModuleParses() - before, 1u);
    Values format_value;
    Get(item.Get(), attr::Format, &format_value);
    EXPECT_EQ(format_value.Text(), u"9");
    EXPECT_EQ(item->Close(), S_OK);
    // A second load parses again: the parse went to the first.
    ASSERT_EQ(item->Load(p.c_str(), kMediaItemRead), S_OK);
    EXPECT_EQ(ModuleParses() - before, 2u);
    EXPECT_EQ(item->Close(), S_OK);
}

TEST_F(DemoFile, AFileChangedAfterTheContentOpenedIsParsedAgain) {
    WaitPastChange(path_);
    const std::u16string p = comtest::Wide(path_);
    ComPtr<MediaContent> content = OpenDemoContent();
    ASSERT_TRUE(content);
    const uint64_t before = ModuleParses();
    // Same size, a new modification time.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
    ComPtr<MediaItem> item = content.As<MediaItem>();
    ASSERT_EQ(item->Load(p.c_str(), kMediaItemRead), S_OK);
    EXPECT_EQ(ModuleParses() - before, 1u);
    EXPECT_EQ(item->Close(), S_OK);
}

TEST_F(DemoFile, AnItemLoadedAfterASaveSeesTheSavedTags) {
    WaitPastChange(path_);
    const std::u16string p = comtest::Wide(path_);
    ComPtr<MediaContent> content = OpenDemoContent();
    ASSERT_TRUE(content);
    // Another content object of the same file writes a title.
    ComPtr<MediaItem> writer = Open(path_, kMediaItemWrite);
    ASSERT_TRUE(writer);
    ASSERT_EQ(SetText(writer.Get(), attr::Title, u"Saved"), S_OK);
    ASSERT_EQ(writer->Close(), S_OK);
    // The first content's item sees the file as it is now.
    ComPtr<MediaItem> item = content.As<MediaItem>();
    ASSERT_EQ(item->Load(p.c_str(), kMediaItemRead), S_OK);
    Values title;
    Get(item.Get(), attr::Title, &title);
    EXPECT_EQ(title.Text(), u"Saved");
    EXPECT_EQ(item->Close(), S_OK);
}

}  // namespace
