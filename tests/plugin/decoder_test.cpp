// The decoder pipeline against a fake player (a real filter graph with a
// scripted source): the graph it builds, both modes' delivery, the end and
// abort cases, seeking, re-initialising, the failure texts, the channel masks
// and the sample callback's COM answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "host/sdk/exceptions.h"
#include "plugin/decoder/sample_grabber_cb.h"
#include "plugin/host/settings.h"
#include "plugin/input/input_oma.h"
#include "plugin_library.h"
#include "support/fake_player.h"

namespace {

using testsupport::FakePlayer;
using testsupport::PlayerScript;

class DecoderTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        classes = platform::graph::RegisterGraphClasses();
        library.state->create_player = [this](REFIID riid, void** object) -> HRESULT {
            if (!make_player) return E_FAIL;
            player.Attach(new FakePlayer(script));
            return player->QueryInterface(riid, object);
        };
        cfg_buffering_mode.set(buffered());
    }
    void TearDown() override {
        input.reset();
        cfg_buffering_mode.set(false);
        player.Reset();
        fakes::ForgetProcessLibrary();
        CoUninitialize();
    }
    bool buffered() const { return GetParam(); }

    void Open() {
        input = std::make_unique<input_oma>();
        input->open(file_ptr(), "/music/a.oma", input_open_decode, abort);
    }
    // Runs until the end; returns the blocks' first byte values (as the host got them) and sizes.
    std::vector<size_t> RunAll(std::vector<audio_chunk_impl>* chunks = nullptr) {
        std::vector<size_t> frames;
        audio_chunk_impl chunk;
        for (int guard = 0; guard < 1000 && input->decode_run(chunk, abort); ++guard) {
            frames.push_back(chunk.get_sample_count());
            if (chunks) chunks->push_back(chunk);
        }
        return frames;
    }

    std::vector<platform::ClassRegistration> classes;
    testsupport::FakeMediaLibrary library{fakes::PluginLibraryState()};
    PlayerScript script;
    bool make_player = true;
    ComPtr<FakePlayer> player;
    std::unique_ptr<input_oma> input;
    abort_callback_dummy abort;
};

TEST_P(DecoderTest, DeliversEverySampleAndThenEnds) {
    script.samples = 4;
    script.bytes = 4000;  // 1000 stereo 16-bit frames
    Open();
    input->decode_initialize(0, abort);
    EXPECT_EQ(input->wave_format().nChannels, 2);
    EXPECT_EQ(input->wave_format().nSamplesPerSec, 44100u);
    EXPECT_EQ(input->wave_format().wBitsPerSample, 16);
    std::vector<audio_chunk_impl> chunks;
    const auto frames = RunAll(&chunks);
    size_t total = 0;
    for (size_t f : frames) total += f;
    EXPECT_EQ(total, 4000u);
    if (!buffered()) {
        ASSERT_EQ(frames.size(), 4u) << "one block per media sample";
        // Byte value i in both bytes of a 16-bit sample: (i * 257) / 32768.
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(chunks[i].get_data()[0], (i * 257) / 32768.0f);
    }
    EXPECT_EQ(chunks[0].get_channel_config(), 3u);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort)) << "the end is reported again";
    const auto calls = player->Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Seek(0,1)"), 1);
    EXPECT_GE(std::count(calls.begin(), calls.end(), "Stop"), 1);
}

TEST_P(DecoderTest, LastSampleTogetherWithCompletionIsDeliveredThenTheEnd) {
    if (buffered()) GTEST_SKIP() << "unbuffered only";
    script.samples = 2;
    script.bytes = 64;
    script.ignore_last_pause = true;
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    ASSERT_TRUE(input->decode_run(chunk, abort));
    ASSERT_TRUE(input->decode_run(chunk, abort)) << "the last block, woken by EC_COMPLETE";
    EXPECT_EQ(chunk.get_sample_count(), 16u);
    const size_t stops = player->CountCalls("Stop");
    EXPECT_FALSE(input->decode_run(chunk, abort));
    EXPECT_EQ(player->CountCalls("Stop"), stops + 1);
    EXPECT_EQ(player->CountCalls("Run"), 2u) << "the end was known without running again";
}

TEST_P(DecoderTest, AbortEventsEndTheTrackAtOnce) {
    script.run_posts_user_abort = !buffered();
    script.fail_at = 0;  // buffered: the source fails, EC_ERRORABORT
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort));
    EXPECT_GE(player->CountCalls("Stop"), 1u);
}

TEST_P(DecoderTest, BufferedModeGivesUpAfter201WaitsWithoutData) {
    if (!buffered()) GTEST_SKIP() << "buffered only";
    script.run_does_nothing = true;
    script.state = 1;  // never stopped
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort));
    EXPECT_EQ(player->CountCalls("GetState"), 201u);
}

