// The album-art extractor, editor and editor instance against a fake item in
// the class table: the art-slot table, the reading order of the two lists,
// the append and shift rules, MIME sniffing, and every failure path with its
// exact text and calls.
#include "plugin/tags/album_art.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "platform/com/apartment.h"
#include "plugin/host/settings.h"
#include "plugin_library.h"
#include "support/fake_media_library.h"

namespace {

using medialib::attr::Jacket;
using medialib::attr::JacketAlt;
using testsupport::FakeMediaItem;
using testsupport::FakeMediaPicture;

constexpr GUID kUnknownKind = platform::MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");

std::string Text(const album_art_data_ptr& data) {
    return std::string(static_cast<const char*>(data->get_ptr()), data->get_size());
}

album_art_data_ptr Data(const std::string& bytes) {
    return album_art_data_impl::g_create(bytes.data(), bytes.size());
}

platform::Variant PictureValue(const std::string& bytes, HRESULT get_data_result = S_OK) {
    ComPtr<FakeMediaPicture> picture =
        FakeMediaPicture::Make(FakeMediaPicture::Bytes(bytes.begin(), bytes.end()));
    picture->get_data_result = get_data_result;
    return platform::Variant::FromUnknown(picture.Get());
}

class AlbumArtTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // The root is process-wide: every test starts without one.
        fakes::ForgetProcessLibrary();
        EXPECT_EQ(platform::ComInitCount(), 0);
    }

    void Pictures(ULONG list, std::initializer_list<std::string> bytes) {
        FakeMediaItem::Values values;
        for (const std::string& b : bytes) values.push_back(PictureValue(b));
        item->Put(list, values);
    }
    // The list as the item holds it: each picture's bytes, "-" for another value.
    std::vector<std::string> List(ULONG list) {
        std::vector<std::string> out;
        if (!item->Has(list)) return out;
        for (const auto& value : item->ValuesOf(list)) {
            ComPtr<MediaPicture> picture;
            ULONG size = 0;
            BYTE* bytes = nullptr;
            if (value->vt != VT_UNKNOWN || !value->punkVal ||
                FAILED(
                    value->punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())) ||
                FAILED(picture->GetData(&size, &bytes))) {
                out.push_back("-");
                continue;
            }
            out.emplace_back(reinterpret_cast<char*>(bytes), size);
            CoTaskMemFree(bytes);
        }
        return out;
    }
    size_t Logged(const std::string& entry) const {
        return std::count(library.state->log.begin(), library.state->log.end(), entry);
    }

    album_art_extractor_instance_ptr Extract() { return extractor.open(file_ptr(), "/music/a.oma", abort); }
    album_art_editor_instance_ptr Edit() { return editor.open(file_ptr(), "file:///music/a.oma", abort); }

    template <typename Exception, typename Step>
    std::string Throws(Step&& step) {
        try {
            step();
        } catch (const Exception& e) {
            EXPECT_EQ(typeid(e), typeid(Exception));
            return e.what();
        }
        ADD_FAILURE() << "no exception";
        return "";
    }

    testsupport::FakeMediaLibrary library{fakes::PluginLibraryState()};
    ComPtr<FakeMediaItem> item = library.Openable(u"/music/a.oma");
    testsupport::FakePictureClass pictures;
    service_impl_single_t<album_art_extractor_oma> extractor;
    service_impl_single_t<album_art_editor_oma> editor;
    abort_callback_dummy abort;
};

TEST(SniffPictureMime, RecognisesTheFiveSignaturesOnlyWhenLongEnough) {
    struct Row {
        std::string bytes;
        const char16_t* mime;
    };
    const std::string png = "\x89PNG\r\n\x1a\n";
    const Row rows[] = {
        {png + "x", u"image/png"}, {png, nullptr},  // exactly eight bytes
        {"GIF89a", nullptr},       {"GIF89a!", u"image/gif"},
        {"GIF87a!", u"image/gif"}, {"GIF8?a!", u"image/gif"},  // the version digit is not looked at
        {"GIF89b!", nullptr},      {"\xFF\xD8\xFF", u"image/jpeg"},
        {"\xFF\xD8", nullptr},     {"BM!", u"image/bmp"},
        {"MM*", u"image/tiff"},    {"II*", u"image/tiff"},
        {"odd data", nullptr},     {"", nullptr},
    };
    for (const Row& row : rows) {
        LPCWSTR mime = SniffPictureMime(row.bytes.data(), row.bytes.size());
        if (!row.mime)
            EXPECT_EQ(mime, nullptr) << row.bytes;
        else
            EXPECT_EQ(std::u16string(mime ? mime : u""), row.mime) << row.bytes;
    }
    EXPECT_EQ(SniffPictureMime(nullptr, 20), nullptr);
}

