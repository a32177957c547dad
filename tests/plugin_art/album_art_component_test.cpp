// Cover pictures end to end: the built corvina.so and medialib.so, driven by
// playhost (OMA demo files, a copy of a real SonicStage file, 3GP) and by
// the album-art services in an in-process host (MP3 and M4A, which the
// plug-in's extension test does not claim but its services open alike).
// What the file holds afterwards is checked with the engine, ffprobe,
// mutagen (when installed) and Quillet's listing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/advconfig.h"
#include "host/sdk/album_art.h"
#include "library/media_ids.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"
#include "medialib/openmg/openmg_file.h"
#include "support/processes.h"
#include "support/test_support.h"
#include "tests/medialib/openmg_test_util.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;
using testsupport::ReadBytes;
using testsupport::ScopedTempDir;
using testsupport::ShellQuote;

bool RunQuietly(const std::string& command) {
    return testsupport::RunShell(command + " >/dev/null 2>&1").exit_code == 0;
}

bool HaveFfmpeg() { return RunQuietly("ffmpeg -version") && RunQuietly("ffprobe -version"); }

// Pictures made once for the whole suite: five formats of distinct sizes.
struct Pictures {
    ScopedTempDir dir;
    fs::path png, jpeg, gif, bmp, tiff;
    bool made = false;
};

Pictures& Covers() {
    static Pictures pictures;
    if (!pictures.made && HaveFfmpeg()) {
        const auto make = [&](const char* name, const char* size) {
            const fs::path path = pictures.dir / name;
            RunQuietly("ffmpeg -v error -y -f lavfi -i testsrc=s=" + std::string(size) + " -frames:v 1 " +
                       ShellQuote(path.string()));
            return path;
        };
        pictures.png = make("cover.png", "64x48");
        pictures.jpeg = make("cover.jpg", "40x30");
        pictures.gif = make("cover.gif", "24x16");
        pictures.bmp = make("cover.bmp", "20x10");
        pictures.tiff = make("cover.tiff", "12x8");
        pictures.made = true;
    }
    return pictures;
}

// The pictures of a jacket list as the engine reads the file: MIME type and bytes.
std::vector<std::pair<std::string, std::vector<uint8_t>>> EngineJackets(const fs::path& file) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    auto opened = medialib::OpenMediaFile(file);
    if (!opened) return out;
    auto it = opened->Attributes().find(medialib::attr::Jacket);
    if (it == opened->Attributes().end()) return out;
    for (const auto& value : it->second) {
        if (const auto* picture = std::get_if<std::shared_ptr<medialib::PictureData>>(&value))
            out.emplace_back((*picture)->mime, (*picture)->bytes);
    }
    return out;
}

// Every file of a folder, by name.
std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

