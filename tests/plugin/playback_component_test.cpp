// Playback end to end: the built playhost decodes through the loaded
// corvina.so, the media library module and the graph runtime, in both modes,
// and what the host received must equal FFmpeg's own 16-bit decode of the same
// file, frame for frame and sample for sample. Also seeking, damaged files,
// and `play` into an ALSA device that writes to a file.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
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
  public:
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
    // MP3 inside OpenMG: MPEG-1 stereo and MPEG-2 mono (576-sample frames).
    const fs::path mp3_oma = dir / "mp3_in_ea3.oma";
    ASSERT_TRUE(testsupport::MakeMp3Oma(mp3_oma,
                                        "-f lavfi -i sine=frequency=330:sample_rate=44100:duration=2.5",
                                        "-ac 2 -c:a libmp3lame -b:a 128k"));
    ExpectSameAsFfmpeg(mp3_oma);
    const fs::path mp3_mono = dir / "mp3_mpeg2_mono_in_ea3.oma";
    ASSERT_TRUE(testsupport::MakeMp3Oma(mp3_mono,
                                        "-f lavfi -i sine=frequency=330:sample_rate=22050:duration=2.5",
                                        "-ac 1 -c:a libmp3lame -b:a 32k"));
    ExpectSameAsFfmpeg(mp3_mono);
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

// Where the seeked stream's first samples sit in FFmpeg's decode of the whole
// file, searched within one codec frame either side of `position`, and how
// far they are from it there at most.
struct Alignment {
    long offset = 0;  // frames from `position`
    int max_diff = 1 << 30;
};

Alignment BestAlignment(const std::vector<int16_t>& got, const std::vector<int16_t>& reference, int channels,
                        long position, long codec_frame, long window) {
    Alignment best;
    const size_t n = static_cast<size_t>(window) * channels;
    if (got.size() < n) return best;
    for (long d = -codec_frame; d <= codec_frame; ++d) {
        const long at = position + d;
        if (at < 0 || static_cast<size_t>(at) * channels + n > reference.size()) continue;
        int worst = 0;
        for (size_t i = 0; i < n && worst <= best.max_diff; ++i)
            worst = std::max(worst, std::abs(got[i] - reference[static_cast<size_t>(at) * channels + i]));
        if (worst < best.max_diff || (worst == best.max_diff && std::labs(d) < std::labs(best.offset)))
            best = Alignment{d, worst};
    }
    return best;
}

// After `--seek 10.5` the first delivered samples must be FFmpeg's decode of
// the whole file at 10.5 s: the host counts the track's position from the
// time it asked for, so that time is the position the player reports. The
// player starts its decoder a few codec frames early and drops the audio
// before the position by timestamp, so no decoder warm-up is visible: even
// the lapped-transform codecs (MP3, AAC, ATRAC) must match from the first
// sample, exactly, over a window of 4096 frames, in both modes; and the rest
// of the stream must be as long as FFmpeg's from there.
void ExpectSeekMatchesFfmpeg(PlaybackTest& test, const fs::path& file, int channels, long codec_frame,
                             int rate = 44100) {
    SCOPED_TRACE(file.filename().string());
    const std::vector<int16_t> reference = FfmpegS16(file);
    ASSERT_FALSE(reference.empty());
    const long position = std::lround(10.5 * rate);
    for (const char* mode : {"", "--buffered"}) {
        ProgramResult r;
        const std::vector<int16_t> got = test.Decode(file, std::string("--seek 10.5 ") + mode, &r);
        const Alignment a = BestAlignment(got, reference, channels, position, codec_frame, 4096);
        std::printf("seek %s %s: offset %ld frames, max difference %d\n", file.filename().c_str(),
                    *mode ? mode : "unbuffered", a.offset, a.max_diff);
        EXPECT_EQ(a.offset, 0) << mode << "\n" << r.out;
        EXPECT_EQ(a.max_diff, 0) << mode;
        EXPECT_EQ(static_cast<long>(got.size()),
                  static_cast<long>(reference.size()) - (position + a.offset) * channels)
            << mode;
        // And the whole rest of the stream, not only its start.
        const size_t from = static_cast<size_t>(position) * channels;
        EXPECT_TRUE(got.size() + from == reference.size() &&
                    std::equal(got.begin(), got.end(), reference.begin() + static_cast<ptrdiff_t>(from)))
            << mode;
    }
}

// A longer stream of a bare EA3 file's codec: its header, then its whole
// frames repeated `times` times (frames are independent units of the payload,
// so the result is a valid stream).
fs::path RepeatFrames(const fs::path& from, const fs::path& to, size_t frame_bytes, int times) {
    const auto bytes = testsupport::ReadBytes(from);
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 96);
    const size_t frames = (bytes.size() - 96) / frame_bytes;
    for (int t = 0; t < times; ++t)
        out.insert(out.end(), bytes.begin() + 96,
                   bytes.begin() + 96 + static_cast<ptrdiff_t>(frames * frame_bytes));
    testsupport::WriteBytes(to, out);
    return to;
}