TEST(ArtSlot, FollowsTheTableAndTakesUnknownIdsAsTheFrontCover) {
    EXPECT_EQ(ArtSlotOf(album_art_ids::cover_front), 0);
    EXPECT_EQ(ArtSlotOf(album_art_ids::cover_back), 1);
    EXPECT_EQ(ArtSlotOf(album_art_ids::disc), 2);
    EXPECT_EQ(ArtSlotOf(album_art_ids::icon), 3);
    EXPECT_EQ(ArtSlotOf(album_art_ids::artist), 4);
    EXPECT_EQ(ArtSlotOf(kUnknownKind), 0);
}

TEST_F(AlbumArtTest, IsOurPathClaimsTheInputsExtensions) {
    const auto both = [&](const char* ext) {
        const bool a = extractor.is_our_path("/x/y", ext);
        EXPECT_EQ(a, editor.is_our_path("/x/y", ext)) << ext;
        return a;
    };
    EXPECT_TRUE(both("OMA"));
    EXPECT_TRUE(both("omg"));
    EXPECT_TRUE(both("Kdr"));
    EXPECT_FALSE(both("aa3"));
    EXPECT_FALSE(both("3gp"));
    cfg_support_3gp.set(true);
    EXPECT_TRUE(both("3GP"));
    cfg_support_3gp.set(false);
}

TEST_F(AlbumArtTest, ExtractorTakesTheJacketListOverTheSecondList) {
    Pictures(JacketAlt, {"alt front", "alt back"});
    Pictures(Jacket, {"front"});
    auto instance = Extract();
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_front, abort)), "front");
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_back, abort)), "alt back");
    EXPECT_THROW(instance->query(album_art_ids::disc, abort), exception_album_art_not_found);
    const std::vector<std::string> expected = {"Load(1)", "Get(JacketAlt)", "Get(Jacket)", "Close"};
    EXPECT_EQ(item->Log(), expected);
    EXPECT_EQ(Logged("OpenContent(/music/a.oma)"), 1u);
    EXPECT_EQ(Logged("content QI item"), 1u);
}

TEST_F(AlbumArtTest, QueryTakesTheJacketListFirstAndUnknownIdsAsFront) {
    Pictures(JacketAlt, {"alt front", "alt back"});
    Pictures(Jacket, {"front"});
    auto instance = Edit();
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_front, abort)), "front");
    EXPECT_EQ(Text(instance->query(kUnknownKind, abort)), "front");
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_back, abort)), "alt back");
    EXPECT_EQ(Throws<exception_album_art_not_found>([&] { instance->query(album_art_ids::artist, abort); }),
              "Album Art Not Found");
    // Each query is a read cycle of its own.
    EXPECT_EQ(item->Entries("Load(1)").size(), 4u);
    EXPECT_EQ(item->Entries("Close").size(), 4u);
}

TEST_F(AlbumArtTest, NothingBeyondTheFifthPositionIsRead) {
    FakeMediaItem::Values values(5);  // five empty elements
    values.push_back(PictureValue("sixth"));
    item->Put(Jacket, values);
    EXPECT_EQ(Throws<exception_album_art_not_found>([&] { Extract(); }), "Album Art Not Found");
    auto instance = Edit();
    EXPECT_THROW(instance->query(album_art_ids::artist, abort), exception_album_art_not_found);
}

TEST_F(AlbumArtTest, EmptyOrUnreadablePicturesAreNotFound) {
    item->Put(Jacket, {PictureValue(""), PictureValue("back"), PictureValue("disc", E_FAIL)});
    auto instance = Extract();
    EXPECT_THROW(instance->query(album_art_ids::cover_front, abort), exception_album_art_not_found);
    EXPECT_THROW(instance->query(album_art_ids::disc, abort), exception_album_art_not_found);
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_back, abort)), "back");
}