TEST_P(DecoderTest, BufferedModeStopsWaitingAtState3) {
    if (!buffered()) GTEST_SKIP() << "buffered only";
    script.run_does_nothing = true;
    script.state = 3;
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort));
    EXPECT_EQ(player->CountCalls("GetState"), 1u);
}

TEST_P(DecoderTest, SeekChoosesTheModeByTheDuration) {
    script.duration_ms = 5000;
    Open();
    input->decode_initialize(0, abort);
    input->decode_seek(5.0001, abort);
    input->decode_seek(5.0, abort);
    input->decode_seek(1.2345, abort);
    script.duration_result = E_FAIL;
    const auto calls = player->Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Seek(0,2)"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Seek(5000,1)"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Seek(1234,1)"), 1);
    // After a seek to the end the track ends cleanly.
    input->decode_seek(60, abort);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort));
}

TEST_P(DecoderTest, SeekWithoutDurationUsesTheTarget) {
    script.duration_result = E_FAIL;
    Open();
    input->decode_initialize(0, abort);
    input->decode_seek(99.9, abort);
    EXPECT_EQ(player->CountCalls("Seek(99900,1)"), 1u);
}

TEST_P(DecoderTest, SecondInitializeOnlySeeksToTheStart) {
    script.samples = 3;
    script.bytes = 40;
    Open();
    input->decode_initialize(0, abort);
    FakePlayer* first = player.Get();
    EXPECT_EQ(RunAll().size() > 0, true);
    input->decode_initialize(0, abort);
    EXPECT_EQ(player.Get(), first) << "no new player";
    EXPECT_EQ(first->CountCalls("Seek(0,1)"), 2u);
    EXPECT_EQ(first->CountCalls("Open(0)"), 1u);
    size_t total = 0;
    for (size_t f : RunAll()) total += f;
    EXPECT_EQ(total, 30u) << "the whole track again";
}

TEST_P(DecoderTest, FailuresWhileBuildingHaveTheirTexts) {
    make_player = false;
    Open();
    try {
        input->decode_initialize(0, abort);
        ADD_FAILURE();
    } catch (const exception_io_unsupported_format& e) {
        EXPECT_STREQ(e.what(), "Unsupported file format");
    }
    make_player = true;
    script.open_result = E_FAIL;
    Open();
    try {
        input->decode_initialize(0, abort);
        ADD_FAILURE();
    } catch (const exception_io_unsupported_format&) {
        ADD_FAILURE() << "a refused Open is an I/O error";
    } catch (const exception_io& e) {
        EXPECT_STREQ(e.what(), "I/O error");
    }
    script.open_result = S_OK;
    script.gives_graph = false;
    Open();
    EXPECT_THROW(input->decode_initialize(0, abort), exception_io_unsupported_format);
    audio_chunk_impl chunk;
    EXPECT_FALSE(input->decode_run(chunk, abort));
}

TEST_P(DecoderTest, ChannelMasksAndEightBitSamples) {
    script.channels = 3;
    script.bits = 8;
    script.samples = 1;
    script.bytes = 3 * 4;
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    ASSERT_TRUE(input->decode_run(chunk, abort));
    EXPECT_EQ(chunk.get_channel_config(), 11u);
    EXPECT_EQ(chunk.get_channels(), 3u);
    EXPECT_FLOAT_EQ(chunk.get_data()[0], -1.0f) << "byte 0 is unsigned: the most negative value";
}

TEST_P(DecoderTest, NineChannelsHaveNoMask) {
    script.channels = 9;
    script.samples = 1;
    script.bytes = 9 * 2 * 8;
    Open();
    input->decode_initialize(0, abort);
    audio_chunk_impl chunk;
    ASSERT_TRUE(input->decode_run(chunk, abort));
    EXPECT_EQ(chunk.get_channels(), 9u);
    EXPECT_EQ(chunk.get_channel_config(), 0u);
    EXPECT_EQ(chunk.get_sample_count(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Modes, DecoderTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Buffered" : "Unbuffered"; });

TEST(ChannelMaskTest, FollowsTheTable) {
    const unsigned expected[] = {0, 4, 3, 11, 51, 59, 63, 251, 255, 0, 0};
    for (unsigned c = 0; c < 11; ++c) EXPECT_EQ(corvina::ChannelMask(c), expected[c]) << c << " channels";
}

TEST(SampleGrabberCallbackTest, AnswersWithoutCounting) {
    CSampleGrabberCB cb;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(cb.QueryInterface(IID_ISampleGrabberCB, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&cb));
    EXPECT_EQ(cb.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(cb.QueryInterface(IID_IPin, &object), E_NOTIMPL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(cb.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(cb.AddRef(), 1u);
    EXPECT_EQ(cb.Release(), 2u);
    EXPECT_EQ(cb.BufferCB(0, nullptr, 0), E_NOTIMPL);
}

}  // namespace
