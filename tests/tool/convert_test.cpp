// "--Convert" against a fake library root: the format codes and rates the
// tool asks for, the two stages, the work folders, the sink and its polling,
// the output naming and the final move.
#include "tool/commands/convert.h"

#include <gtest/gtest.h>

#include <atomic>

#include "helpers.h"
#include "library/media_ids.h"
#include "platform/com/apartment.h"
#include "support/fake_media_library.h"

namespace {

using testsupport::ConvertReport;
using FakeItem = testsupport::FakeMediaItem;
using quillet::ChooseConvertFormat;
using quillet::ConvertSourceInfo;
using quillet::SnapBitRate;
using tooltest::U16;
namespace attr = medialib::attr;
namespace codec = medialib::codec;

std::atomic<long> g_waited_ms{0};
void CountingWait(DWORD ms) {
    g_waited_ms += ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class ConvertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        quillet::SetConvertWaitForTesting(CountingWait);
        g_waited_ms = 0;
        song_ = dir_ / "song.oma";
        testsupport::WriteText(song_, "original");
        work_ = dir_ / "work";
        std::filesystem::create_directory(work_);
    }
    void TearDown() override {
        quillet::SetConvertWaitForTesting(nullptr);
        CoUninitialize();
    }

    // The target as an ATRAC3plus OMA with the given technical values.
    ComPtr<FakeItem> Target(LONG container, LONG codec_number, LONG bit_rate) {
        ComPtr<FakeItem> item = fake_.Openable(U16(song_));
        item->PutText(attr::Title, u"Song");
        item->PutInt(attr::Duration, 100);
        item->PutInt(attr::Format, container);
        item->PutInt(attr::Codec, codec_number);
        if (bit_rate > 0) item->PutInt(attr::BitRate, bit_rate);
        return item;
    }

    // Where the tool moves the converted file: the fake opens it there.
    void Expect(const std::filesystem::path& output) {
        fake_.Openable(U16(output))->PutText(attr::Title, u"Moved");
    }

    LONG Run(std::vector<std::u16string> arguments) {
        arguments.insert(arguments.begin(), {u"--Convert", U16(song_), u"--TempPath", U16(work_)});
        return tooltest::RunQuilletLine(std::move(arguments), &output_);
    }

    testsupport::ScopedTempDir dir_;
    std::filesystem::path song_;
    std::filesystem::path work_;
    testsupport::FakeMediaLibrary fake_;
    std::string output_;
};

TEST_F(ConvertTest, WithoutFileTypeTheTargetBecomesAWavBesideIt) {
    Target(medialib::container::Oma, codec::Atrac3Plus, 128000);
    Expect(dir_ / "song.wav");
    EXPECT_EQ(Run({}), 0) << output_;
    ASSERT_EQ(fake_.state->conversions.size(), 1u);
    EXPECT_EQ(fake_.state->conversions[0].code, 0x10020001);
    EXPECT_EQ(fake_.state->conversions[0].rate, 0);
    EXPECT_EQ(fake_.state->conversions[0].source, U16(song_));
    EXPECT_EQ(fake_.state->convert_calls,
              (std::vector<std::string>{"SetProgressSink", "SetBitRate(0)",
                                        "SetWorkFolder(" + work_.string() + ")", "Convert"}));
    const auto output = dir_ / "song.wav";
    ASSERT_TRUE(std::filesystem::exists(output));
    EXPECT_FALSE(std::filesystem::exists(work_ / "conv0.wav"));
    // The target's tags reached the converted file (the target is the last
    // base), and the listing is the moved file's.
    EXPECT_EQ(fake_.state->items[U16(work_ / "conv0.wav")]->Text(attr::Title), u"Song");
    EXPECT_NE(output_.find("Title=Moved"), std::string::npos);
    EXPECT_EQ(testsupport::ReadBytes(song_).size(), 8u);  // the target is untouched
}

TEST_F(ConvertTest, OmgAutoOnAtrac3PlusEstimatedAt100000AsksForAtrac3At105000) {
    // No bit rate attribute: estimated from size and duration. 100 s and
    // 1250020 bytes less 16 bytes of header and 4 of title give 100000 b/s.
    ComPtr<FakeItem> item = Target(medialib::container::Oma, codec::Atrac3Plus, 0);
    item->PutInt(attr::Size, 1250020);
    Expect(dir_ / "song.omg");
    EXPECT_EQ(Run({u"--FileType", u"omg"}), 0);
    ASSERT_EQ(fake_.state->conversions.size(), 2u);  // 0x90012 is no direct source of 0x10010
    EXPECT_EQ(fake_.state->conversions[0].code, 0x60010);
    EXPECT_EQ(fake_.state->conversions[0].rate, 105000);
    EXPECT_EQ(fake_.state->conversions[1].code, 0x10010);
    EXPECT_EQ(fake_.state->conversions[1].rate, 0);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "song.omg"));
}