TEST_F(AlbumArtTest, SetGivesPngItsMimeTypeAndEightBytesNone) {
    const std::string png = "\x89PNG\r\n\x1a\n";
    auto instance = Edit();
    instance->set(album_art_ids::cover_front, Data(png + "data"), abort);
    instance->set(album_art_ids::cover_front, Data(png), abort);
    instance->set(album_art_ids::cover_back, Data("GIF87a..."), abort);
    instance->set(album_art_ids::cover_back, Data("GIF89b..."), abort);
    // Four pictures made, two of them typed.
    EXPECT_EQ(pictures.log->data_sets.size(), 4u);
    EXPECT_EQ(pictures.log->mime_sets, (std::vector<std::u16string>{u"image/png", u"image/gif"}));
}

TEST_F(AlbumArtTest, SetAppendsBeyondTheEndAndReplacesWithin) {
    auto instance = Edit();
    // An icon on a file without pictures takes the first position: the front cover.
    instance->set(album_art_ids::icon, Data("icon"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"icon"}));
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_front, abort)), "icon");
    instance->set(album_art_ids::cover_back, Data("back"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"icon", "back"}));
    instance->set(album_art_ids::cover_front, Data("front"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"front", "back"}));
    EXPECT_FALSE(item->Has(JacketAlt));
    // A write cycle per call, and the file written each time.
    EXPECT_EQ(item->Entries("Load(2)").size(), 3u);
    EXPECT_EQ(item->Entries("Close").size(), 4u);
}

TEST_F(AlbumArtTest, SetAlsoFillsAnExistingSecondList) {
    Pictures(JacketAlt, {"alt front"});
    Pictures(Jacket, {"front"});
    Edit()->set(album_art_ids::cover_back, Data("back"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"front", "back"}));
    EXPECT_EQ(List(JacketAlt), (std::vector<std::string>{"alt front", "back"}));
    // The second list's write is a bonus: its failure is not reported.
    item->set_failures[JacketAlt] = E_FAIL;
    Edit()->set(album_art_ids::disc, Data("disc"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"front", "back", "disc"}));
    EXPECT_EQ(List(JacketAlt), (std::vector<std::string>{"alt front", "back"}));
}

TEST_F(AlbumArtTest, BackCoverOnAnEmptyListIsStoredAtTheFirstPosition) {
    item->empty_successes.insert(Jacket);  // read succeeds with no values
    Edit()->set(album_art_ids::cover_back, Data("back"), abort);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"back"}));
    EXPECT_EQ(item->Entries("Set("), (std::vector<std::string>{"Set(Jacket [UNKNOWN])"}));
}

TEST_F(AlbumArtTest, SetFallsBackToTheSecondListWhenTheJacketListIsRefused) {
    Pictures(Jacket, {"front"});
    item->set_failures[Jacket] = E_FAIL;
    Edit()->set(album_art_ids::disc, Data("disc"), abort);
    // The second list starts as a copy of the jacket list, then takes the picture.
    EXPECT_EQ(List(JacketAlt), (std::vector<std::string>{"front", "disc"}));
    EXPECT_EQ(item->Entries("Set(JacketAlt").front(), "Set(JacketAlt [UNKNOWN])");
}

TEST_F(AlbumArtTest, SetFailuresThrowUnsupportedEntryAndCloseWhatWasLoaded) {
    const std::string kText = "Unsupported Album Art Entry";
    auto instance = Edit();

    item->set_failures = {{Jacket, E_FAIL}, {JacketAlt, E_FAIL}};
    EXPECT_EQ(Throws<exception_album_art_unsupported_entry>(
                  [&] { instance->set(album_art_ids::cover_front, Data("x"), abort); }),
              kText);
    EXPECT_EQ(item->Log().back(), "Close");
    item->set_failures.clear();

    pictures.create_result = REGDB_E_CLASSNOTREG;
    item->calls.clear();
    EXPECT_EQ(Throws<exception_album_art_unsupported_entry>(
                  [&] { instance->set(album_art_ids::cover_front, Data("x"), abort); }),
              kText);
    EXPECT_EQ(item->Log(), (std::vector<std::string>{"Load(2)", "Close"}));
    pictures.create_result = S_OK;

    pictures.set_data_result = E_OUTOFMEMORY;
    item->calls.clear();
    EXPECT_THROW(instance->set(album_art_ids::cover_front, Data("x"), abort),
                 exception_album_art_unsupported_entry);
    EXPECT_EQ(item->Log(), (std::vector<std::string>{"Load(2)", "Close"}));
    pictures.set_data_result = S_OK;

    item->load_result = E_FAIL;
    item->calls.clear();
    EXPECT_THROW(instance->set(album_art_ids::cover_front, Data("x"), abort),
                 exception_album_art_unsupported_entry);
    EXPECT_EQ(item->Log(), (std::vector<std::string>{"Load(2)"}));
    item->load_result = S_OK;

    // A file that could not be written (Close fails) is no stored picture.
    item->close_result = E_ACCESSDENIED;
    EXPECT_THROW(instance->set(album_art_ids::cover_front, Data("x"), abort),
                 exception_album_art_unsupported_entry);
    item->close_result = S_OK;

    // No bytes: refused before the file is loaded.
    item->calls.clear();
    EXPECT_THROW(instance->set(album_art_ids::cover_front, Data(""), abort),
                 exception_album_art_unsupported_entry);
    EXPECT_THROW(instance->set(album_art_ids::cover_front, album_art_data_ptr(), abort),
                 exception_album_art_unsupported_entry);
    EXPECT_TRUE(item->Log().empty());
}