class AlbumArtComponent : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
        ASSERT_TRUE(Covers().made);
    }

    ProgramResult Playhost(const std::string& args) {
        return testsupport::RunShell(
            ShellQuote((testsupport::BinDir() / "playhost").string()) + " --component " +
            ShellQuote((testsupport::BinDir() / "corvina.so").string()) + " --profile " +
            ShellQuote((dir / "profile").string()) + " " + args + " 2>/dev/null");
    }
    ProgramResult Art(const fs::path& file, const std::string& words = "") {
        return Playhost("art " + ShellQuote(file.string()) + (words.empty() ? "" : " " + words));
    }
    ProgramResult Set(const fs::path& file, const char* kind, const fs::path& picture) {
        return Art(file, std::string("--set ") + kind + " " + ShellQuote(picture.string()));
    }
    // The bytes `art --get` saves for `kind`; empty when it fails.
    std::vector<uint8_t> Get(const fs::path& file, const char* kind) {
        const fs::path out = dir / "got.bin";
        fs::remove(out);
        if (Art(file, std::string("--get ") + kind + " --out " + ShellQuote(out.string())).exit_code != 0)
            return {};
        return ReadBytes(out);
    }

    fs::path Demo(const std::string& name) {
        medialib::openmg::DemoOmaOptions options;
        options.tags[medialib::attr::Title] = {std::u16string(u"Demo")};
        EXPECT_TRUE(medialib::openmg::WriteDemoOma(dir / name, 0.3, options));
        return dir / name;
    }
    fs::path Made(const std::string& name, const std::string& codec) {
        const fs::path path = dir / "media" / name;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(RunQuietly("ffmpeg -v error -y -f lavfi -i sine=d=0.5 -ar 16000 -c:a " + codec +
                               " -metadata title=Tone " + ShellQuote(path.string())));
        return path;
    }

    // Sets front, back and disc, reads each back, removes the back cover and
    // sees the disc take its place.
    void RoundTrip(const fs::path& file) {
        const Pictures& covers = Covers();
        ASSERT_EQ(Set(file, "front", covers.png).exit_code, 0);
        ASSERT_EQ(Set(file, "back", covers.jpeg).exit_code, 0);
        ASSERT_EQ(Set(file, "disc", covers.gif).exit_code, 0);
        const ProgramResult listed = Art(file);
        ASSERT_EQ(listed.exit_code, 0) << listed.out;
        const auto size = [](const fs::path& p) { return std::to_string(fs::file_size(p)); };
        EXPECT_TRUE(listed.HasLine("front=image/png " + size(covers.png) + " bytes 64x48")) << listed.out;
        EXPECT_TRUE(listed.HasLine("back=image/jpeg " + size(covers.jpeg) + " bytes 40x30")) << listed.out;
        EXPECT_TRUE(listed.HasLine("disc=image/gif " + size(covers.gif) + " bytes 24x16")) << listed.out;
        EXPECT_FALSE(listed.HasKey("icon")) << listed.out;
        EXPECT_EQ(Get(file, "front"), ReadBytes(covers.png));
        EXPECT_EQ(Get(file, "back"), ReadBytes(covers.jpeg));
        EXPECT_EQ(Get(file, "disc"), ReadBytes(covers.gif));

        ASSERT_EQ(Art(file, "--remove back").exit_code, 0);
        EXPECT_EQ(Get(file, "front"), ReadBytes(covers.png));
        EXPECT_EQ(Get(file, "back"), ReadBytes(covers.gif));
        EXPECT_TRUE(Get(file, "disc").empty());
        const ProgramResult after = Art(file, "--get disc --out " + ShellQuote((dir / "none").string()));
        EXPECT_EQ(after.exit_code, 1);
        EXPECT_TRUE(after.HasLine("error=Album Art Not Found")) << after.out;
        EXPECT_FALSE(fs::exists(dir / "none"));
    }

    ScopedTempDir dir;
};

TEST_F(AlbumArtComponent, DemoOmaRoundTripsAndShifts) {
    const fs::path file = Demo("x.oma");
    const auto audio = omgtest::AudioPart(file);
    RoundTrip(file);
    EXPECT_EQ(omgtest::AudioPart(file), audio);
}

TEST_F(AlbumArtComponent, ThreeGpRoundTripsWhenClaimed) {
    const fs::path file = Made("x.3gp", "aac");
    const ProgramResult unclaimed = Set(file, "front", Covers().png);
    EXPECT_EQ(unclaimed.exit_code, 1);
    EXPECT_TRUE(unclaimed.HasLine("error=Unsupported Album Art Entry")) << unclaimed.out;
    ASSERT_EQ(Playhost("config support_3gp on").exit_code, 0);
    RoundTrip(file);
    EXPECT_EQ(EngineJackets(file).size(), 2u);
}

TEST_F(AlbumArtComponent, IconOnAFileWithoutPicturesIsTheFrontCover) {
    const fs::path file = Demo("x.oma");
    const ProgramResult none = Art(file);
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_TRUE(none.HasLine("error=Album Art Not Found")) << none.out;
    ASSERT_EQ(Set(file, "icon", Covers().bmp).exit_code, 0);
    const ProgramResult listed = Art(file);
    EXPECT_TRUE(listed.HasKey("front")) << listed.out;
    EXPECT_FALSE(listed.HasKey("icon")) << listed.out;
    EXPECT_EQ(Get(file, "front"), ReadBytes(Covers().bmp));
}

