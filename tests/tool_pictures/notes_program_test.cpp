// The built Quillet program attaching, exporting and creating lyrics, liner
// notes and jacket pictures on copies of real OMA samples and on MP3, M4A and
// 3GP files made with ffmpeg: result lines, exit codes, the files written and
// their encodings, independent readers (mutagen, ffprobe) after every Put,
// the audio left byte for byte, and hostile inputs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/imaging/gdiplus.h"
#include "platform_imaging/test_pictures.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using Result = testsupport::ProgramResult;
using testsupport::ShellQuote;

Result Quillet(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return testsupport::RunProgram(testsupport::BinDir() / "Quillet", args, env);
}

std::string Row(const std::string& out, const std::string& name) {
    const std::string key = "\n" + name + "=";
    const size_t start = out.find(key);
    if (start == std::string::npos) return "<missing>";
    const size_t value = start + key.size();
    return out.substr(value, out.find('\n', value) - value);
}

bool Have(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// The audio packets of a file as ffmpeg copies them out, as an MD5 line.
std::string AudioDigest(const fs::path& file) {
    return testsupport::RunShell("ffmpeg -nostdin -v error -i " + ShellQuote(file.string()) +
                                 " -map 0:a -c copy -f md5 - 2>/dev/null")
        .out;
}

// An OpenMG file's bytes after its tag (the EA3 header and the audio).
std::vector<uint8_t> OpenMgBody(const fs::path& file) {
    std::vector<uint8_t> bytes = testsupport::ReadBytes(file);
    if (bytes.size() < 10) return {};
    const size_t size =
        (size_t{bytes[6]} << 21) | (size_t{bytes[7]} << 14) | (size_t{bytes[8]} << 7) | bytes[9];
    if (10 + size > bytes.size()) return {};
    return {bytes.begin() + static_cast<std::ptrdiff_t>(10 + size), bytes.end()};
}

struct Pixels {
    UINT width = 0, height = 0;
    std::vector<Gdiplus::ARGB> argb;
    bool Dark(UINT x, UINT y) const {
        const Gdiplus::ARGB c = argb[static_cast<size_t>(y) * width + x];
        return ((c >> 16) & 0xFF) < 128 && ((c >> 8) & 0xFF) < 128 && (c & 0xFF) < 128;
    }
};
Pixels Load(const fs::path& file) {
    Pixels p;
    imaging_test::Decoded decoded;
    imaging_test::DecodeBytes(testsupport::ReadBytes(file), decoded);
    if (decoded.status != Gdiplus::Ok) return p;
    GdipGetImageWidth(decoded.bitmap, &p.width);
    GdipGetImageHeight(decoded.bitmap, &p.height);
    p.argb.resize(static_cast<size_t>(p.width) * p.height);
    for (UINT y = 0; y < p.height; ++y)
        for (UINT x = 0; x < p.width; ++x)
            GdipBitmapGetPixel(decoded.bitmap, static_cast<INT>(x), static_cast<INT>(y),
                               &p.argb[static_cast<size_t>(y) * p.width + x]);
    return p;
}

// The height that a text picture of `text` at `points` must have: the
// outline bounds at the canvas resolution plus the size on both sides.
INT ExpectedHeight(const std::u16string& text, int points) {
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(1, 1, 0, Gdiplus::PixelFormat32bppARGB, nullptr, &bitmap);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    Gdiplus::REAL dpi = 0;
    GdipGetDpiY(graphics, &dpi);
    GdipDeleteGraphics(graphics);
    GdipDisposeImage(bitmap);
    GpFontFamily* family = nullptr;
    GdipGetGenericFontFamilySansSerif(&family);
    GpPath* path = nullptr;
    GdipCreatePath(Gdiplus::FillModeAlternate, &path);
    const Gdiplus::RectF layout{0, 0, 0, 0};
    GdipAddPathString(path, text.c_str(), -1, family, Gdiplus::FontStyleRegular, points * dpi / 72, &layout,
                      nullptr);
    Gdiplus::Rect bounds{};
    GdipGetPathWorldBoundsI(path, &bounds, nullptr, nullptr);
    GdipDeletePath(path);
    return bounds.Y + bounds.Height + 2 * points;
}

class NotesProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        lyrics_ = dir_ / "lyrics.txt";
        // UTF-8 with its mark: Japanese and Latin lines.
        testsupport::WriteText(lyrics_,
                               "\xEF\xBB\xBF"
                               "Hello\r\n\xE5\x90\x9B\xE3\x81\x8C\xE4\xBB\xA3\r\n");
        notes_ = dir_ / "notes.txt";
        testsupport::WriteText(notes_, "Liner notes\r\n");
        cover_ = dir_ / "cover.png";
        testsupport::WriteBytes(cover_, imaging_test::MakePng(300, 200, [](uint32_t x, uint32_t y) {
                                    return imaging_test::Quadrants(x, y, 300, 200);
                                }));
    }
    testsupport::ScopedTempDir dir_;
    fs::path lyrics_, notes_, cover_;
};

