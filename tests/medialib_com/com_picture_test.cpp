#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "com_fixture.h"
#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"

namespace {

using comtest::MediaLibraryModule;
using comtest::Values;
namespace attr = medialib::attr;

const std::vector<uint8_t> kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4};
const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 9, 8, 7};

ComPtr<MediaPicture> NewPicture(const std::vector<uint8_t>& bytes, std::u16string_view mime) {
    ComPtr<MediaPicture> picture;
    EXPECT_EQ(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                               picture.ReleaseAndGetVoidAddress()),
              S_OK);
    if (!picture) return {};
    EXPECT_EQ(picture->SetData(static_cast<ULONG>(bytes.size()), bytes.data()), S_OK);
    platform::Variant m = platform::Variant::FromString(mime);
    EXPECT_EQ(picture->SetProperty(medialib::attr::PictureMime, m.Get()), S_OK);
    return picture;
}

std::vector<uint8_t> DataOf(IUnknown* object) {
    ComPtr<MediaPicture> picture;
    if (!object || FAILED(object->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())))
        return {};
    ULONG size = 0;
    BYTE* data = nullptr;
    if (FAILED(picture->GetData(&size, &data))) return {};
    std::vector<uint8_t> out(data, data + size);
    CoTaskMemFree(data);
    return out;
}

TEST_F(MediaLibraryModule, PictureKeepsBytesAndTypeAndSavesThemExactly) {
    ComPtr<MediaPicture> picture = NewPicture(kJpeg, u"image/jpeg");
    ASSERT_TRUE(picture);
    platform::Variant mime;
    ASSERT_EQ(picture->GetProperty(medialib::attr::PictureMime, mime.Get()), S_OK);
    EXPECT_EQ(platform::BstrView(mime->bstrVal), u"image/jpeg");
    EXPECT_LT(picture->GetProperty(medialib::attr::PictureMime + 1, mime.Get()), 0);

    testsupport::ScopedTempDir dir;
    std::u16string path = comtest::Wide(dir / "cover.jpg");
    ASSERT_EQ(picture->Save(path.c_str()), S_OK);
    EXPECT_EQ(testsupport::ReadBytes(dir / "cover.jpg"), kJpeg);

    testsupport::WriteBytes(dir / "other.bin", kPng);
    std::u16string other = comtest::Wide(dir / "other.bin");
    ASSERT_EQ(picture->Load(other.c_str()), S_OK);
    ASSERT_EQ(picture->GetProperty(medialib::attr::PictureMime, mime.Get()), S_OK);
    EXPECT_EQ(platform::BstrView(mime->bstrVal), u"image/png") << "the type follows the loaded content";
    EXPECT_EQ(DataOf(picture.Get()), kPng);

    std::u16string missing = comtest::Wide(dir / "missing.png");
    EXPECT_LT(picture->Load(missing.c_str()), 0);
    std::u16string into_missing_folder = comtest::Wide(dir / "no" / "such" / "x.jpg");
    EXPECT_LT(picture->Save(into_missing_folder.c_str()), 0);
}

// Runs in a death-test child: exits 0 when Save reported the failure that a
// file-size limit (standing in for a full disk) causes part-way through.
void SaveWithFileSizeLimit(MediaPicture* picture, const std::u16string& path) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::_Exit(picture->Save(path.c_str()) == S_OK ? 1 : 0);
}

