// "--Convert" through the built Quillet and media library on real samples and
// generated files, checked with FFmpeg: PCM bit for bit, ATRAC frames byte for
// byte, the AAL base layer, AAC length and quality, and the faults (a full or
// read-only folder, a cut-off source, a killed run) that must never change the
// target or leave files behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "support/processes.h"
#include "support/test_support.h"

namespace {

using testsupport::ProgramResult;
using testsupport::ShellQuote;
namespace fs = std::filesystem;

ProgramResult Quillet(std::vector<std::string> args) {
    return testsupport::RunProgram(testsupport::BinDir() / "Quillet", args, {"LC_ALL=C.UTF-8"});
}

std::string Shell(const std::string& command) {
    const ProgramResult r = testsupport::RunShell(command);
    EXPECT_EQ(r.exit_code, 0) << command;
    return r.out;
}

// FFmpeg's digest of the decoded audio (`sample_format` e.g. s16le, f32le).
std::string AudioMd5(const fs::path& file, const std::string& sample_format = "s16le") {
    return Shell("ffmpeg -v error -i " + ShellQuote(file.string()) + " -map 0:a -c:a pcm_" + sample_format +
                 " -f md5 -");
}
// FFmpeg's per-packet digests of the stream copied as it is (no timestamps).
std::string PacketDigests(const fs::path& file) {
    return Shell("ffmpeg -v error -i " + ShellQuote(file.string()) +
                 " -map 0:a -c copy -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}'");
}
std::string StreamBytesMd5(const fs::path& file) {
    return Shell("ffmpeg -v error -i " + ShellQuote(file.string()) + " -map 0:a -c copy -f data - | md5sum");
}
std::vector<float> DecodeF32(const fs::path& file) {
    const std::string raw = Shell("ffmpeg -v error -i " + ShellQuote(file.string()) + " -ac 1 -f f32le -");
    std::vector<float> samples(raw.size() / 4);
    std::memcpy(samples.data(), raw.data(), samples.size() * 4);
    return samples;
}

// Names in `folder` that the engine's outputs carry.
std::vector<std::string> EngineFiles(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.find(".cqconv-") != std::string::npos) found.push_back(name);
    }
    return found;
}

class ConvertProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = dir_ / "work";
        fs::create_directory(work_);
    }
    void TearDown() override {
        for (const auto& folder : {work_, dir_.path(), fs::temp_directory_path(), testsupport::BinDir()})
            EXPECT_TRUE(EngineFiles(folder).empty()) << folder;
    }
    ProgramResult Convert(const fs::path& target, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--Convert", target.string(), "--TempPath", work_.string()};
        args.insert(args.end(), more.begin(), more.end());
        return Quillet(args);
    }
    fs::path Copy(const fs::path& from, const std::string& name) {
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
        fs::permissions(dir_ / name, fs::perms::owner_read | fs::perms::owner_write);
        return dir_ / name;
    }
    // A five-second music-like test signal: a chord whose notes come and go, with a little noise.
    fs::path MakeMusic(const std::string& name, double seconds = 5) {
        const fs::path path = dir_ / name;
        Shell(
            "ffmpeg -v error -y -f lavfi -i \"aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.5*t))+"
            "0.2*sin(2*PI*277.2*t)+0.15*sin(2*PI*329.6*t)*(t-floor(t))+0.1*sin(2*PI*880*t)|"
            "0.3*sin(2*PI*220*t)+0.2*sin(2*PI*440*t)*(0.5+0.5*cos(2*PI*t))+0.1*sin(2*PI*1318.5*t):d=" +
            std::to_string(seconds) + ":s=44100\" -c:a pcm_s16le " + ShellQuote(path.string()));
        return path;
    }

    testsupport::ScopedTempDir dir_;
    fs::path work_;
};

TEST_F(ConvertProgram, WithoutFileTypeTheTargetBecomesAWavBesideIt) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    const fs::path target = Copy(sample, "song.oma");
    const ProgramResult r = Convert(target);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("Location=" + (dir_ / "song.wav").string()));
    EXPECT_TRUE(r.HasLine("Codec=1"));
    // The ATRAC3 decode, as 16-bit PCM.
    EXPECT_EQ(AudioMd5(dir_ / "song.wav"), AudioMd5(target));
    EXPECT_EQ(testsupport::ReadBytes(target), testsupport::ReadBytes(sample));
}

TEST_F(ConvertProgram, PcmThroughOpenMgAndBackIsBitIdentical) {
    const fs::path wav = MakeMusic("music.wav", 2);
    ASSERT_EQ(Convert(wav, {"--FileType", "PCM", "--Title", "Round Trip"}).exit_code, 0);
    ASSERT_TRUE(fs::exists(dir_ / "music.oma"));
    const ProgramResult back = Convert(dir_ / "music.oma", {"--Output", (dir_ / "back").string()});
    ASSERT_EQ(back.exit_code, 0) << back.out;
    EXPECT_TRUE(back.HasLine("Title=Round Trip"));
    EXPECT_EQ(AudioMd5(dir_ / "back.wav"), AudioMd5(wav));
}

