// The pieces of the bitstream and filter bank against the format's own
// definitions: the MDCT against its cosine sum, the Huffman codes as complete
// prefix codes with the documented code words, the subband-count rule for
// FFmpeg's decoder, the gain curve, exact unit sizes, and the frame layouts.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "medialib/codecs/atrac3/atrac3_encoder.h"
#include "medialib/codecs/atrac3/filter_bank.h"
#include "medialib/codecs/atrac3/gain_control.h"
#include "medialib/codecs/atrac3/sound_unit.h"
#include "medialib/codecs/atrac3/tables.h"
#include "medialib_atrac3/atrac3_test_util.h"

namespace {

using namespace medialib::atrac3;

std::string Bits(Code c) {
    std::string s;
    for (int i = c.length - 1; i >= 0; --i) s += ((c.bits >> i) & 1) ? '1' : '0';
    return s;
}

TEST(Atrac3Tables, MdctIsTheWindowedCosineSum) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    float samples[512];
    for (float& s : samples) s = u(rng);
    float lines[256];
    Mdct mdct;
    mdct.Forward(samples, lines);
    const auto& a = GetTables().analysis_window;
    for (int k = 0; k < 256; k += 17) {
        double sum = 0.0;
        for (int n = 0; n < 512; ++n) {
            sum += a[n] * samples[n] * std::cos(M_PI / 256.0 * (n + 128.5) * (k + 0.5));
        }
        EXPECT_NEAR(lines[k], sum / 512.0, 1e-3 + 1e-4 * std::fabs(sum / 512.0)) << k;
    }
}

TEST(Atrac3Tables, HuffmanCodesAreCompletePrefixCodes) {
    const Tables& t = GetTables();
    for (int sel = 1; sel < kSelectors; ++sel) {
        std::vector<Code> codes;
        if (sel == 1) {
            codes.assign(t.vlc_pair.begin(), t.vlc_pair.end());
        } else {
            for (int m = -kMantissaLimit[sel]; m <= kMantissaLimit[sel]; ++m)
                codes.push_back(t.vlc[sel][m + 31]);
        }
        double kraft = 0.0;
        for (const Code& c : codes) kraft += std::ldexp(1.0, -c.length);
        EXPECT_DOUBLE_EQ(kraft, 1.0) << "selector " << sel;
        for (size_t i = 0; i < codes.size(); ++i) {
            for (size_t j = 0; j < codes.size(); ++j) {
                if (i == j) continue;
                const std::string a = Bits(codes[i]);
                const std::string b = Bits(codes[j]);
                EXPECT_NE(b.rfind(a, 0), 0u) << "selector " << sel << ": " << a << " prefixes " << b;
            }
        }
    }
    // Code words as the format lists them.
    EXPECT_EQ(Bits(t.vlc_pair[(-1 + 1) * 3 + (1 + 1)]), "11110");
    EXPECT_EQ(Bits(t.vlc[3][-3 + 31]), "1111");
    EXPECT_EQ(Bits(t.vlc[5][7 + 31]), "1100");
    EXPECT_EQ(Bits(t.vlc[5][-6 + 31]), "111111");
    EXPECT_EQ(Bits(t.vlc[6][15 + 31]), "1000");
    EXPECT_EQ(Bits(t.vlc[6][-11 + 31]), "1111001");
    EXPECT_EQ(Bits(t.vlc[7][-31 + 31]), "0011");
    EXPECT_EQ(Bits(t.vlc[7][-30 + 31]), "11111111");
    EXPECT_FLOAT_EQ(t.scale_factor[15], 1.0f);
    EXPECT_FLOAT_EQ(t.scale_factor[63], 65536.0f);
}

TEST(Atrac3SoundUnit, SubbandCountSkipsFfmpegsDroppedBandStarts) {
    EXPECT_EQ(SentSubbandCount(-1), 1);
    EXPECT_EQ(SentSubbandCount(0), 2);
    EXPECT_EQ(SentSubbandCount(17), 18);
    EXPECT_EQ(SentSubbandCount(18), 20);
    EXPECT_EQ(SentSubbandCount(26), 28);
    EXPECT_EQ(SentSubbandCount(29), 30);
    EXPECT_EQ(SentSubbandCount(30), 32);
    EXPECT_EQ(SentSubbandCount(31), 32);
}