TEST_F(PlaybackTest, SeekInGeneratedCompressedFilesDeliversFfmpegsAudioAtThePosition) {
    // Sweeping tones: no period that a wrong alignment could match. The AAC
    // files are made without perceptual noise substitution: a decoder fills
    // such bands from a random generator that runs through the whole stream,
    // so after any seek (FFmpeg's own included) they are other noise, up to
    // a few hundred LSB apart, and no position gives equal samples.
    const std::string sweep =
        "-f lavfi -i \"aevalsrc=0.4*sin(2*PI*(200+40*t)*t)|0.3*sin(2*PI*(330+25*t)*t):s=44100:d=14\" ";
    const fs::path mp3 = dir / "seek_mp3.oma";
    ASSERT_TRUE(
        testsupport::RunFfmpeg(sweep + "-f mp3 -c:a libmp3lame -b:a 192k " + ShellQuote(mp3.string())));
    ExpectSeekMatchesFfmpeg(*this, mp3, 2, 1152);
    const fs::path aac_3gp = dir / "seek_aac.3gp";
    ASSERT_TRUE(testsupport::RunFfmpeg(sweep + "-f 3gp -c:a aac -aac_pns 0 -b:a 128k " +
                                       ShellQuote(aac_3gp.string())));
    ExpectSeekMatchesFfmpeg(*this, aac_3gp, 2, 1024);
    const fs::path aac_mp4 = dir / "seek_aac_mono_mp4.3gp";
    ASSERT_TRUE(testsupport::RunFfmpeg(sweep + "-ac 1 -f mp4 -c:a aac -aac_pns 0 -b:a 64k " +
                                       ShellQuote(aac_mp4.string())));
    ExpectSeekMatchesFfmpeg(*this, aac_mp4, 1, 1024);
    // MP3 inside OpenMG, whose frames the engine finds itself.
    const fs::path mp3_oma = dir / "seek_mp3_in_ea3.oma";
    ASSERT_TRUE(testsupport::MakeMp3Oma(mp3_oma, sweep, "-c:a libmp3lame -b:a 160k"));
    ExpectSeekMatchesFfmpeg(*this, mp3_oma, 2, 1152);
}

TEST_F(PlaybackTest, SeekInRealAtracFilesDeliversFfmpegsAudioAtThePosition) {
    CQ_REQUIRE_SAMPLE(atrac3plus, "pronom_03-Untitled-3_atrac3plus.oma");
    ExpectSeekMatchesFfmpeg(*this, atrac3plus, 2, 2048);
    CQ_REQUIRE_SAMPLE(aal, "pronom_02-Untitled-2_aal_atrac3.oma");
    ExpectSeekMatchesFfmpeg(*this, aal, 2, 1024);
    // The atracdenc samples last 5 s: three times their frames.
    CQ_REQUIRE_SAMPLE(atrac3, "atracdencU_test_atrac3_132k_noid3.oma");
    ExpectSeekMatchesFfmpeg(*this, RepeatFrames(atrac3, dir / "atrac3_15s.oma", 384, 3), 2, 1024);
    CQ_REQUIRE_SAMPLE(mono, "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma");
    ExpectSeekMatchesFfmpeg(*this, RepeatFrames(mono, dir / "atrac3plus_mono_15s.oma", 760, 3), 1, 2048);
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
    // An EA3 stream whose encryption id says OpenMG-encrypted.
    CQ_REQUIRE_SAMPLE(plain, "atracdencU_test_atrac3_132k_noid3.oma");
    auto bytes = testsupport::ReadBytes(plain);
    bytes[6] = 0x00;
    bytes[7] = 0x01;
    const fs::path locked = dir / "locked.oma";
    testsupport::WriteBytes(locked, bytes);
    const ProgramResult e = Playhost("decode " + ShellQuote(locked.string()));
    EXPECT_EQ(e.exit_code, 1);
    EXPECT_TRUE(e.HasLine("error=I/O error")) << e.out;
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

TEST_F(PlaybackTest, PlayShowsItsProgressOnATerminal) {
    const fs::path file = dir / "tone.oma";
    ASSERT_TRUE(MakeTone(file, 2.5, 44100, 2, "-f wav -c:a pcm_s16le"));
    const fs::path conf = dir / "asound.conf";
    testsupport::WriteText(conf, "pcm.!default {\n  type null\n}\n");
    const std::string program = (testsupport::BinDir() / "playhost").string();
    const std::string profile = (dir / "profile").string();
    const std::string alsa = "ALSA_CONFIG_PATH=" + conf.string();

    // Raw mode, so the bytes arrive exactly as written (no "\n" to "\r\n").
    struct termios raw {};
    cfmakeraw(&raw);
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, &raw, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        putenv(const_cast<char*>(alsa.c_str()));
        execl(program.c_str(), program.c_str(), "--profile", profile.c_str(), "play", file.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    char buf[512];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;  // EIO once the child has closed the terminal
        out.append(buf, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    // One line rewritten in place: the played time against the length, then
    // a line break before the final report.
    EXPECT_NE(out.find("\rplaying 0:00 / 0:02"), std::string::npos) << out;
    EXPECT_NE(out.find("\rplaying 0:02 / 0:02\nplayed="), std::string::npos) << out;
    EXPECT_EQ(out.find("\rplaying 0:03"), std::string::npos) << out;
}

}  // namespace
