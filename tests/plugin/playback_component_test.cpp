// Playback end to end: the built playhost decodes through the loaded
// corvina.so, the media library module and the graph runtime, in both modes,
// and what the host received must equal FFmpeg's own 16-bit decode of the same
// file, frame for frame and sample for sample. Also seeking, damaged files,
// and `play` into an ALSA device that writes to a file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "medialib/openmg/openmg_file.h"
#include "support/audio_reference.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FfmpegS16;
using testsupport::MakeTone;
using testsupport::ProgramResult;
using testsupport::ShellQuote;

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // 3GP files are the plug-in's only when the user allows them.
        ASSERT_EQ(Playhost("config support_3gp on").exit_code, 0);
    }

    ProgramResult Playhost(const std::string& words, const std::string& env = "") {
        return testsupport::RunShell(env + " " + ShellQuote((testsupport::BinDir() / "playhost").string()) +
                                     " --profile " + ShellQuote((dir / "profile").string()) + " " + words +
                                     " 2>/dev/null");
    }

    // `playhost decode` of `file` (extra words appended); the WAV's samples.
    std::vector<int16_t> Decode(const fs::path& file, const std::string& extra,
                                ProgramResult* result = nullptr) {
        const fs::path wav = dir / "out.wav";
        fs::remove(wav);
        ProgramResult r = Playhost("decode " + ShellQuote(file.string()) + " --out " +
                                   ShellQuote(wav.string()) + " " + extra);
        if (result) *result = r;
        EXPECT_EQ(r.exit_code, 0) << r.out;
        const auto bytes = testsupport::ReadBytes(wav);
        EXPECT_GE(bytes.size(), 44u);
        EXPECT_EQ(std::string(bytes.begin() + 20, bytes.begin() + 22), std::string("\x01\x00", 2))
            << "16-bit PCM WAV";
        std::vector<int16_t> samples(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
        if (!samples.empty()) std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
        return samples;
    }

    void ExpectSameAsFfmpeg(const fs::path& file) {
        const std::vector<int16_t> reference = FfmpegS16(file);
        ASSERT_FALSE(reference.empty()) << file;
        for (const char* mode : {"", "--buffered"}) {
            const std::vector<int16_t> got = Decode(file, mode);
            ASSERT_EQ(got.size(), reference.size()) << file << " " << mode;
            EXPECT_TRUE(got == reference) << file << " " << mode;
        }
    }

    testsupport::ScopedTempDir dir;
};

TEST_F(PlaybackTest, RealSamplesDecodeExactlyAsFfmpeg) {
    for (const char* name :
         {"atracdencU_test_atrac3_132k_noid3.oma", "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma",
          "pronom_03-Untitled-3_atrac3plus.oma", "pronom_02-Untitled-2_aal_atrac3.oma",
          "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3"}) {
        CQ_REQUIRE_SAMPLE(path, name);
        // The plug-in claims by extension and the library reads by content:
        // the RIFF file plays under an .oma name.
        fs::path file = path;
        if (path.extension() == ".at3") {
            file = dir / "riff_atrac3.oma";
            fs::copy_file(path, file);
        }
        ExpectSameAsFfmpeg(file);
    }
}

TEST_F(PlaybackTest, GeneratedFilesDecodeExactlyAsFfmpeg) {
    struct Made {
        const char* name;
        int channels;
        const char* options;
    };
    // WAV and MP3 play under an .oma name (the library reads by content); the
    // MP4 family as .3gp, which the plug-in claims with support_3gp on.
    const Made made[] = {
        {"wav_stereo.oma", 2, "-f wav -c:a pcm_s16le"},
        {"wav_6ch.oma", 6, "-f wav -c:a pcm_s16le"},
        {"mp3_mono.oma", 1, "-f mp3 -c:a libmp3lame -b:a 96k"},
        {"mp3_stereo.oma", 2, "-f mp3 -c:a libmp3lame -b:a 192k"},
        {"aac_lc.3gp", 2, "-f 3gp -c:a aac -b:a 96k"},
        {"aac_lc_mono_mp4.3gp", 1, "-f mp4 -c:a aac -b:a 64k"},
        {"aac_6ch_mp4.3gp", 6, "-f mp4 -c:a aac -b:a 256k"},
    };
    for (const Made& m : made) {
        const fs::path file = dir / m.name;
        ASSERT_TRUE(MakeTone(file, 2.5, 44100, m.channels, m.options)) << m.name;
        SCOPED_TRACE(m.name);
        ExpectSameAsFfmpeg(file);
    }
    const fs::path oma = dir / "demo_pcm.oma";
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(oma, 2.0));
    ExpectSameAsFfmpeg(oma);
}

