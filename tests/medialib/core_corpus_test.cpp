// Replays the crash corpus (tests/data/crash) through the fuzz entry without
// libFuzzer, and sweeps truncated and bit-flipped copies of generated files:
// damaged input must give a clean result, never a crash, hang or leak (the
// sanitizer build checks the latter two).
#include <gtest/gtest.h>

#include <random>

#include "container_fixtures.h"
#include "fuzz/open_entry.h"

namespace {

namespace fs = std::filesystem;

// Each corpus file of the "open" target with the opens expected to succeed
// (mask of OpenEverything). The folders beside them hold the corpora of the
// other targets (replayed by fuzz_corpus_test).
const std::map<std::string, int> kCorpus = {
    {"empty.bin", 0},
    {"id3_oversized.bin", 0},
    {"mp3_sync_garbage.bin", 0},
    {"mp4_box_overflow.bin", 0},
    {"mp4_largesize_zero.bin", 0},
    {"mp3_stereo_then_mono.bin", 9},  // dispatcher and MP3; its decode used to crash
    {"wav_huge_chunks.bin", 0},
    {"wav_no_data.bin", 0},
};

TEST(CrashCorpus, EveryFileGivesItsExpectedResult) {
    const fs::path dir = fs::path(CQ_SOURCE_DIR) / "tests" / "data" / "crash";
    ASSERT_TRUE(fs::is_directory(dir));
    size_t replayed = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::vector<uint8_t> bytes = testsupport::ReadBytes(entry.path());
        const int opened = cqfuzz::OpenEverything(bytes.data(), bytes.size());
        const auto it = kCorpus.find(entry.path().filename().string());
        if (it != kCorpus.end()) {
            EXPECT_EQ(opened, it->second) << entry.path().filename();
        }
        ++replayed;
    }
    EXPECT_GE(replayed, kCorpus.size());
}

class DamagedInput : public ::testing::TestWithParam<const char*> {};

TEST_P(DamagedInput, TruncatedAndBitFlippedCopiesNeverCrash) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const std::string recipe = GetParam();
    const size_t bar = recipe.find('|');
    const fs::path path = dir / recipe.substr(0, bar);
    ASSERT_TRUE(fixtures::MakeTone(path, recipe.substr(bar + 1), 0.3));
    std::vector<uint8_t> bytes = testsupport::ReadBytes(path);
    ASSERT_GT(bytes.size(), 64u);
    EXPECT_NE(cqfuzz::OpenEverything(bytes.data(), bytes.size()), 0);

    for (size_t len : {size_t{1}, size_t{4}, size_t{11}, size_t{12}, size_t{40}, size_t{200},
                       bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
        std::vector<uint8_t> cut(bytes.begin(),
                                 bytes.begin() + static_cast<long>(std::min(len, bytes.size())));
        cqfuzz::OpenEverything(cut.data(), cut.size());
    }
    std::mt19937 rng(1234);
    const size_t head = std::min<size_t>(bytes.size(), 4096);  // where the structure is
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> flipped = bytes;
        for (int k = 0; k < 4; ++k) {
            const size_t pos = (round % 2 ? rng() % head : rng() % flipped.size());
            flipped[pos] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        cqfuzz::OpenEverything(flipped.data(), flipped.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedInput,
                         ::testing::Values("a.wav|-c:a pcm_s16le", "a.m4a|-c:a aac -metadata title=T",
                                           "a.3gp|-c:a aac -f 3gp -metadata title=T -metadata album=A",
                                           "a.mp3|-c:a libmp3lame -metadata title=T"));

}  // namespace

namespace {

// The real OpenMG and RIFF samples, damaged the same way.
class DamagedSample : public ::testing::TestWithParam<const char*> {};

TEST_P(DamagedSample, TruncatedAndBitFlippedCopiesNeverCrash) {
    CQ_REQUIRE_SAMPLE(sample, GetParam());
    std::vector<uint8_t> bytes = testsupport::ReadBytes(sample);
    bytes.resize(std::min<size_t>(bytes.size(), 256 * 1024));  // the structure is at the front
    std::mt19937 rng(99);
    for (size_t len : {size_t{16}, size_t{100}, size_t{3072}, size_t{3200}, bytes.size() / 2}) {
        std::vector<uint8_t> cut(bytes.begin(),
                                 bytes.begin() + static_cast<long>(std::min(len, bytes.size())));
        cqfuzz::OpenEverything(cut.data(), cut.size());
    }
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> flipped = bytes;
        for (int k = 0; k < 4; ++k)
            flipped[rng() % std::min<size_t>(flipped.size(), 4096)] ^= 1u << (rng() % 8);
        cqfuzz::OpenEverything(flipped.data(), flipped.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, DamagedSample,
                         ::testing::Values("atracdencU_sine1k_at3tool_atrac3_66k_riff.at3",
                                           "pronom_03-Untitled-3_atrac3plus.oma",
                                           "atracdencU_test_atrac3_132k_noid3.oma",
                                           "pronom_02-Untitled-2_openmg_legacy.omg"));

}  // namespace