TEST(Atrac3GainControl, CurveScalesBeforeTheRampAndReachesOne) {
    BandGain g;
    g.count = 1;
    g.points[0] = {7, 10};  // x 1/8 until sample 80, ramp to 1 over 80..87
    float curve[256];
    GainCurve(g, curve);
    EXPECT_FLOAT_EQ(curve[0], 0.125f);
    EXPECT_FLOAT_EQ(curve[79], 0.125f);
    EXPECT_FLOAT_EQ(curve[80], 0.125f);
    EXPECT_NEAR(curve[84], 0.125f * std::exp2(12.0f / 8.0f), 1e-6);
    EXPECT_FLOAT_EQ(curve[88], 1.0f);
    EXPECT_FLOAT_EQ(curve[255], 1.0f);
}

TEST(Atrac3GainControl, AttackAfterQuietGetsOnePointBeforeIt) {
    float slot[256] = {};
    for (int i = 0; i < 256; ++i) slot[i] = (i >= 120 ? 20000.0f : 50.0f) * (i % 2 ? 1.0f : -1.0f);
    const BandGain g = DetectAttack(slot, 50.0f);
    ASSERT_EQ(g.count, 1);
    EXPECT_EQ(g.points[0].location, 120 / 8 - 1);
    EXPECT_GT(g.points[0].level, 4);
    // A steady signal, or a loud previous slot, needs none.
    EXPECT_EQ(DetectAttack(slot, 30000.0f).count, 0);
    for (float& s : slot) s = 20000.0f;
    EXPECT_EQ(DetectAttack(slot, 20000.0f).count, 0);
}

TEST(Atrac3GainControl, ReleaseLowersTheLoudPartBeforeASilentTail) {
    // A click from the slot start that is gone after 80 samples: one point
    // raising the decoder's gain over the loud part, back to 1 for the tail.
    float slot[256] = {};
    for (int i = 0; i < 80; ++i) slot[i] = (i % 2 ? 1.0f : -1.0f) * 20000.0f;
    const BandGain release = DetectAttack(slot, 20000.0f);
    ASSERT_EQ(release.count, 1);
    EXPECT_LT(release.points[0].level, 4);
    EXPECT_EQ(release.points[0].location, 80 / 8 - 1);
    // Quiet, then a click, then silence: attack and release, in order.
    float burst[256] = {};
    for (int i = 0; i < 256; ++i) burst[i] = i < 96 ? 10.0f : i < 160 ? 20000.0f : 0.0f;
    const BandGain both = DetectAttack(burst, 10.0f);
    ASSERT_EQ(both.count, 2);
    EXPECT_GT(both.points[0].level, 4);
    EXPECT_EQ(both.points[0].location, 96 / 8 - 1);
    EXPECT_LT(both.points[1].level, 4);
    EXPECT_EQ(both.points[1].location, 160 / 8 - 1);
}

// Every plan writes exactly the bits it reports, whichever mode wins, with
// and without tonal components and refinement.
TEST(Atrac3SoundUnit, WrittenSizeIsThePlannedSize) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 40; ++trial) {
        std::normal_distribution<float> n(0.0f, trial % 2 ? 30000.0f : 40.0f);
        float lines[1024];
        for (float& x : lines) x = (trial % 3 == 0 && rng() % 4) ? 0.0f : n(rng);
        float allowed[32];
        for (float& a : allowed) a = std::exp2(static_cast<float>(rng() % 40));
        UnitHeader header;
        header.side_unit = trial % 5 == 0;
        header.gain[trial % 4].count = trial % 3;
        for (int i = 0; i < header.gain[trial % 4].count; ++i)
            header.gain[trial % 4].points[i] = {6, uint8_t(i * 5)};
        if (trial % 2) ExtractTonal(lines, 32, header.tonal);
        UnitPlan plan;
        plan.Analyse(lines, allowed, 32, header);
        if (trial % 2 == 0) header.tonal.count = 0;
        plan.ChooseForFactor(std::exp2(static_cast<float>(trial % 7) - 3.0f));
        if (trial % 4 == 1) plan.Refine(plan.Bits() + 400, 1e-6f);
        std::vector<uint8_t> buffer(2048, 0);
        BitWriter w(buffer.data(), buffer.size());
        plan.Write(w);
        EXPECT_EQ(static_cast<int>(w.bits()), plan.Bits()) << trial;
    }
}