TEST_F(ConvertProgram, Atrac3FramesAndTagsComeThroughEveryWrapping) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    const fs::path target = Copy(sample, "song.oma");
    ASSERT_EQ(
        Quillet({"--Put", target.string(), "--Title", "Frames", "--Artist", "Kept", "--Quiet"}).exit_code, 0);
    const std::string packets = PacketDigests(target);
    ASSERT_FALSE(packets.empty());
    for (const std::string type : {"OMG", "KDR3"}) {
        const ProgramResult r = Convert(target, {"--FileType", type});
        ASSERT_EQ(r.exit_code, 0) << type << r.out;
        EXPECT_TRUE(r.HasLine("Title=Frames")) << type;
        EXPECT_TRUE(r.HasLine("Codec=16")) << type;
    }
    EXPECT_EQ(PacketDigests(dir_ / "song.omg"), packets);
    EXPECT_EQ(PacketDigests(dir_ / "song.kdr"), packets);
    // ATRAC3 in RIFF/WAVE: FFmpeg groups its packets differently, so the
    // stream bytes are compared whole.
    const ProgramResult riff =
        Convert(target, {"--FileType", "0x10020010", "--Output", (dir_ / "riff").string()});
    ASSERT_EQ(riff.exit_code, 0) << riff.out;
    EXPECT_TRUE(riff.HasLine("Artist=Kept"));
    EXPECT_EQ(StreamBytesMd5(dir_ / "riff.wav"), StreamBytesMd5(target));
    EXPECT_EQ(AudioMd5(dir_ / "riff.wav", "f32le"), AudioMd5(target, "f32le"));
}

TEST_F(ConvertProgram, AalBecomesAtrac3WithTheBaseLayersSound) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_02-Untitled-2_aal_atrac3.oma");
    const fs::path target = Copy(sample, "lossless.oma");
    const ProgramResult r = Convert(target, {"--FileType", "OMA3", "--Output", (dir_ / "base").string()});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("Codec=16"));
    EXPECT_TRUE(r.HasLine("Title=Untitled(2)"));
    EXPECT_EQ(AudioMd5(dir_ / "base.oma", "f32le"), AudioMd5(target, "f32le"));
}

TEST_F(ConvertProgram, AacIsAsLongAsTheSourceAndSoundsLikeIt) {
    const fs::path wav = MakeMusic("music.wav");
    const ProgramResult r = Convert(wav, {"--FileType", "AACL", "--BitRate", "128000"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("Codec=2"));
    const std::vector<float> source = DecodeF32(wav);
    const std::vector<float> coded = DecodeF32(dir_ / "music.3gp");
    ASSERT_FALSE(coded.empty());
    EXPECT_LE(std::abs(static_cast<long>(coded.size()) - static_cast<long>(source.size())), 1024);
    double signal = 0, noise = 0;
    for (size_t i = 0; i < std::min(source.size(), coded.size()); ++i) {
        signal += static_cast<double>(source[i]) * source[i];
        noise += (static_cast<double>(source[i]) - coded[i]) * (static_cast<double>(source[i]) - coded[i]);
    }
    EXPECT_GE(10 * std::log10(signal / noise), 20.0);
}

TEST_F(ConvertProgram, TargetsWithoutAnEncoderFailWithoutAFile) {
    const fs::path wav = MakeMusic("music.wav", 1);
    for (const std::string type : {"OMA3", "AACH"}) {
        const ProgramResult r = Convert(wav, {"--FileType", type});
        EXPECT_EQ(r.exit_code, 1) << type;
        EXPECT_FALSE(r.HasKey("Location")) << type;
        EXPECT_TRUE(r.HasLine("EOS.")) << type;
    }
    EXPECT_EQ(fs::directory_iterator(work_), fs::directory_iterator());
}

TEST_F(ConvertProgram, AnExistingOutputIsKeptWithoutForceWrite) {
    const fs::path wav = MakeMusic("music.wav", 1);
    testsupport::WriteText(dir_ / "music.oma", "precious");
    EXPECT_EQ(Convert(wav, {"--FileType", "PCM"}).exit_code, 1);
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "music.oma").size(), 8u);
    // A read-only output is not replaced even with --ForceWrite.
    fs::permissions(dir_ / "music.oma", fs::perms::owner_read);
    EXPECT_EQ(Convert(wav, {"--FileType", "PCM", "--ForceWrite"}).exit_code, 1);
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "music.oma").size(), 8u);
    fs::permissions(dir_ / "music.oma", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Convert(wav, {"--FileType", "PCM", "--ForceWrite"}).exit_code, 0);
    EXPECT_GT(fs::file_size(dir_ / "music.oma"), 8u);
}