TEST_F(MediaLibraryModule, PictureSaveThatCannotFinishLeavesNoFileAndKeepsTheOldOne) {
    std::vector<uint8_t> large(kJpeg);
    large.resize(64 * 1024, 0x5A);
    ComPtr<MediaPicture> picture = NewPicture(large, u"image/jpeg");
    ASSERT_TRUE(picture);
    testsupport::ScopedTempDir dir;
    testsupport::WriteBytes(dir / "old.jpg", kJpeg);

    EXPECT_EXIT(SaveWithFileSizeLimit(picture.Get(), comtest::Wide(dir / "old.jpg")),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(testsupport::ReadBytes(dir / "old.jpg"), kJpeg);
    EXPECT_EXIT(SaveWithFileSizeLimit(picture.Get(), comtest::Wide(dir / "new.jpg")),
                ::testing::ExitedWithCode(0), "");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << "neither the new picture nor a temporary file is left";

    ASSERT_EQ(picture->Save(comtest::Wide(dir / "old.jpg").c_str()), S_OK);
    EXPECT_EQ(testsupport::ReadBytes(dir / "old.jpg"), large);
}

class JacketLists : public MediaLibraryModule {
  protected:
    void SetUp() override {
        MediaLibraryModule::SetUp();
        path_ = dir_ / "tone.oma";
        ASSERT_TRUE(medialib::openmg::WriteDemoOma(path_, 0.5));
    }
    void SetPictures(ULONG id, const std::vector<ComPtr<MediaPicture>>& pictures) {
        ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
        ASSERT_TRUE(item);
        std::vector<VARIANT> values(pictures.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            VariantInit(&values[i]);
            values[i].vt = VT_UNKNOWN;
            values[i].punkVal = pictures[i].Get();
        }
        EXPECT_EQ(item->SetAttribute(id, static_cast<LONG>(values.size()),
                                     values.empty() ? nullptr : values.data()),
                  S_OK);
        EXPECT_EQ(item->Close(), S_OK);
    }
    std::vector<std::vector<uint8_t>> ReadPictures(ULONG id) {
        ComPtr<MediaItem> item = Open(path_, kMediaItemRead);
        Values v;
        Get(item.Get(), id, &v);
        std::vector<std::vector<uint8_t>> out;
        for (LONG i = 0; i < v.Count(); ++i) {
            EXPECT_EQ(v.Array()[i].vt, VT_UNKNOWN);
            out.push_back(DataOf(v.Array()[i].punkVal));
        }
        return out;
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
};

TEST_F(JacketLists, PicturesAreSetReorderedAndRemovedInBothLists) {
    auto front = NewPicture(kJpeg, u"image/jpeg");
    auto back = NewPicture(kPng, u"image/png");
    SetPictures(attr::Jacket, {front, back});
    SetPictures(attr::JacketAlt, {back});
    EXPECT_EQ(ReadPictures(attr::Jacket), (std::vector<std::vector<uint8_t>>{kJpeg, kPng}));
    EXPECT_EQ(ReadPictures(attr::JacketAlt), (std::vector<std::vector<uint8_t>>{kPng}));

    SetPictures(attr::Jacket, {back, front});
    EXPECT_EQ(ReadPictures(attr::Jacket), (std::vector<std::vector<uint8_t>>{kPng, kJpeg}));

    SetPictures(attr::Jacket, {});
    EXPECT_TRUE(ReadPictures(attr::Jacket).empty());
    EXPECT_EQ(ReadPictures(attr::JacketAlt), (std::vector<std::vector<uint8_t>>{kPng}))
        << "the other list stays";
}

TEST_F(JacketLists, AListHoldsAtMostFivePictures) {
    auto p = NewPicture(kJpeg, u"image/jpeg");
    ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
    std::vector<VARIANT> six(6);
    for (auto& v : six) {
        VariantInit(&v);
        v.vt = VT_UNKNOWN;
        v.punkVal = p.Get();
    }
    EXPECT_LT(item->SetAttribute(attr::Jacket, 6, six.data()), 0);
    EXPECT_EQ(item->SetAttribute(attr::Jacket, 5, six.data()), S_OK);
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_EQ(ReadPictures(attr::Jacket).size(), 5u);
}

TEST_F(JacketLists, PicturesHandedOutAreCopies) {
    SetPictures(attr::Jacket, {NewPicture(kJpeg, u"image/jpeg")});
    ComPtr<MediaItem> item = Open(path_, kMediaItemWrite);
    {
        Values v;
        Get(item.Get(), attr::Jacket, &v);
        ASSERT_EQ(v.Count(), 1);
        ComPtr<MediaPicture> picture;
        ASSERT_EQ(v.Array()[0].punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress()),
                  S_OK);
        picture->SetData(static_cast<ULONG>(kPng.size()), kPng.data());
    }
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_EQ(ReadPictures(attr::Jacket), (std::vector<std::vector<uint8_t>>{kJpeg}));
}

}  // namespace