TEST_F(ConvertTest, Omg3FromAtrac3PlusOmaRunsTwoStagesAndDeletesTheIntermediate) {
    Target(medialib::container::Oma, codec::Atrac3Plus, 256000);
    Expect(dir_ / "song.omg");
    EXPECT_EQ(Run({u"--FileType", u"OMG3"}), 0);
    ASSERT_EQ(fake_.state->conversions.size(), 2u);
    EXPECT_EQ(fake_.state->conversions[0].code, 0x60010);
    EXPECT_EQ(fake_.state->conversions[0].rate, 132000);  // table 2 on 256000
    EXPECT_EQ(fake_.state->conversions[1].code, 0x10010);
    EXPECT_EQ(fake_.state->conversions[1].rate, 0);
    EXPECT_EQ(fake_.state->conversions[1].source, U16(work_ / "conv0.oma"));
    EXPECT_FALSE(std::filesystem::exists(work_ / "conv0.oma"));  // the intermediate
    EXPECT_TRUE(std::filesystem::exists(dir_ / "song.omg"));
}

TEST_F(ConvertTest, GivenRatesChooseTheCodec) {
    Target(medialib::container::Wav, codec::Pcm, 1411200);
    Expect(dir_ / "aal.oma");
    EXPECT_EQ(Run({u"--FileType", u"AAL", u"--BitRate", u"132000", u"--Output", U16(dir_ / "aal")}), 0);
    ASSERT_EQ(fake_.state->conversions.size(), 2u);
    EXPECT_EQ(fake_.state->conversions[0].code, 0x60016);
    EXPECT_EQ(fake_.state->conversions[0].rate, 132000);
    EXPECT_EQ(fake_.state->conversions[1].code, 0x90016);

    const ConvertSourceInfo pcm{0x10020001, 1411200};
    EXPECT_EQ(ChooseConvertFormat(u"AACLH", 64000, pcm).format_code, 0x10040000 + codec::AacLc);
    EXPECT_EQ(ChooseConvertFormat(u"aaclh", 24000, pcm).format_code, 0x10040000 + codec::HeAac);
    EXPECT_EQ(ChooseConvertFormat(u"AAC", 64000, pcm).format_code, 0x10040000 + codec::HeAac);
    EXPECT_EQ(ChooseConvertFormat(u"PCM", 1411200, pcm).format_code, 0x90001);
    EXPECT_EQ(ChooseConvertFormat(u"OMG", 70000, pcm).format_code, 0x10000);  // no class: codec 0
    EXPECT_EQ(ChooseConvertFormat(u"OMG", 70000, pcm).bit_rate, 70000);
}

TEST_F(ConvertTest, AutoKeepsTheSourceRateWhereTheCodecStays) {
    const ConvertSourceInfo atrac3{0x90010, 132300};
    EXPECT_EQ(ChooseConvertFormat(u"KDR3", -1, atrac3).format_code, 0xA0010);
    EXPECT_EQ(ChooseConvertFormat(u"KDR3", -1, atrac3).bit_rate, 0);
    // PCM targets keep their rate even from PCM.
    EXPECT_EQ(ChooseConvertFormat(u"PCM", -1, {0x90001, 0}).bit_rate, 1411200);
    // AAL keeps its base layer: 22 -> 16 with rate 0.
    EXPECT_EQ(ChooseConvertFormat(u"OMA3", -1, {0x90016, 900000}).bit_rate, 0);
    // OMG with ATRAC3plus: 128000 becomes 256000, above 256000 is 256000.
    EXPECT_EQ(ChooseConvertFormat(u"OMGP", -1, {0x90001, 128000}).bit_rate, 256000);
    EXPECT_EQ(ChooseConvertFormat(u"OMGP", -1, {0x90001, 352000}).bit_rate, 256000);
    EXPECT_EQ(ChooseConvertFormat(u"OMGP", -1, {0x90001, 96000}).bit_rate, 64000);
    EXPECT_EQ(ChooseConvertFormat(u"AAL", -1, {0x90001, 0}).format_code, 0x90017);
    EXPECT_EQ(ChooseConvertFormat(u"AACLH", -1, {0x90001, 20000}).format_code, 0x10040018);
    EXPECT_EQ(ChooseConvertFormat(u"0x10010000", -1, {0x90001, 20000}).format_code, 0x10010000);
    EXPECT_EQ(ChooseConvertFormat(u"nonsense", -1, {0x90001, 20000}).format_code, 0);
    EXPECT_EQ(ChooseConvertFormat(u"0xFFFF0001", -1, {0x90001, 20000}).format_code,
              static_cast<LONG>(0xFFFF0001u));
}

