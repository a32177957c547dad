// The built Quillet program on OMA files that carry a jacket picture: the
// listing's "Jacket" row tells the picture's extension and size. The picture
// services are a module the program loads on first use: runs without a
// picture never load it, and without the module the pictures fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
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

// An OMA file with a 500 x 300 JPEG jacket and one without, in `dir`.
void WriteSongs(const std::filesystem::path& dir) {
    const auto pixel = [](uint32_t x, uint32_t y) { return imaging_test::Quadrants(x, y, 500, 300); };
    medialib::openmg::DemoOmaOptions options;
    options.tags[medialib::attr::Title] = {std::u16string(u"Songs")};
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "plain.oma", 0.2, options));
    options.tags[attr::Jacket] = {Picture("image/jpeg", imaging_test::MakeJpeg(500, 300, pixel))};
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "cover.oma", 0.2, options));
}

// Everything the dynamic loader's file log (LD_DEBUG=files) wrote for one run
// of the program with `args`.
std::string LoaderLog(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    const auto log = dir / "loader";
    std::filesystem::remove_all(log);
    std::filesystem::create_directories(log);
    const Result r = testsupport::RunProgram(testsupport::BinDir() / "Quillet", args,
                                             {"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + (log / "log").string()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(log)) {
        std::ifstream in(entry.path());
        std::stringstream content;
        content << in.rdbuf();
        text += content.str();
    }
    return text;
}

TEST(QuilletPictureModule, LoadedOnlyWhenAPictureIsNeeded) {
    testsupport::ScopedTempDir dir;
    WriteSongs(dir.path());

    // The program itself links none of the picture libraries (the loader's
    // list of what it maps at start, as ldd asks for it).
    const Result linked =
        testsupport::RunProgram(testsupport::BinDir() / "Quillet", {}, {"LD_TRACE_LOADED_OBJECTS=1"});
    ASSERT_NE(linked.out.find("libc.so"), std::string::npos) << linked.out;
    for (const char* library :
         {"libcairo", "libpango", "libfontconfig", "libjpeg", "libpng", "libtiff", "libgif"})
        EXPECT_EQ(linked.out.find(library), std::string::npos) << library << " in\n" << linked.out;

    const std::string quiet = LoaderLog(dir.path(), {"--Get", "--Quiet", (dir / "cover.oma").string()});
    EXPECT_NE(quiet.find("medialib.so"), std::string::npos) << "the log is read";
    EXPECT_EQ(quiet.find("gdiplus.so"), std::string::npos) << "a tag listing without pictures";
    const std::string plain = LoaderLog(dir.path(), {"--Get", (dir / "plain.oma").string()});
    EXPECT_EQ(plain.find("gdiplus.so"), std::string::npos) << "a listing of a file without pictures";
    const std::string cover = LoaderLog(dir.path(), {"--Get", (dir / "cover.oma").string()});
    EXPECT_NE(cover.find("gdiplus.so"), std::string::npos) << "the listing measures the jacket";
}

// A copy of the program in a folder without gdiplus.so (the library module is
// found through the build's registry file): what needs no picture works as
// before, every picture step fails as with a picture the services cannot
// read, and one line on standard error names the missing module.
TEST(QuilletPictureModule, WithoutTheModulePicturesFailCleanly) {
    testsupport::ScopedTempDir dir;
    WriteSongs(dir.path());
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::copy_file(testsupport::BinDir() / "Quillet", dir / "bin" / "Quillet");
    const std::vector<std::string> registry = {"CQ_REGISTRY_FILE=" +
                                               (testsupport::BinDir() / "registry.reg").string()};
    const auto run = [&](const std::filesystem::path& program, const std::vector<std::string>& args) {
        return testsupport::RunProgram(program, args, registry);
    };
    const auto real = testsupport::BinDir() / "Quillet";
    const auto copy = dir / "bin" / "Quillet";
    const std::string plain = (dir / "plain.oma").string();
    const std::string cover = (dir / "cover.oma").string();

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--Get", "--Quiet", cover}, {"--Get", plain}, {"--Put", "--Title", "New", plain}}) {
        const Result with = run(real, args);
        const Result without = run(copy, args);
        EXPECT_EQ(without.exit_code, with.exit_code) << args[1];
        EXPECT_EQ(without.out, with.out) << args[1];
    }

    Result r = run(copy, {"--Get", cover});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(Row(r.out, "Title"), "Songs");
    EXPECT_EQ(Row(r.out, "Jacket"), "") << "the jacket's size cannot be read";
    EXPECT_EQ(Row(run(real, {"--Get", cover}).out, "Jacket"), ".jpg/500/300");

    // Recoding the jacket is a picture step that fails: no file, exit code 1.
    r = run(copy, {"--Get", "--Jpeg", "--Jacket", (dir / "out").string(), cover});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.jpg"));
    // Drawing a jacket: no result line, no file.
    r = run(copy, {"--Create", "--JacketJpeg", (dir / "made.jpg").string(), "--Artist", "A", "--Title", "T"});
    EXPECT_EQ(r.out.find("JacketJpeg="), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "made.jpg"));

    const Result message =
        testsupport::RunShell(registry[0] + " " + testsupport::ShellQuote(copy.string()) + " --Get " +
                              testsupport::ShellQuote(cover) + " 2>&1 >/dev/null");
    EXPECT_NE(message.out.find("Quillet: the picture services are not available: "), std::string::npos)
        << message.out;
    EXPECT_NE(message.out.find("gdiplus.so"), std::string::npos) << message.out;
    EXPECT_EQ(std::count(message.out.begin(), message.out.end(), '\n'), 1) << message.out;
}

}  // namespace