TEST_F(NotesProgram, CreateWritesJacketAndTextPictures) {
    const auto out = dir_ / "made" / "out.png";
    Result r = Quillet({"--Create", "--JacketJpeg", out.string(), "--Artist", "A", "--Title", "T"});
    EXPECT_EQ(r.exit_code, 0);
    const auto jpg = dir_ / "made" / "out.jpg";
    EXPECT_TRUE(r.HasLine("JacketJpeg=" + jpg.string())) << r.out;
    const Pixels jacket = Load(jpg);
    ASSERT_EQ(jacket.width, 640u);
    ASSERT_EQ(jacket.height, 640u);
    size_t inside = 0, outside = 0;
    for (UINT y = 0; y < 640; ++y)
        for (UINT x = 0; x < 640; ++x)
            if (jacket.Dark(x, y)) ++((x >= 18 && x < 622 && y >= 18 && y < 622) ? inside : outside);
    EXPECT_GT(inside, 1000u);
    EXPECT_EQ(outside, 0u);

    // Neither artist nor title: nothing written, exit code 0.
    const auto none = dir_ / "none.png";
    r = Quillet({"--Create", "--JacketJpeg", none.string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.HasKey("JacketJpeg"));
    EXPECT_FALSE(fs::exists(dir_ / "none.jpg"));

    // Three lines; the last Text entry is a picture, so the text before it is used.
    const auto three = dir_ / "three.txt";
    testsupport::WriteText(three, "one\r\ntwo two\r\nthree three three\r\n");
    for (const auto& [size, points] :
         std::vector<std::pair<std::string, int>>{{"20", 20}, {"0", 16}, {"100", 72}}) {
        const auto target = dir_ / ("t" + size + ".png");
        r = Quillet({"--Create", "--FontSize", size, "--Text", three.string(), "--Text", cover_.string(),
                     "--TextJpeg", target.string()});
        EXPECT_EQ(r.exit_code, 0);
        const auto written = dir_ / ("t" + size + ".jpg");
        EXPECT_TRUE(r.HasLine("TextJpeg=" + written.string())) << r.out;
        EXPECT_EQ(static_cast<INT>(Load(written).height),
                  ExpectedHeight(u"one\r\ntwo two\r\nthree three three\r\n", points))
            << size;
    }

    // Picture to JPEG within the bounds.
    const auto small = dir_ / "small.bmp";
    r = Quillet({"--Create", "--Picture", cover_.string(), "--PictureJpeg", small.string(),
                 "--PictureMaxWidth", "150"});
    EXPECT_TRUE(r.HasLine("PictureJpeg=" + (dir_ / "small.jpg").string())) << r.out;
    EXPECT_EQ(Load(dir_ / "small.jpg").width, 150u);
}

TEST_F(NotesProgram, PutAndGetOnARealOmaKeepTheAudio) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_03-Untitled-3_atrac3plus.oma");
    const auto song = dir_ / "song.oma";
    testsupport::CopyWritable(sample, song);
    const std::vector<uint8_t> body = OpenMgBody(song);
    ASSERT_FALSE(body.empty());

    Result r = Quillet({"--Put", song.string(), "--Lyrics", lyrics_.string(), "--LyricsMode", "Hybrid",
                        "--LinerNotes", notes_.string(), "--LinerNotesMode", "Text", "--Jacket",
                        cover_.string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("LyricsTextFile=" + lyrics_.string())) << r.out;
    EXPECT_TRUE(r.HasLine("LyricsPictureFile=" + lyrics_.string()));
    EXPECT_TRUE(r.HasLine("LinerNotesTextFile=" + notes_.string()));
    EXPECT_TRUE(r.HasLine("JacketFile=" + cover_.string()));
    EXPECT_EQ(OpenMgBody(song), body);

    // Export in the C locale, where the Japanese line does not fit the code page.
    const auto out = dir_ / "out";
    r = Quillet({"--Get", song.string(), "--Jpeg", "--Lyrics", (out / "x.mp3").string(), "--Lyrics9",
                 (out / "y.wav").string(), "--LinerNotes", (out / "x.mp3").string(), "--Jacket",
                 (out / "cover.png").string()},
                {"LC_ALL=C"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(Row(r.out, "LyricsText"), "12");
    EXPECT_TRUE(r.HasLine("LyricsTextFile=" + (out / "x.lrc").string())) << r.out;
    EXPECT_TRUE(r.HasLine("LyricsPictureFile=" + (out / "x.lrc.jpg").string()));
    EXPECT_TRUE(r.HasLine("LinerNotesTextFile=" + (out / "x.txt").string()));
    EXPECT_FALSE(r.HasKey("LinerNotesPictureFile"));  // the "text/plain" picture is no picture file
    EXPECT_TRUE(r.HasLine("JacketFile=" + (out / "cover.jpg").string())) << r.out;
    const auto x_lrc = testsupport::ReadBytes(out / "x.lrc");
    ASSERT_GE(x_lrc.size(), 2u);
    EXPECT_EQ(x_lrc[0], 0xFF);
    EXPECT_EQ(x_lrc[1], 0xFE);
    const auto y_lrc = testsupport::ReadBytes(out / "y.lrc");
    ASSERT_GE(y_lrc.size(), 3u);
    EXPECT_EQ(std::string(y_lrc.begin(), y_lrc.begin() + 3), "\xEF\xBB\xBF");
    EXPECT_EQ(Load(out / "cover.jpg").width, 300u);
    EXPECT_GT(Load(out / "x.lrc.jpg").height, 40u);

    // Existing files stay; a jacket export that wrote nothing fails Get but not GetAll.
    r = Quillet({"--Get", song.string(), "--Lyrics", (out / "x.mp3").string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);  // an export that wrote nothing is no failure
    EXPECT_FALSE(r.HasKey("LyricsTextFile"));
    r = Quillet({"--Get", song.string(), "--Jpeg", "--Jacket", (out / "cover.png").string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 1);
    r = Quillet({"--GetAll", song.string(), "--Jpeg", "--Jacket", (out / "cover.png").string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);

    // Auto with text then picture stores the picture; Delete removes both.
    r = Quillet({"--Put", song.string(), "--Lyrics", lyrics_.string(), "--Lyrics", cover_.string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.HasLine("LyricsPictureFile=" + cover_.string()));
    EXPECT_EQ(Row(r.out, "LyricsText"), "");
    EXPECT_EQ(Row(r.out, "LyricsPicture"), ".png/300/200");
    r = Quillet({"--Put", song.string(), "--LyricsMode", "Delete", "--JacketMode", "Delete"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(Row(r.out, "LyricsPicture"), "");
    EXPECT_EQ(Row(r.out, "Jacket"), "");
    // Jacket text mode draws the file's own title.
    r = Quillet({"--Put", song.string(), "--Title", "New", "--JacketMode", "Text"});
    const std::string artist = Row(r.out, "Artist").empty() ? "Unknown Artist" : Row(r.out, "Artist");
    EXPECT_TRUE(r.HasLine("JacketText=[" + artist + "]New")) << r.out;
    EXPECT_EQ(Row(r.out, "Jacket"), ".jpg/640/640");
    EXPECT_EQ(OpenMgBody(song), body);
}

TEST_F(NotesProgram, HostileInputsFailCleanly) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    const auto song = dir_ / "song.oma";
    testsupport::CopyWritable(sample, song);
    const auto before = testsupport::ReadBytes(song);

    const auto empty = dir_ / "empty.txt";
    testsupport::WriteText(empty, "");
    const auto big = dir_ / "big.txt";
    {
        std::string line(78, 'x');
        line += "\r\n";
        std::string text;
        text.reserve(50u << 20);
        while (text.size() < (50u << 20)) text += line;
        testsupport::WriteText(big, text);
    }
    const auto fake_png = dir_ / "fake.png";
    testsupport::WriteText(fake_png, "just text");
    fs::create_directory(dir_ / "folder.txt");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"empty", {"--Lyrics", empty.string(), "--LyricsMode", "Text"}},
        {"big", {"--Lyrics", big.string(), "--LyricsMode", "Picture"}},
        {"missing", {"--Lyrics", (dir_ / "missing.txt").string()}},
        {"folder", {"--Lyrics", (dir_ / "folder.txt").string(), "--LyricsMode", "Hybrid"}},
    };
    for (const auto& [name, words] : cases) {
        std::vector<std::string> args = {"--Put", song.string(), "--Quiet"};
        args.insert(args.end(), words.begin(), words.end());
        const Result r = Quillet(args);
        EXPECT_EQ(r.exit_code, 1) << name;
        EXPECT_FALSE(r.HasKey("LyricsTextFile") || r.HasKey("LyricsPictureFile")) << name << r.out;
        EXPECT_TRUE(r.HasLine("EOS.")) << name;
    }
    EXPECT_EQ(testsupport::ReadBytes(song), before);  // nothing was stored
    // A jacket that is really text, or a folder, is passed over: nothing, success.
    Result r = Quillet({"--Put", song.string(), "--Jacket", fake_png.string(), "--Jacket",
                        (dir_ / "folder.txt").string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.HasKey("JacketFile"));
    EXPECT_EQ(testsupport::ReadBytes(song), before);
    // A ".png" lyrics file that is really text is a text: rendered in Picture mode.
    r = Quillet({"--Put", song.string(), "--Lyrics", fake_png.string(), "--LyricsMode", "Picture"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.HasLine("LyricsPictureFile=" + fake_png.string())) << r.out;
    EXPECT_EQ(Row(r.out, "LyricsPicture").substr(0, 5), ".jpg/");
}

TEST_F(NotesProgram, IndependentReadersStillReadMp3Mp4And3gp) {
    if (!Have("ffmpeg -version") || !Have("ffprobe -version")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    struct Case {
        const char* name;
        const char* args;
        bool lyrics_stored;
    };
    const Case cases[] = {
        {"song.mp3", "-c:a libmp3lame -b:a 64k -id3v2_version 3", true},
        {"song.m4a", "-c:a aac -b:a 64k", true},
        {"song.3gp", "-c:a aac -b:a 32k -ar 16000 -ac 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto song = dir_ / c.name;
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=1 " +
                               std::string(c.args) +
                               " -metadata title=Tone -metadata artist=Someone -metadata album=Alb " +
                               ShellQuote(song.string()))
                                  .c_str()),
                  0);
        const std::string audio = AudioDigest(song);
        ASSERT_FALSE(audio.empty());
        const Result r = Quillet({"--Put", song.string(), "--Lyrics", lyrics_.string(), "--LyricsMode",
                                  "Text", "--Jacket", cover_.string(), "--Quiet"});
        // 3GP has no lyrics text: the library refuses it and the step fails.
        EXPECT_EQ(r.exit_code, c.lyrics_stored ? 0 : 1) << r.out;
        EXPECT_EQ(r.HasKey("LyricsTextFile"), c.lyrics_stored);
        EXPECT_TRUE(r.HasLine("JacketFile=" + cover_.string())) << r.out;
        EXPECT_EQ(AudioDigest(song), audio);
        const std::string tags =
            testsupport::RunShell("ffprobe -v error -show_entries format_tags -of flat " +
                                  ShellQuote(song.string()) + " 2>&1")
                .out;
        EXPECT_NE(tags.find("title=\"Tone\""), std::string::npos) << tags;
        EXPECT_NE(tags.find("album=\"Alb\""), std::string::npos) << tags;
        if (std::string(c.name) != "song.mp3") {
            EXPECT_EQ(tags.find("lyrics") != std::string::npos, c.lyrics_stored) << tags;
            const std::string streams =
                testsupport::RunShell("ffprobe -v error -show_entries stream=codec_name -of csv " +
                                      ShellQuote(song.string()) + " 2>&1")
                    .out;
            EXPECT_NE(streams.find("png"), std::string::npos) << streams;  // covr is a picture stream
        } else if (Have("/usr/bin/python3 -c 'import mutagen'")) {
            // Debian's interpreter, where python3-mutagen is installed (a
            // python3 earlier in PATH may not have it).
            const std::string id3 =
                testsupport::RunShell(
                    "/usr/bin/python3 -c 'import sys; from mutagen.id3 import ID3; t = ID3(sys.argv[1]); "
                    "print(t[\"TIT2\"], t[\"TPE1\"], len(t.getall(\"USLT\")), "
                    "[a.mime for a in t.getall(\"APIC\")])' " +
                    ShellQuote(song.string()))
                    .out;
            // Text mode also hands the lyrics to the picture attribute as a
            // "text/plain" object, for players that show only pictures: an APIC
            // of that type beside the cover.
            EXPECT_EQ(id3, "Tone Someone 1 ['image/png', 'text/plain']\n");
        }
    }
}

}  // namespace