TEST_F(AlbumArtComponent, RealSonicStageFileKeepsItsTagsAndAudio) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_03-Untitled-3_atrac3plus.oma");
    const fs::path file = dir / "x.oma";
    testsupport::CopyWritable(sample, file);
    const auto audio = omgtest::AudioPart(file);
    const auto probe = [&] {
        return testsupport::RunShell("ffprobe -v error -show_entries format_tags -of default=nw=1 " +
                                     ShellQuote(file.string()))
            .out;
    };
    const std::string tags_before = probe();
    ASSERT_NE(tags_before.find("TAG:"), std::string::npos) << tags_before;

    // mutagen reads the tag once its magic says ID3 (a copy of the tag alone
    // is handed over); every frame but the front cover object must stay.
    const std::string kMutagen = R"(/usr/bin/python3 -c '
import sys, hashlib
try:
    import mutagen.id3
except ImportError:
    sys.exit(3)
data = open(sys.argv[1], "rb").read()
size = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
open(sys.argv[2], "wb").write(b"ID3" + data[3:size])
for frame in mutagen.id3.ID3(sys.argv[2]).values():
    if frame.FrameID == "GEOB":
        print("GEOB", frame.desc, frame.mime, len(frame.data), hashlib.md5(frame.data).hexdigest())
    else:
        print(frame.HashKey, repr(frame._pprint()))
' )";
    const auto frames = [&] {
        const ProgramResult r = testsupport::RunShell(kMutagen + ShellQuote(file.string()) + " " +
                                                      ShellQuote((dir / "tag.id3").string()) + " 2>&1");
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < r.out.size()) {
            const size_t end = r.out.find('\n', start);
            lines.push_back(r.out.substr(start, end - start));
            start = end == std::string::npos ? r.out.size() : end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return std::make_pair(r.exit_code, lines);
    };
    const auto [mutagen_code, frames_before] = frames();

    const ProgramResult set = Set(file, "front", Covers().png);
    ASSERT_EQ(set.exit_code, 0) << set.out;
    EXPECT_TRUE(set.HasLine("written=true")) << set.out;
    EXPECT_EQ(omgtest::AudioPart(file), audio);
    // The text frames are kept as they were: every reader sees the same tags.
    EXPECT_EQ(probe(), tags_before);
    EXPECT_EQ(Get(file, "front"), ReadBytes(Covers().png));
    const auto jackets = EngineJackets(file);
    ASSERT_EQ(jackets.size(), 1u);
    EXPECT_EQ(jackets[0].first, "image/png");

    // Quillet lists the jacket with its type and size.
    const ProgramResult quillet = testsupport::RunProgram(testsupport::BinDir() / "Quillet", {file.string()});
    EXPECT_TRUE(quillet.HasLine("Jacket=.png/64/48")) << quillet.out;

    if (mutagen_code == 3) GTEST_SKIP() << "mutagen (python3-mutagen) not installed";
    ASSERT_EQ(mutagen_code, 0) << frames_before.size();
    const auto [code_after, frames_after] = frames();
    ASSERT_EQ(code_after, 0);
    std::vector<std::string> added;
    std::set_difference(frames_after.begin(), frames_after.end(), frames_before.begin(), frames_before.end(),
                        std::back_inserter(added));
    std::vector<std::string> lost;
    std::set_difference(frames_before.begin(), frames_before.end(), frames_after.begin(), frames_after.end(),
                        std::back_inserter(lost));
    EXPECT_TRUE(lost.empty()) << lost.front();
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(
        added[0].starts_with("GEOB OMG_TDFCA image/png " + std::to_string(fs::file_size(Covers().png))))
        << added[0];
}

