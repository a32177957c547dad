// The conversion engine on its own: what each target holds (PCM samples,
// ATRAC frames byte for byte), what it refuses, and that a failure leaves
// nothing in the work folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>

#include "library/media_ids.h"
#include "medialib/convert/converter.h"
#include "medialib/convert/work_output.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/decoder.h"
#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/openmg_file.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace {

namespace conv = medialib::conversion;
namespace container = medialib::container;
namespace codec = medialib::codec;
using testsupport::ReadBytes;

constexpr int32_t Code(int32_t c, int32_t k) { return c << 16 | k; }

class ConvertEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = dir_ / "work";
        std::filesystem::create_directory(work_);
    }
    conv::Result Run(const std::filesystem::path& source, int32_t code, int32_t rate = 0) {
        return conv::Convert({source, code, rate, work_}, nullptr);
    }
    size_t FilesInWork() const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(work_)) ++n;
        return n;
    }
    // A stereo 16-bit WAV of `seconds` made by FFmpeg.
    std::filesystem::path MakeWav(const std::string& name,
                                  const std::string& extra = "-ar 44100 -c:a pcm_s16le",
                                  double seconds = 1.5) {
        const auto path = dir_ / name;
        const auto r = testsupport::RunShell(
            "ffmpeg -v error -y -f lavfi -i 'sine=frequency=330:duration=" + std::to_string(seconds) +
            "' -f lavfi -i 'anoisesrc=d=" + std::to_string(seconds) +
            ":a=0.05' -filter_complex amerge=inputs=2 " + extra + " " +
            testsupport::ShellQuote(path.string()));
        EXPECT_EQ(r.exit_code, 0);
        return path;
    }
    static std::vector<float> Decode(const std::filesystem::path& path) {
        auto src = medialib::OpenFileSource(path);
        if (!src) return {};
        auto audio = medialib::ff::DecodeAll(*src);
        return audio ? audio->samples : std::vector<float>{};
    }

    testsupport::ScopedTempDir dir_;
    std::filesystem::path work_;
};

TEST_F(ConvertEngine, PcmRoundTripThroughOpenMgIsBitIdentical) {
    const auto wav = MakeWav("src.wav");
    const conv::Result oma = Run(wav, Code(container::Oma, codec::Pcm));
    ASSERT_TRUE(oma.ok);
    EXPECT_EQ(oma.format_code, Code(container::Oma, codec::Pcm));
    EXPECT_EQ(oma.output.parent_path(), work_);
    EXPECT_NE(oma.output.filename().string().find("src.cqconv-"), std::string::npos);
    EXPECT_EQ(oma.output.extension(), ".oma");
    const conv::Result back = Run(oma.output, Code(container::Wav, codec::Pcm));
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(Decode(back.output), Decode(wav));
    // The intermediate kind is plain OpenMG as well: read as unprotected OMA.
    const conv::Result six = Run(wav, Code(container::ProtectedOma, codec::Pcm));
    ASSERT_TRUE(six.ok);
    auto opened = medialib::OpenMediaFile(six.output);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Container(), container::Oma);
    EXPECT_TRUE(opened->Decodable());
}

TEST_F(ConvertEngine, WiderPcmStaysWiderAndOtherRatesBecomeCdForOpenMg) {
    const auto wav24 = MakeWav("deep.wav", "-ar 48000 -c:a pcm_s24le");
    const conv::Result wav = Run(wav24, Code(container::Wav, codec::Pcm));
    ASSERT_TRUE(wav.ok);
    auto opened = medialib::OpenMediaFile(wav.output);
    ASSERT_TRUE(opened);
    EXPECT_EQ(std::get<int32_t>(opened->Attributes().at(medialib::attr::BitDepth).front()), 24);
    EXPECT_EQ(Decode(wav.output), Decode(wav24));
    const conv::Result oma = Run(wav24, Code(container::Oma, codec::Pcm));
    ASSERT_TRUE(oma.ok);
    auto src = medialib::OpenFileSource(oma.output);
    auto audio = medialib::ff::DecodeAll(*src);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_NEAR(static_cast<double>(audio->samples.size()) / 2, 1.5 * 44100, 64);
}

// The bytes after the EA3 header of an OpenMG file.
std::vector<uint8_t> OpenMgPayload(const std::filesystem::path& path) {
    const auto bytes = ReadBytes(path);
    for (size_t i = 0; i + 96 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], "EA3", 3) == 0 && bytes[i + 4] == 0 && bytes[i + 5] == 0x60)
            return {bytes.begin() + static_cast<ptrdiff_t>(i + 96), bytes.end()};
    }
    return {};
}

TEST_F(ConvertEngine, AtracFramesAreRewrappedByteForByte) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    const auto payload = OpenMgPayload(sample);
    ASSERT_FALSE(payload.empty());
    for (int32_t c : {container::Omg, container::Kdr, container::ProtectedOma, container::Oma}) {
        const conv::Result r = Run(sample, Code(c, codec::Atrac3), 132000);
        ASSERT_TRUE(r.ok) << c;
        EXPECT_EQ(OpenMgPayload(r.output), payload) << c;
    }
    const conv::Result riff = Run(sample, Code(container::Wav, codec::Atrac3));
    ASSERT_TRUE(riff.ok);
    const auto bytes = ReadBytes(riff.output);
    ASSERT_GT(bytes.size(), payload.size());
    EXPECT_TRUE(
        std::equal(payload.begin(), payload.end(), bytes.end() - static_cast<ptrdiff_t>(payload.size())));
    EXPECT_EQ(std::memcmp(bytes.data() + 20, "\x70\x02", 2), 0);  // format tag 0x0270
    // And back from RIFF to OMA: the same frames again.
    const conv::Result back = Run(riff.output, Code(container::Oma, codec::Atrac3));
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(OpenMgPayload(back.output), payload);
    EXPECT_EQ(Decode(back.output), Decode(sample));
}