TEST_F(PlaybackTest, SeekStartsAtThePositionAndPastTheEndEndsCleanly) {
    const fs::path file = dir / "long.oma";
    ASSERT_TRUE(MakeTone(file, 12.0, 44100, 2, "-f wav -c:a pcm_s16le"));
    const std::vector<int16_t> reference = FfmpegS16(file);
    for (const char* mode : {"", "--buffered"}) {
        const std::vector<int16_t> got = Decode(file, std::string("--seek 10.5 ") + mode);
        const size_t offset = static_cast<size_t>(10.5 * 44100) * 2;
        ASSERT_EQ(got.size(), reference.size() - offset) << mode;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + static_cast<ptrdiff_t>(offset)))
            << mode;
        ProgramResult r;
        const std::vector<int16_t> none = Decode(file, std::string("--seek 30 ") + mode, &r);
        EXPECT_TRUE(none.empty());
        EXPECT_TRUE(r.HasLine("frames=0")) << r.out;
    }
}

TEST_F(PlaybackTest, SeekInACompressedFileLandsWithinOneCodecFrame) {
    CQ_REQUIRE_SAMPLE(path, "pronom_03-Untitled-3_atrac3plus.oma");
    const std::vector<int16_t> reference = FfmpegS16(path);
    ProgramResult r;
    const std::vector<int16_t> got = Decode(path, "--seek 10.5", &r);
    const long expected = static_cast<long>(reference.size() / 2) - static_cast<long>(10.5 * 44100);
    EXPECT_LE(std::labs(static_cast<long>(got.size() / 2) - expected), 2048) << r.out;
}

TEST_F(PlaybackTest, DamagedFilesEndTheTrackOrFailWithTheirText) {
    CQ_REQUIRE_SAMPLE(path, "atracdencU_test_atrac3_132k_noid3.oma");
    auto bytes = testsupport::ReadBytes(path);
    const fs::path truncated = dir / "truncated.oma";
    testsupport::WriteBytes(truncated, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 3));
    auto flipped_bytes = bytes;
    for (size_t i = 200; i < flipped_bytes.size(); i += 97) flipped_bytes[i] ^= 0x5A;
    const fs::path flipped = dir / "flipped.oma";
    testsupport::WriteBytes(flipped, flipped_bytes);
    const fs::path header_only = dir / "no_audio.oma";
    testsupport::WriteBytes(header_only, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 96));
    // A WAV file whose data chunk holds no audio.
    const fs::path empty_wav = dir / "empty_wav.oma";
    testsupport::WriteBytes(empty_wav,
                            {'R', 'I', 'F', 'F', 36, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
                             ' ', 16,  0,   0,   0,  1, 0,   2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1,
                             2,   0,   4,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0});
    for (const fs::path& file : {truncated, flipped, header_only, empty_wav}) {
        for (const char* mode : {"", "--buffered"}) {
            const ProgramResult r = Playhost("decode " + ShellQuote(file.string()) + " " + mode);
            SCOPED_TRACE(file.filename().string() + " " + mode + "\n" + r.out);
            ASSERT_TRUE(r.exit_code == 0 || r.exit_code == 1) << "no crash";
            if (r.exit_code == 1) {
                EXPECT_TRUE(r.HasLine("error=Unsupported file format") || r.HasLine("error=I/O error"));
            }
        }
    }
}

TEST_F(PlaybackTest, ProtectedAndLegacyFilesAreRefused) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_openmg_legacy.omg");
    const ProgramResult r = Playhost("decode " + ShellQuote(path.string()));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.HasLine("error=I/O error")) << r.out;
}

TEST_F(PlaybackTest, PlayWritesTheAudioToTheSoundDevice) {
    const fs::path file = dir / "tone.oma";
    ASSERT_TRUE(MakeTone(file, 1.0, 48000, 2, "-f wav -c:a pcm_s16le"));
    const fs::path raw = dir / "device.raw";
    const fs::path conf = dir / "asound.conf";
    testsupport::WriteText(conf, "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                     raw.string() + "\"\n  format \"raw\"\n}\n");
    const ProgramResult r =
        Playhost("play " + ShellQuote(file.string()), "ALSA_CONFIG_PATH=" + ShellQuote(conf.string()));
    ASSERT_EQ(r.exit_code, 0) << r.out;
    const auto written = testsupport::ReadBytes(raw);
    const auto reference = FfmpegS16(file);
    ASSERT_EQ(written.size(), reference.size() * 2);
    EXPECT_EQ(std::memcmp(written.data(), reference.data(), written.size()), 0);

    testsupport::WriteText(conf, "# no devices\n");
    const ProgramResult none =
        Playhost("play " + ShellQuote(file.string()), "ALSA_CONFIG_PATH=" + ShellQuote(conf.string()));
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_TRUE(none.out.find("error=no sound device") != std::string::npos) << none.out;
}

}  // namespace