// A small file system of the test's own (needs the right to mount; the test
// is skipped without it).
class Mount {
  public:
    Mount(const fs::path& at, const std::string& options) : at_(at) {
        fs::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~Mount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

  private:
    fs::path at_;
    bool mounted_ = false;
};

TEST_F(ConvertProgram, AFullWorkFolderIsLeftEmptyAndTheNextFolderServes) {
    const fs::path wav = MakeMusic("music.wav", 3);
    const Mount full(dir_ / "tiny", "size=64k");
    if (!full.mounted()) GTEST_SKIP() << "no right to mount a small tmpfs here";
    const ProgramResult r =
        Quillet({"--Convert", wav.string(), "--TempPath", (dir_ / "tiny").string(), "--FileType", "PCM"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(fs::is_empty(dir_ / "tiny"));
    EXPECT_TRUE(fs::exists(dir_ / "music.oma"));
}

TEST_F(ConvertProgram, AReadOnlyOutputFolderFailsAndKeepsTheTarget) {
    const fs::path wav = MakeMusic("music.wav", 1);
    const auto before = testsupport::ReadBytes(wav);
    const Mount read_only(dir_ / "locked", "ro,size=64k");
    if (read_only.mounted()) {
        const ProgramResult r =
            Convert(wav, {"--FileType", "PCM", "--Output", (dir_ / "locked" / "out").string()});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(fs::is_empty(dir_ / "locked"));
    }
    // An output folder that cannot be made (a file stands in its way).
    testsupport::WriteText(dir_ / "blocker", "x");
    const ProgramResult r =
        Convert(wav, {"--FileType", "PCM", "--Output", (dir_ / "blocker" / "out").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(testsupport::ReadBytes(wav), before);
}

TEST_F(ConvertProgram, ACutOffSourceLeavesNothingBehind) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_02-Untitled-2_aal_atrac3.oma");
    auto bytes = testsupport::ReadBytes(sample);
    bytes.resize(bytes.size() * 2 / 3);
    testsupport::WriteBytes(dir_ / "cut.oma", bytes);
    const ProgramResult r =
        Convert(dir_ / "cut.oma", {"--FileType", "OMA3", "--Output", (dir_ / "out").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "cut.oma"), bytes);
    EXPECT_FALSE(fs::exists(dir_ / "out.oma"));
    // A cut-off PCM source converts what is there.
    const fs::path wav = MakeMusic("music.wav", 2);
    auto pcm = testsupport::ReadBytes(wav);
    pcm.resize(pcm.size() / 2 + 1);
    testsupport::WriteBytes(dir_ / "half.wav", pcm);
    EXPECT_EQ(Convert(dir_ / "half.wav", {"--FileType", "PCM"}).exit_code, 0);
}

TEST_F(ConvertProgram, AKilledRunLeavesTheTargetAndTheNextRunWorks) {
    const fs::path wav = dir_ / "long.wav";
    Shell("ffmpeg -v error -f lavfi -i sine=frequency=500:duration=20 -ac 2 -c:a pcm_s16le " +
          ShellQuote(wav.string()));
    const auto before = testsupport::ReadBytes(wav);
    const fs::path program = testsupport::BinDir() / "Quillet";
    for (const std::string type : {"AACL", "PCM"}) {  // one stage, two stages
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execl(program.c_str(), "Quillet", "--Convert", wav.c_str(), "--TempPath", work_.c_str(),
                    "--FileType", type.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::usleep(type == "PCM" ? 900000 : 400000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(testsupport::ReadBytes(wav), before);
        // Nothing half-written carries a name; a complete intermediate that
        // the killed run could not delete is swept by the next run.
        for (const auto& e : fs::directory_iterator(work_)) {
            EXPECT_NE(e.path().filename().string().find(".cqconv-"), std::string::npos) << e.path();
        }
    }
    const ProgramResult next = Convert(wav, {"--FileType", "AACL", "--BitRate", "64000"});
    EXPECT_EQ(next.exit_code, 0) << next.out;
    EXPECT_TRUE(fs::is_empty(work_));
}

TEST_F(ConvertProgram, NoProgressTextWhenStandardErrorIsNoTerminal) {
    const fs::path wav = MakeMusic("music.wav", 1);
    const ProgramResult r = testsupport::RunShell(
        ShellQuote((testsupport::BinDir() / "Quillet").string()) + " --Convert " + ShellQuote(wav.string()) +
        " --TempPath " + ShellQuote(work_.string()) + " --FileType PCM --Quiet 2>&1");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.find("Converting"), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

}  // namespace