TEST_F(ConvertEngine, AalGivesItsAtrac3BaseLayer) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_02-Untitled-2_aal_atrac3.oma");
    const conv::Result r = Run(sample, Code(container::Oma, codec::Atrac3));
    ASSERT_TRUE(r.ok);
    const auto payload = OpenMgPayload(r.output);
    EXPECT_EQ(payload.size() % 384, 0u);
    EXPECT_EQ(payload.size() / 384, 1172u);  // one frame per BLK packet
    EXPECT_EQ(Decode(r.output), Decode(sample));
}

TEST_F(ConvertEngine, TargetsWithoutAnEncoderFailAndLeaveNothing) {
    const auto wav = MakeWav("src.wav");
    for (int32_t code :
         {Code(container::Oma, codec::Atrac3), Code(container::Omg, codec::Atrac3Plus),
          Code(container::ThreeGp, codec::HeAac), Code(container::Oma, codec::AalAtrac3),
          Code(container::Oma, 0), Code(container::Wma, codec::Wma), Code(0x1234, codec::Pcm)}) {
        EXPECT_FALSE(Run(wav, code).ok) << std::hex << code;
    }
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    EXPECT_FALSE(
        Run(sample, Code(container::Oma, codec::Atrac3), 66000).ok);  // another rate needs an encoder
    EXPECT_FALSE(Run(sample, Code(container::Oma, codec::Atrac3Plus)).ok);
    EXPECT_EQ(FilesInWork(), 0u);
}

TEST_F(ConvertEngine, ProtectedMissingAndDamagedSourcesFail) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_test_atrac3_132k_noid3.oma");
    auto bytes = ReadBytes(sample);
    const auto protected_copy = dir_ / "locked.oma";
    bytes[6] = 0x00;  // E-ID 0x0001: encrypted
    bytes[7] = 0x01;
    testsupport::WriteBytes(protected_copy, bytes);
    EXPECT_FALSE(Run(protected_copy, Code(container::Omg, codec::Atrac3)).ok);
    EXPECT_FALSE(Run(protected_copy, Code(container::Wav, codec::Pcm)).ok);
    EXPECT_FALSE(Run(dir_ / "missing.wav", Code(container::Wav, codec::Pcm)).ok);
    EXPECT_FALSE(
        conv::Convert({sample, Code(container::Wav, codec::Pcm), 0, dir_ / "no-folder"}, nullptr).ok);

    // An AAL file cut inside a packet: its frames cannot all come through.
    CQ_REQUIRE_SAMPLE(aal, "pronom_02-Untitled-2_aal_atrac3.oma");
    auto aal_bytes = ReadBytes(aal);
    aal_bytes.resize(aal_bytes.size() / 2);
    const auto cut = dir_ / "cut.oma";
    testsupport::WriteBytes(cut, aal_bytes);
    EXPECT_FALSE(Run(cut, Code(container::Oma, codec::Atrac3)).ok);
    EXPECT_EQ(FilesInWork(), 0u);
}

TEST_F(ConvertEngine, AFullWorkFolderLeavesNoPartialFile) {
    const auto wav = MakeWav("src.wav", "-ar 44100 -c:a pcm_s16le", 3);
    // A file size limit stands in for a full disk: writes past it fail.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const conv::Result wav_result = Run(wav, Code(container::Wav, codec::Pcm));
    const conv::Result aac_result = Run(wav, Code(container::ThreeGp, codec::AacLc), 320000);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(wav_result.ok);
    EXPECT_FALSE(aac_result.ok);
    EXPECT_EQ(FilesInWork(), 0u);
    EXPECT_TRUE(Run(wav, Code(container::Wav, codec::Pcm)).ok);  // and the next one works
}

TEST_F(ConvertEngine, AacAndMp3ThroughFfmpegEncoders) {
    const auto wav = MakeWav("src.wav");
    const conv::Result aac = Run(wav, Code(container::ThreeGp, codec::AacLc), 96000);
    ASSERT_TRUE(aac.ok);
    auto opened = medialib::OpenMediaFile(aac.output);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Container(), container::ThreeGp);
    EXPECT_EQ(opened->Codec(), codec::AacLc);
    const conv::Result mp3 = Run(wav, Code(container::Mp3, codec::Mp3));
    ASSERT_TRUE(mp3.ok);
    EXPECT_EQ(mp3.output.extension(), ".mp3");
    opened = medialib::OpenMediaFile(mp3.output);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Container(), container::Mp3);
}

TEST_F(ConvertEngine, ProgressRunsUpToAHundred) {
    const auto wav = MakeWav("src.wav");
    std::vector<int> seen;
    const conv::Result r = conv::Convert({wav, Code(container::Wav, codec::Pcm), 0, work_},
                                         [&](int percent) { seen.push_back(percent); });
    ASSERT_TRUE(r.ok);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 100);
}

TEST_F(ConvertEngine, SweepRemovesOnlyOutputsThatNoLiveProcessHolds) {
    const auto stale = work_ / "old.cqconv-abc123.wav";
    const auto foreign = work_ / "song.wav";
    testsupport::WriteText(stale, "left by a killed run");
    testsupport::WriteText(foreign, "a user's file");
    const auto wav = MakeWav("src.wav");
    const conv::Result live = Run(wav, Code(container::Wav, codec::Pcm));  // sweeps first
    ASSERT_TRUE(live.ok);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    conv::SweepStaleOutputs(work_);
    EXPECT_TRUE(std::filesystem::exists(live.output));  // this process still holds it
}

}  // namespace