TEST(SnapBitRate, HalfWayTakesTheHigherRateAndTablesSetTheCodec) {
    LONG rate = 0, codec_number = 0;
    EXPECT_TRUE(SnapBitRate(1, 56000, &rate, &codec_number));  // between 48000 and 64000
    EXPECT_EQ(rate, 64000);
    EXPECT_EQ(codec_number, codec::Atrac3Plus);
    EXPECT_TRUE(SnapBitRate(2, 85500, &rate, &codec_number));  // between 66000 and 105000
    EXPECT_EQ(rate, 105000);
    EXPECT_EQ(codec_number, codec::Atrac3);
    EXPECT_TRUE(SnapBitRate(1, 100000, &rate, &codec_number));
    EXPECT_EQ(rate, 96000);
    EXPECT_TRUE(SnapBitRate(9, 28000, &rate, &codec_number));  // 24000 or 32000: up
    EXPECT_EQ(rate, 32000);
    EXPECT_EQ(codec_number, codec::AacLc);
    EXPECT_TRUE(SnapBitRate(9, 1, &rate, &codec_number));
    EXPECT_EQ(codec_number, codec::HeAac);
    EXPECT_TRUE(SnapBitRate(4, 1000000, &rate, &codec_number));
    EXPECT_EQ(rate, 352000);
    codec_number = 77;
    EXPECT_FALSE(SnapBitRate(0, 70000, &rate, &codec_number));
    EXPECT_EQ(codec_number, 77);
    EXPECT_FALSE(SnapBitRate(5, 400000, &rate, &codec_number));
    EXPECT_TRUE(SnapBitRate(5, 96999, &rate, &codec_number));
    EXPECT_EQ(codec_number, codec::HeAac);
    EXPECT_TRUE(SnapBitRate(5, 97000, &rate, &codec_number));
    EXPECT_EQ(codec_number, codec::AacLc);
}

TEST_F(ConvertTest, OutputWithoutExtensionGetsTheConvertedOne) {
    Target(medialib::container::Oma, codec::Atrac3, 132000);
    const auto output = dir_ / "sub" / "deeper" / "named";
    Expect(dir_ / "sub" / "deeper" / "named.wav");
    EXPECT_EQ(Run({u"--FileType", u"WAV", u"--Output", U16(output)}), 0);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "sub" / "deeper" / "named.wav"));
    // With an extension of its own the path is taken as given.
    const auto exact = dir_ / "exact.bin";
    Expect(exact);
    EXPECT_EQ(Run({u"--FileType", u"WAV", u"--Output", U16(exact)}), 0);
    EXPECT_TRUE(std::filesystem::exists(exact));
}

TEST_F(ConvertTest, AnExistingOutputIsKeptWithoutForceWrite) {
    Target(medialib::container::Oma, codec::Atrac3, 132000);
    testsupport::WriteText(dir_ / "song.wav", "keep me");
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "song.wav").size(), 7u);
    EXPECT_FALSE(std::filesystem::exists(work_ / "conv0.wav"));
    EXPECT_EQ(output_.find("Location="), std::string::npos);  // the run ends without a listing
    EXPECT_NE(output_.find("EOS."), std::string::npos);

    Expect(dir_ / "song.wav");
    EXPECT_EQ(Run({u"--ForceWrite"}), 0);
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "song.wav").size(), 9u);  // "converted"
}

TEST_F(ConvertTest, AFailedAttemptIsCleanedAndTheNextFolderTried) {
    Target(medialib::container::Oma, codec::Atrac3, 132000);
    const auto second = dir_ / "second";
    std::filesystem::create_directory(second);
    fake_.state->on_convert = [&](const testsupport::ConvertCall& call,
                                  size_t index) -> std::vector<ConvertReport> {
        std::vector<ConvertReport> reports = testsupport::DefaultConversion(*fake_.state, call, index);
        if (index == 0) reports.back().code = 0x12345;  // not the code asked for
        return reports;
    };
    Expect(dir_ / "song.wav");
    EXPECT_EQ(Run({u"--TempPath", U16(second)}), 0);
    ASSERT_EQ(fake_.state->conversions.size(), 2u);
    EXPECT_EQ(fake_.state->conversions[1].folder, U16(second));
    EXPECT_FALSE(std::filesystem::exists(work_ / "conv0.wav"));  // the failed output is deleted
    EXPECT_TRUE(std::filesystem::exists(dir_ / "song.wav"));
}

