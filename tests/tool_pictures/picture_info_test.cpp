// The picture facts that the attribute listing prints: where they are read
// from, what counts as a picture, and that every value array is freed.
#include "tool/pictures/picture_info.h"

#include <gtest/gtest.h>

#include "library/media_ids.h"
#include "picture_helpers.h"
#include "platform_imaging/test_pictures.h"
#include "support/fake_media_library.h"
#include "tool/tags/attribute_list.h"

namespace attr = medialib::attr;

namespace {

using picturetest::Bytes;
using picturetest::PictureLog;
using platform::Variant;
using testsupport::FakeMediaItem;

Bytes Png(uint32_t w, uint32_t h) {
    return imaging_test::MakePng(w, h, [](uint32_t, uint32_t) { return 0xFF336699u; });
}

struct Info {
    bool ok = false;
    std::u16string extension = u"stale";
    UINT width = 99;
    UINT height = 99;
};

Info Read(MediaItem* item, ULONG id, ULONG second_id) {
    Info info;
    info.ok = quillet::ReadPictureInfo(item, id, second_id, &info.extension, &info.width, &info.height);
    return info;
}

class PictureInfoTest : public ::testing::Test {
  protected:
    Variant PictureValue(Bytes bytes, std::u16string mime = u"") {
        auto picture = picturetest::NewRecordingPicture(log_, std::move(bytes), std::move(mime));
        return Variant::FromUnknown(picture.Get());
    }
    ComPtr<FakeMediaItem> item_ = FakeMediaItem::Make();
    std::shared_ptr<PictureLog> log_ = std::make_shared<PictureLog>();
};

TEST_F(PictureInfoTest, GivesTheExtensionAndSizeOfTheFirstPicture) {
    const auto pixel = [](uint32_t, uint32_t) { return 0xFF000000u; };
    item_->Put(attr::Jacket,
               {PictureValue(Png(300, 200)), PictureValue(imaging_test::MakeJpeg(10, 10, pixel))});
    Info info = Read(item_.Get(), attr::Jacket, attr::JacketAlt);
    EXPECT_TRUE(info.ok);
    EXPECT_EQ(info.extension, u".png");
    EXPECT_EQ(info.width, 300u);
    EXPECT_EQ(info.height, 200u);

    // The label on the object plays no part: the bytes tell.
    item_->Put(attr::LyricsPicture,
               {PictureValue(imaging_test::ToExif(imaging_test::MakeJpeg(64, 32, pixel)), u"image/png")});
    info = Read(item_.Get(), attr::LyricsPicture, 0);
    EXPECT_TRUE(info.ok);
    EXPECT_EQ(info.extension, u".jpg");
    EXPECT_EQ(info.width, 64u);
    EXPECT_EQ(info.height, 32u);
}

TEST_F(PictureInfoTest, TheSecondIdIsReadOnlyWhenTheFirstGivesNoValue) {
    item_->Put(attr::JacketAlt, {PictureValue(Png(40, 30))});
    Info info = Read(item_.Get(), attr::Jacket, attr::JacketAlt);
    EXPECT_TRUE(info.ok);
    EXPECT_EQ(info.width, 40u);

    item_->Put(attr::Jacket, {});  // present without values
    info = Read(item_.Get(), attr::Jacket, attr::JacketAlt);
    EXPECT_TRUE(info.ok);
    EXPECT_EQ(info.height, 30u);

    item_->get_failures[attr::Jacket] = E_FAIL;
    EXPECT_TRUE(Read(item_.Get(), attr::Jacket, attr::JacketAlt).ok);
    EXPECT_FALSE(Read(item_.Get(), attr::Jacket, 0).ok) << "no second id, no second read";

    // A first id with a value that is no picture does not fall back.
    item_->get_failures.clear();
    item_->PutText(attr::Jacket, u"not a picture");
    EXPECT_FALSE(Read(item_.Get(), attr::Jacket, attr::JacketAlt).ok);
}

TEST_F(PictureInfoTest, ValuesThatAreNoDecodablePictureGiveClearedOutputs) {
    const auto pixel = [](uint32_t, uint32_t) { return 0xFF000000u; };
    // An object that is not a MediaPicture.
    auto other = FakeMediaItem::Make();
    const std::string text = "words";
    const std::vector<std::pair<const char*, Variant>> values = {
        {"text value", Variant::FromString(u"cover.jpg")},
        {"number value", Variant::FromInt(7)},
        {"object of another kind", Variant::FromUnknown(other.Get())},
        {"text object", PictureValue(Bytes(text.begin(), text.end()), u"text/plain")},
        {"icon", PictureValue(imaging_test::MakeIco(16, 16, pixel, true), u"image/png")},
        {"empty picture", PictureValue({}, u"image/png")},
    };
    for (const auto& [what, value] : values) {
        SCOPED_TRACE(what);
        item_->Put(attr::Jacket, {value});
        const Info info = Read(item_.Get(), attr::Jacket, attr::JacketAlt);
        EXPECT_FALSE(info.ok);
        EXPECT_EQ(info.extension, u"");
        EXPECT_EQ(info.width, 0u);
        EXPECT_EQ(info.height, 0u);
    }
    EXPECT_FALSE(Read(item_.Get(), attr::LinerNotesPicture, 0).ok) << "no attribute at all";
    EXPECT_FALSE(quillet::ReadPictureInfo(nullptr, attr::Jacket, 0, nullptr, nullptr, nullptr));
}

TEST_F(PictureInfoTest, EveryValueArrayIsFreedAndTheListingShowsTheRow) {
    auto picture = picturetest::NewRecordingPicture(log_, Png(12, 34), u"image/png");
    item_->Put(attr::Jacket, {Variant::FromUnknown(picture.Get())});
    item_->Put(attr::LinerNotesPicture, {Variant::FromUnknown(picture.Get())});
    picture->AddRef();
    const ULONG baseline = picture->Release();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Read(item_.Get(), attr::Jacket, attr::JacketAlt).ok);

    quillet::NameValueList list;
    quillet::ReadAttributeList(item_.Get(), list);
    ASSERT_TRUE(list.Find(u"Jacket"));
    EXPECT_EQ(list.Current()->value, u".png/12/34");
    ASSERT_TRUE(list.Find(u"LinerNotesPicture"));
    EXPECT_EQ(list.Current()->value, u".png/12/34");
    ASSERT_TRUE(list.Find(u"LyricsPicture"));
    EXPECT_EQ(list.Current()->value, u"");

    picture->AddRef();
    EXPECT_EQ(picture->Release(), baseline) << "no reference kept from any read";
}

}  // namespace
