// The built programs with a media library whose FFmpeg part (medialib_av.so,
// loaded on first use) is missing: a scratch copy of the library module and
// its registry without it. Whatever needs no FFmpeg (OpenMG tag listings, a
// plain MP3 or PCM WAV) works as with the whole library; what needs it (the
// values of other MPEG audio, a conversion, decoding) fails exactly as it
// fails on content FFmpeg cannot read, and leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/audio_reference.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;

class WithoutAvModule : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path bin = testsupport::BinDir();
        ASSERT_TRUE(fs::exists(bin / "medialib_av.so")) << "the build puts medialib_av.so beside medialib.so";
        lib_ = dir_ / "lib";
        fs::create_directory(lib_);
        for (const char* name : {"medialib.so", "quartz.so", "registry.reg"})
            fs::copy_file(bin / name, lib_ / name);
        song_ = dir_ / "song.oma";
        ASSERT_EQ(testsupport::RunProgram(bin / "make_demo_oma", {song_.string(), "1"}).exit_code, 0);
    }

    // A program of bin/ with the whole library (Whole) or with the scratch copy (Partial).
    static ProgramResult Run(const std::vector<std::string>& args, const fs::path& registry,
                             const char* program) {
        return testsupport::RunProgram(testsupport::BinDir() / program, args,
                                       {"LC_ALL=C.UTF-8", "CQ_REGISTRY_FILE=" + registry.string()});
    }
    ProgramResult Whole(const std::vector<std::string>& args, const char* program = "Quillet") const {
        return Run(args, testsupport::BinDir() / "registry.reg", program);
    }
    ProgramResult Partial(const std::vector<std::string>& args, const char* program = "Quillet") const {
        return Run(args, lib_ / "registry.reg", program);
    }

    testsupport::ScopedTempDir dir_;
    fs::path lib_;
    fs::path song_;
};

TEST_F(WithoutAvModule, OpenMgTagsAreListedAsWithTheWholeLibrary) {
    const ProgramResult whole = Whole({"--Get", song_.string()});
    ASSERT_EQ(whole.exit_code, 0);
    ASSERT_TRUE(whole.HasKey("TargetTrack"));
    const ProgramResult partial = Partial({"--Get", song_.string()});
    EXPECT_EQ(partial.exit_code, whole.exit_code);
    EXPECT_EQ(partial.out, whole.out);
}

// A plain MP3 is measured from its frame headers: its listing needs no FFmpeg.
TEST_F(WithoutAvModule, APlainMp3IsListedAsWithTheWholeLibrary) {
    const fs::path mp3 = dir_ / "tone.mp3";
    ASSERT_TRUE(testsupport::MakeTone(mp3, 1, 44100, 2, "-c:a libmp3lame -b:a 128k"));
    const ProgramResult whole = Whole({"--Get", mp3.string()});
    ASSERT_EQ(whole.exit_code, 0);
    ASSERT_TRUE(whole.HasKey("TargetTrack"));
    const ProgramResult partial = Partial({"--Get", mp3.string()});
    EXPECT_EQ(partial.exit_code, whole.exit_code);
    EXPECT_EQ(partial.out, whole.out);
}

// MPEG audio whose values only FFmpeg measures (here Layer II) fails as an
// unreadable file does.
TEST_F(WithoutAvModule, AnMp3ThatNeedsFfmpegFailsAsAnUnreadableFileDoes) {
    const fs::path mp3 = dir_ / "tone.mp3";
    ASSERT_TRUE(testsupport::MakeTone(mp3, 1, 44100, 2, "-c:a mp2 -b:a 192k -f mp2"));
    const ProgramResult whole = Whole({"--Get", mp3.string()});
    ASSERT_EQ(whole.exit_code, 0);
    ASSERT_TRUE(whole.HasKey("TargetTrack"));

    // The same name with bytes no reader takes, through the whole library.
    const fs::path junk_dir = dir_ / "junk";
    fs::create_directory(junk_dir);
    const fs::path junk = junk_dir / "tone.mp3";
    testsupport::WriteText(junk, std::string(4096, 'x'));
    ProgramResult unreadable = Whole({"--Get", junk.string()});
    const ProgramResult partial = Partial({"--Get", mp3.string()});
    EXPECT_EQ(partial.exit_code, unreadable.exit_code);
    EXPECT_FALSE(partial.HasKey("TargetTrack"));
    // The outputs differ only in the folder named.
    std::string expected = unreadable.out;
    for (size_t at; (at = expected.find(junk_dir.string())) != std::string::npos;)
        expected.replace(at, junk_dir.string().size(), dir_.path().string());
    EXPECT_EQ(partial.out, expected);
}

TEST_F(WithoutAvModule, AConversionFailsAndLeavesNothing) {
    const fs::path work = dir_ / "work";
    fs::create_directory(work);
    const std::vector<uint8_t> before = testsupport::ReadBytes(song_);
    const ProgramResult partial = Partial({"--Convert", song_.string(), "--TempPath", work.string()});
    EXPECT_NE(partial.exit_code, 0);
    EXPECT_FALSE(partial.HasKey("Location"));
    EXPECT_FALSE(fs::exists(dir_ / "song.wav"));
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_TRUE(testsupport::ReadBytes(song_) == before);

    // The same conversion through the whole library works.
    const ProgramResult whole = Whole({"--Convert", song_.string(), "--TempPath", work.string()});
    EXPECT_EQ(whole.exit_code, 0) << whole.out;
    EXPECT_TRUE(fs::exists(dir_ / "song.wav"));
}

// The player's plug-in decodes through the library's player, whose filters
// are FFmpeg's: without them the decode is refused with an error, while the
// file's information is read as before.
TEST_F(WithoutAvModule, ThePlayerRefusesToDecodeAndInfoStillWorks) {
    const ProgramResult whole = Whole({"decode", song_.string()}, "playhost");
    ASSERT_EQ(whole.exit_code, 0) << whole.out;
    EXPECT_TRUE(whole.HasLine("frames=44100")) << whole.out;
    const ProgramResult partial = Partial({"decode", song_.string()}, "playhost");
    EXPECT_EQ(partial.exit_code, 1) << partial.out;
    EXPECT_TRUE(partial.HasKey("error")) << partial.out;
    EXPECT_FALSE(partial.HasKey("frames"));

    const ProgramResult info_whole = Whole({"info", song_.string()}, "playhost");
    ASSERT_EQ(info_whole.exit_code, 0);
    const ProgramResult info_partial = Partial({"info", song_.string()}, "playhost");
    EXPECT_EQ(info_partial.exit_code, 0);
    EXPECT_EQ(info_partial.out, info_whole.out);
}

}  // namespace