TEST_F(AlbumArtComponent, PicturesGetTheirMimeTypeFromTheBytes) {
    const Pictures& covers = Covers();
    const fs::path file = Demo("x.oma");
    const fs::path odd = dir / "odd.bin";
    testsupport::WriteText(odd, "no picture at all");
    const std::pair<fs::path, const char*> rows[] = {{covers.png, "image/png"},   {covers.jpeg, "image/jpeg"},
                                                     {covers.gif, "image/gif"},   {covers.bmp, "image/bmp"},
                                                     {covers.tiff, "image/tiff"}, {odd, ""}};
    for (const auto& [picture, mime] : rows) {
        ASSERT_EQ(Set(file, "front", picture).exit_code, 0) << picture;
        const auto jackets = EngineJackets(file);
        ASSERT_EQ(jackets.size(), 1u);
        EXPECT_EQ(jackets[0].first, mime) << picture;
        EXPECT_EQ(jackets[0].second, ReadBytes(picture));
    }
    EXPECT_TRUE(Art(file).HasLine("front=- 17 bytes -"));
}

TEST_F(AlbumArtComponent, EmptyUnwritableAndLargePicturesLeaveNoTrace) {
    const fs::path file = Demo("x.oma");
    ASSERT_EQ(Set(file, "front", Covers().png).exit_code, 0);
    const fs::path empty = dir / "empty.png";
    testsupport::WriteBytes(empty, {});
    const std::vector<uint8_t> before = ReadBytes(file);
    const std::set<std::string> names = Names(dir.path());
    const auto expect_refused = [&](const ProgramResult& r, const char* why) {
        EXPECT_EQ(r.exit_code, 1) << why << r.out;
        EXPECT_TRUE(r.HasLine("error=Unsupported Album Art Entry")) << why << r.out;
        EXPECT_FALSE(r.HasKey("written")) << why << r.out;
    };

    expect_refused(Set(file, "front", empty), "zero bytes");
    EXPECT_EQ(ReadBytes(file), before);

    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    expect_refused(Set(file, "back", Covers().jpeg), "read-only");
    // A removal fails silently.
    EXPECT_EQ(Art(file, "--remove front").exit_code, 0);
    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(Names(dir.path()), names) << "no temporary file is left";
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);

    // 20 MB is a picture like any other (four of them would not fit the tag:
    // the engine's tests cover that refusal).
    const fs::path big = dir / "big.png";
    std::vector<uint8_t> bytes = ReadBytes(Covers().png);
    bytes.resize(20u << 20, 0x42);
    testsupport::WriteBytes(big, bytes);
    ASSERT_EQ(Set(file, "back", big).exit_code, 0);
    EXPECT_EQ(Get(file, "back"), bytes);
    EXPECT_EQ(Names(dir.path()).size(), names.size() + 2) << "big.png and got.bin only";
}

TEST_F(AlbumArtComponent, PlayhostRefusesWrongWords) {
    const fs::path file = Demo("x.oma");
    for (const char* words : {"--set cover x.png", "--get front", "--get front --out", "--remove",
                              "--set front", "--remove front extra", "--bogus"}) {
        EXPECT_EQ(Art(file, words).exit_code, 2) << words;
    }
    const ProgramResult missing = Art(file, "--set front " + ShellQuote((dir / "nothing.png").string()));
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_FALSE(missing.HasKey("written"));
}

// MP3 and M4A through the services of the loaded component in this process.
class AlbumArtServices : public AlbumArtComponent {
  protected:
    void SetUp() override {
        AlbumArtComponent::SetUp();
        if (IsSkipped()) return;
        host.LoadComponent(testsupport::BinDir() / "corvina.so");
        host.Start();
        editors = host.Services<album_art_editor>();
        extractors = host.Services<album_art_extractor>();
        ASSERT_EQ(editors.size(), 1u);
        ASSERT_EQ(extractors.size(), 1u);
    }
    void TearDown() override { host.Stop(); }