TEST_F(ConvertTest, AStalledStateEndsTheAttemptAfterTheLongerWait) {
    Target(medialib::container::Oma, codec::Atrac3, 132000);
    fake_.state->on_convert = [](const testsupport::ConvertCall&, size_t) {
        return std::vector<ConvertReport>{{0x1001, 0, {}}, {0x2222, 0, {}}};
    };
    EXPECT_EQ(Run({}), 1);
    // Every folder of the list was tried: --TempPath, the system temporary
    // folder, the target's folder (also the output's) and the program's.
    ASSERT_GE(fake_.state->conversions.size(), 3u);
    EXPECT_EQ(fake_.state->conversions[0].folder, U16(work_));
    EXPECT_EQ(fake_.state->conversions[2].folder, U16(dir_.path()) + u"/");
    EXPECT_GE(g_waited_ms.load(), 5500L * static_cast<long>(fake_.state->conversions.size()));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "song.wav"));
}

TEST_F(ConvertTest, StoppedOrRefusedConversionsFail) {
    Target(medialib::container::Oma, codec::Atrac3, 132000);
    fake_.state->on_convert = [](const testsupport::ConvertCall&, size_t) {
        return std::vector<ConvertReport>{{0x1004, 0, {}}};
    };
    EXPECT_EQ(Run({u"--FileType", u"AACH"}), 1);
    EXPECT_EQ(output_.find("Location="), std::string::npos);
    fake_.state->conversions.clear();
    fake_.state->convert_result = E_FAIL;
    EXPECT_EQ(Run({}), 1);
    // A word that is no type and no number asks for nothing.
    fake_.state->conversions.clear();
    fake_.state->convert_result = S_OK;
    EXPECT_EQ(Run({u"--FileType", u"Ogg"}), 1);
    EXPECT_TRUE(fake_.state->conversions.empty());
}

TEST(ConvertProgressSink, AnswersAsTheLibraryExpects) {
    quillet::ConvertProgressSink sink;
    void* object = nullptr;
    EXPECT_EQ(sink.QueryInterface(IID_ProgressSink, &object), S_OK);
    EXPECT_EQ(object, static_cast<ProgressSink*>(&sink));
    EXPECT_EQ(sink.QueryInterface(platform::MakeGuid("{00000000-0000-0000-C000-000000000046}"), &object),
              S_OK);
    EXPECT_EQ(sink.QueryInterface(IID_MediaItem, &object), E_NOTIMPL);
    EXPECT_EQ(sink.QueryInterface(IID_ProgressSink, nullptr), E_POINTER);
    EXPECT_EQ(sink.AddRef(), 0u);
    EXPECT_EQ(sink.Release(), 0u);

    LONG flag = 0;
    EXPECT_EQ(sink.Notify(0, 0x1003, 0x90010, u"C:\\\\work\\\\song.oma", 0, 0, &flag), S_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_FALSE(sink.Busy());
    EXPECT_EQ(sink.ResultCode(), 0x90010);
    EXPECT_EQ(sink.OutputPath(), u"C:\\work\\song.oma");
    sink.Notify(0, 0x1006, 5, u"x", 40, 0, &flag);
    EXPECT_TRUE(sink.Busy());
    EXPECT_EQ(sink.ResultCode(), 0);
    EXPECT_EQ(sink.OutputPath(), u"");
    EXPECT_EQ(sink.Percent(), 40);
    sink.Notify(0, 0x7777, 0, nullptr, 0, 0, &flag);
    EXPECT_FALSE(sink.Busy());
    EXPECT_EQ(sink.State(), 0x7777);
    sink.Reset();
    EXPECT_TRUE(sink.Busy());
    EXPECT_EQ(sink.State(), 0x1005);
}

TEST(IntermediateCode, FollowsTheTwoStageTable) {
    EXPECT_EQ(quillet::IntermediateCode(0x10010, 0x90012), 0x60010);
    EXPECT_EQ(quillet::IntermediateCode(0x10010, 0x10020001), 0);
    EXPECT_EQ(quillet::IntermediateCode(0x90001, 0x10020001), 0x60001);
    EXPECT_EQ(quillet::IntermediateCode(0x90010, 0x10040002), 0);
    EXPECT_EQ(quillet::IntermediateCode(0xA0012, 0x10012), 0x60012);
    EXPECT_EQ(quillet::IntermediateCode(0x10020001, 0x90012), 0);
}

}  // namespace