TEST(Atrac3SoundUnit, TonalPeakIsTakenOutOfTheSpectrum) {
    float lines[1024] = {};
    for (int i = 0; i < 1024; ++i) lines[i] = (i % 3) - 1.0f;
    lines[300] = 20000.0f;
    lines[301] = -9000.0f;
    TonalBlock tonal;
    ASSERT_EQ(ExtractTonal(lines, 32, tonal), 1);
    EXPECT_LE(tonal.components[0].start, 300);
    EXPECT_GT(tonal.components[0].start + TonalBlock::kValues, 301);
    // What is left is the component's quantisation error.
    EXPECT_LT(std::fabs(lines[300]), 20000.0f / 31.0f);
    EXPECT_LT(std::fabs(lines[301]), 20000.0f / 31.0f);
    // A flat spectrum has no peak worth a component.
    float flat[1024];
    for (float& x : flat) x = 1000.0f;
    EXPECT_EQ(ExtractTonal(flat, 32, tonal), 0);
}

TEST(Atrac3SoundUnit, ConstantLengthWinsOnFlatFullRangeValues) {
    // Values spread evenly over -31..31 cost more than 6 bits each in the
    // Huffman code of selector 7; mostly-zero lines cost less.
    float lines[1024] = {};
    for (int i = 0; i < 1024; ++i) lines[i] = static_cast<float>((i * 37) % 63 - 31) * 1000.0f;
    float tight[32];
    for (float& a : tight) a = 1e-3f;
    UnitPlan plan;
    plan.Analyse(lines, tight, 32, UnitHeader{});
    plan.ChooseForFactor(1.0f);
    EXPECT_TRUE(plan.uses_clc());
    float sparse[1024] = {};
    sparse[100] = 30000.0f;
    UnitPlan sparse_plan;
    sparse_plan.Analyse(sparse, tight, 32, UnitHeader{});
    sparse_plan.ChooseForFactor(1.0f);
    EXPECT_FALSE(sparse_plan.uses_clc());
}

TEST(Atrac3Frames, DualFrameHasOneUnitPerHalf) {
    Encoder encoder(Mode::Kbps105, 2);
    const auto frames = atrac3test::EncodeAll(encoder, atrac3test::TonePlusNoise(5000, 2, 1.0, 9), 2);
    ASSERT_EQ(frames.size() % 304, 0u);
    for (size_t f = 0; f < frames.size(); f += 304) {
        EXPECT_EQ(frames[f] >> 2, 0x28);
        EXPECT_EQ(frames[f + 152] >> 2, 0x28);
    }
}

TEST(Atrac3Frames, JointStereoSecondUnitIsStoredBackwardsAtTheEnd) {
    Encoder encoder(Mode::Lp4, 2);
    EXPECT_TRUE(encoder.joint_stereo());
    const auto frames = atrac3test::EncodeAll(encoder, atrac3test::TonePlusNoise(5000, 2, 1.0, 10), 2);
    ASSERT_EQ(frames.size() % 192, 0u);
    for (size_t f = 0; f < frames.size(); f += 192) {
        EXPECT_EQ(frames[f] >> 2, 0x28);
        // Weighting off (0, 7), matrix 3 for all bands, id 3: 0111 1111 1111 11..
        EXPECT_EQ(frames[f + 191], 0x7F);
        EXPECT_EQ(frames[f + 190] >> 2, 0x3F);
    }
}

}  // namespace