    album_art_data_ptr Data(const fs::path& picture) {
        const auto bytes = ReadBytes(picture);
        return album_art_data_impl::g_create(bytes.data(), bytes.size());
    }
    std::vector<uint8_t> Bytes(const album_art_data_ptr& data) {
        const auto* p = static_cast<const uint8_t*>(data->get_ptr());
        return std::vector<uint8_t>(p, p + data->get_size());
    }

    void RoundTrip(const fs::path& file) {
        const Pictures& covers = Covers();
        abort_callback_dummy abort;
        auto editor = editors[0]->open(file_ptr(), file.c_str(), abort);
        editor->set(album_art_ids::cover_front, Data(covers.png), abort);
        editor->set(album_art_ids::cover_back, Data(covers.jpeg), abort);
        editor->set(album_art_ids::disc, Data(covers.gif), abort);
        editor->commit(abort);
        auto extracted = extractors[0]->open(file_ptr(), file.c_str(), abort);
        EXPECT_EQ(Bytes(extracted->query(album_art_ids::cover_front, abort)), ReadBytes(covers.png));
        EXPECT_EQ(Bytes(extracted->query(album_art_ids::cover_back, abort)), ReadBytes(covers.jpeg));
        EXPECT_EQ(Bytes(extracted->query(album_art_ids::disc, abort)), ReadBytes(covers.gif));
        const auto jackets = EngineJackets(file);
        ASSERT_EQ(jackets.size(), 3u);
        EXPECT_EQ(jackets[1].first, "image/jpeg");

        editor->remove(album_art_ids::cover_back);
        EXPECT_EQ(Bytes(editor->query(album_art_ids::cover_back, abort)), ReadBytes(covers.gif));
        EXPECT_THROW(editor->query(album_art_ids::disc, abort), exception_album_art_not_found);
        editor->remove(album_art_ids::cover_front);
        editor->remove(album_art_ids::cover_front);
        EXPECT_THROW(extractors[0]->open(file_ptr(), file.c_str(), abort), exception_album_art_not_found);
    }

    playhost::Host host{dir / "profile"};
    std::vector<service_ptr_t<album_art_editor>> editors;
    std::vector<service_ptr_t<album_art_extractor>> extractors;
};

TEST_F(AlbumArtServices, Mp3RoundTripsAndShifts) {
    const fs::path file = Made("x.mp3", "libmp3lame");
    RoundTrip(file);
    // The other tags are still there.
    const ProgramResult probe = testsupport::RunShell(
        "ffprobe -v error -show_entries format_tags=title -of default=nw=1 " + ShellQuote(file.string()));
    EXPECT_TRUE(probe.HasLine("TAG:title=Tone")) << probe.out;
}

TEST_F(AlbumArtServices, M4aRoundTripsAndShifts) { RoundTrip(Made("x.m4a", "aac")); }

TEST_F(AlbumArtServices, TheHostFindsTheServicesThatClaimAPath) {
    service_ptr_t<album_art_editor> editor;
    EXPECT_TRUE(album_art_editor::g_get_interface(editor, "/music/A.OMA"));
    EXPECT_EQ(editor.get_ptr(), editors[0].get_ptr());
    service_ptr_t<album_art_extractor> extractor;
    EXPECT_TRUE(album_art_extractor::g_get_interface(extractor, "file:///music/a.kdr"));
    EXPECT_FALSE(album_art_extractor::g_get_interface(extractor, "/music/a.mp3"));
    EXPECT_FALSE(extractor.is_valid());
    EXPECT_FALSE(album_art_extractor::g_get_interface(extractor, "/music/a.3gp"));
    abort_callback_dummy abort;
    EXPECT_THROW(album_art_extractor::g_open(file_ptr(), "/music/a.mp3", abort),
                 exception_album_art_not_found);
    EXPECT_THROW(album_art_editor::g_open(file_ptr(), "/music/a.mp3", abort),
                 exception_album_art_unsupported_entry);
}

}  // namespace