TEST_F(AlbumArtTest, RemoveShiftsTheLaterKindsOfBothLists) {
    Pictures(Jacket, {"front", "back", "disc"});
    Pictures(JacketAlt, {"alt front", "alt back"});
    auto instance = Edit();
    instance->remove(album_art_ids::cover_back);
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"front", "disc"}));
    EXPECT_EQ(List(JacketAlt), (std::vector<std::string>{"alt front"}));
    EXPECT_EQ(Text(instance->query(album_art_ids::cover_back, abort)), "disc");
    instance->commit(abort);
}

TEST_F(AlbumArtTest, RemovingBeyondTheListChangesNothingAndTheLastPictureRemovesTheList) {
    Pictures(Jacket, {"front"});
    auto instance = Edit();
    instance->remove(album_art_ids::disc);
    EXPECT_TRUE(item->Entries("Set(").empty());
    instance->remove(album_art_ids::cover_front);
    EXPECT_EQ(item->Entries("Set("), (std::vector<std::string>{"Set(Jacket [])"}));
    EXPECT_FALSE(item->Has(Jacket));
}

TEST_F(AlbumArtTest, RemoveIsSilentWhenTheItemCannotBeLoadedForWriting) {
    Pictures(Jacket, {"front"});
    auto instance = Edit();
    item->load_result = E_ACCESSDENIED;
    instance->remove(album_art_ids::cover_front);
    EXPECT_EQ(item->Log(), (std::vector<std::string>{"Load(2)"}));
    EXPECT_EQ(List(Jacket), (std::vector<std::string>{"front"}));
}

TEST_F(AlbumArtTest, OpenFailuresGiveEachServiceItsOwnText) {
    const auto expect_both = [&](const char* why) {
        EXPECT_EQ(Throws<exception_album_art_not_found>([&] { Extract(); }), "Album Art Not Found") << why;
        EXPECT_EQ(Throws<exception_album_art_unsupported_entry>([&] { Edit(); }),
                  "Unsupported Album Art Entry")
            << why;
        EXPECT_EQ(platform::ComInitCount(), 0) << why;
    };
    library.state->available = false;
    expect_both("no library");
    library.state->available = true;
    library.state->open_result = E_FAIL;
    expect_both("file not opened");
    library.state->open_result = S_OK;
    library.state->content_answers_item = false;
    expect_both("no item");
    library.state->content_answers_item = true;
    EXPECT_THROW(extractor.open(file_ptr(), nullptr, abort), exception_album_art_not_found);
    EXPECT_THROW(editor.open(file_ptr(), "/music/\xFF.oma", abort), exception_album_art_unsupported_entry);
    // A file without pictures, and one that cannot be loaded.
    EXPECT_THROW(Extract(), exception_album_art_not_found);
    item->load_result = E_FAIL;
    EXPECT_THROW(Extract(), exception_album_art_not_found);
    EXPECT_THROW(Edit()->query(album_art_ids::cover_front, abort), exception_album_art_not_found);
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(AlbumArtTest, EditorOpenLoadsNothingAndTheInstanceKeepsCom) {
    auto instance = Edit();
    EXPECT_TRUE(item->Log().empty());
    EXPECT_EQ(Logged("OpenContent(/music/a.oma)"), 1u);
    EXPECT_EQ(platform::ComInitCount(), 1);
    instance.release();
    EXPECT_EQ(platform::ComInitCount(), 0);
}

}  // namespace
