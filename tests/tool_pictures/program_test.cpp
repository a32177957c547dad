// The built Quillet program on OMA files that carry a jacket picture: the
// listing's "Jacket" row tells the picture's extension and size.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"
#include "platform_imaging/test_pictures.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace attr = medialib::attr;

namespace {

using Result = testsupport::ProgramResult;

// Runs bin/Quillet with `args`, stdout into a pipe.
Result RunQuillet(const std::vector<std::string>& args) {
    return testsupport::RunProgram(testsupport::BinDir() / "Quillet", args);
}

std::string Row(const std::string& out, const std::string& name) {
    const std::string key = "\n" + name + "=";
    const size_t start = out.find(key);
    if (start == std::string::npos) return "<missing>";
    const size_t value = start + key.size();
    return out.substr(value, out.find('\n', value) - value);
}

std::shared_ptr<medialib::PictureData> Picture(std::string mime, std::vector<uint8_t> bytes) {
    auto picture = std::make_shared<medialib::PictureData>();
    picture->mime = std::move(mime);
    picture->bytes = std::move(bytes);
    return picture;
}

TEST(QuilletJacket, GetListsTheJacketsExtensionAndSize) {
    testsupport::ScopedTempDir dir;
    const auto pixel = [](uint32_t x, uint32_t y) { return imaging_test::Quadrants(x, y, 500, 300); };
    struct Case {
        const char* name;
        std::shared_ptr<medialib::PictureData> jacket;
        const char* expected;
    };
    const Case cases[] = {
        {"jpeg.oma", Picture("image/jpeg", imaging_test::MakeJpeg(500, 300, pixel)), ".jpg/500/300"},
        {"exif.oma", Picture("image/jpeg", imaging_test::ToExif(imaging_test::MakeJpeg(123, 45, pixel))),
         ".jpg/123/45"},
        {"none.oma", nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        medialib::openmg::DemoOmaOptions options;
        options.tags[medialib::attr::Title] = {std::u16string(u"With a cover")};
        if (c.jacket) options.tags[attr::Jacket] = {c.jacket};
        const auto song = dir / c.name;
        ASSERT_TRUE(medialib::openmg::WriteDemoOma(song, 0.2, options));

        const Result r = RunQuillet({"--Get", song.string()});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(Row(r.out, "TargetTrack"), song.string());
        EXPECT_EQ(Row(r.out, "Title"), "With a cover");
        EXPECT_EQ(Row(r.out, "Jacket"), c.expected);
        // The row closes the listing.
        const std::string tail = "\nJacket=" + std::string(c.expected) + "\nEOS.\n";
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    }
}

}  // namespace
