// The library's player through the built module: the graph it builds, the
// PCM it delivers (compared with FFmpeg's decode of the same file), seeking,
// its states, and the files it refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/graph/dshow.h"
#include "support/audio_reference.h"
#include "tests/medialib_com/com_fixture.h"

namespace {

using testsupport::FfmpegS16;
using testsupport::MakeTone;

// Gathers every sample the grabber shows it.
class Collector final : public platform::ComObject<Collector, ISampleGrabberCB> {
  public:
    HRESULT SampleCB(double, IMediaSample* sample) override {
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        const LONG n = sample->GetActualDataLength();
        std::lock_guard lock(mu);
        samples.insert(samples.end(), reinterpret_cast<int16_t*>(p), reinterpret_cast<int16_t*>(p + n));
        sizes.push_back(n);
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    std::mutex mu;
    std::vector<int16_t> samples;
    std::vector<LONG> sizes;
};

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION want) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.ReleaseAndGetAddressOf());
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION dir;
        if (SUCCEEDED(p->QueryDirection(&dir)) && dir == want) return p;
    }
    return {};
}

class PlayerTest : public comtest::MediaLibraryModule {
  protected:
    ComPtr<MediaPlayer> NewPlayer(const std::filesystem::path& path) {
        std::u16string p = comtest::Wide(path);
        ComPtr<MediaContent> content;
        LONG format = 0, status = 0;
        if (FAILED(root_->OpenContent(p.c_str(), IID_MediaContent, content.ReleaseAndGetVoidAddress(),
                                      &format, &status)))
            return {};
        ComPtr<MediaPlayer> player;
        content->CreatePlayer(IID_MediaPlayer, player.ReleaseAndGetVoidAddress());
        return player;
    }

    // Opens `path` and puts a grabber in place of the player's output, with
    // no clock, as a decoder does. Returns the graph's events.
    ComPtr<IMediaEvent> Tap(MediaPlayer* player, const std::filesystem::path& path, Collector* collector) {
        std::u16string p = comtest::Wide(path);
        EXPECT_EQ(player->Open(p.c_str(), 0), S_OK);
        auto access = ComPtr<MediaPlayer>(player).As<MediaPlayerGraph>();
        ComPtr<IGraphBuilder> graph;
        access->GetGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress());
        ComPtr<IBaseFilter> output;
        access->GetRenderer(IID_IBaseFilter, output.ReleaseAndGetVoidAddress());
        ComPtr<IUnknown> upstream_filter;
        ComPtr<IPin> upstream;
        EXPECT_EQ(access->GetUpstreamPin(IID_IBaseFilter, output.Get(), u"In", IID_IPin,
                                         upstream_filter.ReleaseAndGetVoidAddress(),
                                         upstream.ReleaseAndGetVoidAddress()),
                  S_OK);
        EXPECT_EQ(graph->RemoveFilter(output.Get()), S_OK);
        ComPtr<IBaseFilter> grabber, null_renderer;
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         grabber.ReleaseAndGetVoidAddress());
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         null_renderer.ReleaseAndGetVoidAddress());
        auto sg = grabber.As<ISampleGrabber>();
        AM_MEDIA_TYPE want{};
        want.majortype = MEDIATYPE_Audio;
        want.formattype = FORMAT_WaveFormatEx;
        sg->SetMediaType(&want);
        sg->SetCallback(collector, 0);
        graph->AddFilter(grabber.Get(), u"Sample Grabber");
        graph->AddFilter(null_renderer.Get(), u"Null Renderer");
        EXPECT_EQ(graph->Connect(upstream.Get(), FirstPin(grabber.Get(), PINDIR_INPUT).Get()), S_OK);
        EXPECT_EQ(graph->Connect(FirstPin(grabber.Get(), PINDIR_OUTPUT).Get(),
                                 FirstPin(null_renderer.Get(), PINDIR_INPUT).Get()),
                  S_OK);
        AM_MEDIA_TYPE mt{};
        EXPECT_EQ(sg->GetConnectedMediaType(&mt), S_OK);
        if (mt.pbFormat) format = *reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat);
        FreeMediaType(mt);
        graph.As<IMediaFilter>()->SetSyncSource(nullptr);
        return graph.As<IMediaEvent>();
    }

    static LONG WaitEnd(IMediaEvent* events) {
        LONG code = 0;
        LONG_PTR a, b;
        while (SUCCEEDED(events->GetEvent(&code, &a, &b, 20000)))
            if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) return code;
        return -1;
    }

    WAVEFORMATEX format{};
    testsupport::ScopedTempDir dir;
};

TEST_F(PlayerTest, PlaysAGeneratedWavExactlyAsFfmpegDecodesIt) {
    const auto wav = dir / "tone.wav";
    ASSERT_TRUE(MakeTone(wav, 1.5, 44100, 2, "-c:a pcm_s16le"));
    ComPtr<MediaPlayer> player = NewPlayer(wav);
    ASSERT_TRUE(player);
    ComPtr<Collector> collector;
    collector.Attach(new Collector());
    ComPtr<IMediaEvent> events = Tap(player.Get(), wav, collector.Get());
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    LONG ms = 0;
    ASSERT_EQ(player->GetDuration(&ms), S_OK);
    EXPECT_NEAR(ms, 1500, 1);
    SHORT state = -1;
    player->GetState(&state);
    EXPECT_EQ(state, 3) << "opened, not running";
    ASSERT_EQ(player->Run(), S_OK);
    EXPECT_EQ(WaitEnd(events.Get()), EC_COMPLETE);
    player->GetState(&state);
    EXPECT_EQ(state, 3) << "completed";
    EXPECT_EQ(collector->samples, FfmpegS16(wav));
    // Several codec frames per media sample.
    EXPECT_EQ(collector->sizes.front(), 8192 * 4);
    player->Stop();
    EXPECT_EQ(player->Close(), S_OK);
}

TEST_F(PlayerTest, SeekingToTheEndCompletesAtOnceAndSeekingBackReplays) {
    const auto mp3 = dir / "tone.mp3";
    ASSERT_TRUE(MakeTone(mp3, 2.0, 44100, 1, "-c:a libmp3lame -b:a 128k"));
    ComPtr<MediaPlayer> player = NewPlayer(mp3);
    ComPtr<Collector> collector;
    collector.Attach(new Collector());
    ComPtr<IMediaEvent> events = Tap(player.Get(), mp3, collector.Get());
    ASSERT_EQ(player->Seek(0, 2), S_OK);
    ASSERT_EQ(player->Run(), S_OK);
    EXPECT_EQ(WaitEnd(events.Get()), EC_COMPLETE);
    EXPECT_TRUE(collector->samples.empty());
    player->Stop();
    ASSERT_EQ(player->Seek(0, 1), S_OK);
    ASSERT_EQ(player->Run(), S_OK);
    EXPECT_EQ(WaitEnd(events.Get()), EC_COMPLETE);
    EXPECT_EQ(collector->samples, FfmpegS16(mp3));
}

TEST_F(PlayerTest, RealAtracFilesDecodeAsFfmpegDecodesThem) {
    for (const char* name :
         {"atracdencU_test_atrac3_132k_noid3.oma", "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3",
          "pronom_03-Untitled-3_atrac3plus.oma"}) {
        CQ_REQUIRE_SAMPLE(path, name);
        ComPtr<MediaPlayer> player = NewPlayer(path);
        ASSERT_TRUE(player) << name;
        ComPtr<Collector> collector;
        collector.Attach(new Collector());
        ComPtr<IMediaEvent> events = Tap(player.Get(), path, collector.Get());
        ASSERT_EQ(player->Run(), S_OK);
        EXPECT_EQ(WaitEnd(events.Get()), EC_COMPLETE) << name;
        EXPECT_EQ(collector->samples, FfmpegS16(path)) << name;
        player->Close();
    }
}

TEST_F(PlayerTest, SeekingInAnOpenMgStreamAfterPlayingGivesFfmpegsAudioFromThePosition) {
    // The engine reads these itself: fixed-size ATRAC3plus frames and AAL's
    // BLK packets, whose offsets it learns while playing and seeking.
    for (const char* name : {"pronom_03-Untitled-3_atrac3plus.oma", "pronom_02-Untitled-2_aal_atrac3.oma"}) {
        CQ_REQUIRE_SAMPLE(path, name);
        SCOPED_TRACE(name);
        ComPtr<MediaPlayer> player = NewPlayer(path);
        ASSERT_TRUE(player);
        ComPtr<Collector> collector;
        collector.Attach(new Collector());
        ComPtr<IMediaEvent> events = Tap(player.Get(), path, collector.Get());
        ASSERT_EQ(player->Run(), S_OK);
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard lock(collector->mu);
                if (!collector->samples.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(player->Stop(), S_OK);
        {
            std::lock_guard lock(collector->mu);
            collector->samples.clear();
        }
        ASSERT_EQ(player->Seek(10500, 1), S_OK);
        ASSERT_EQ(player->Run(), S_OK);
        EXPECT_EQ(WaitEnd(events.Get()), EC_COMPLETE);
        player->Stop();
        const auto reference = FfmpegS16(path);
        const size_t from = 463050 * 2;
        ASSERT_GT(reference.size(), from);
        EXPECT_TRUE(std::vector<int16_t>(reference.begin() + from, reference.end()) == collector->samples);
        player->Close();
    }
}

TEST_F(PlayerTest, TheLegacyPackageIsRefusedAtOpen) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_openmg_legacy.omg");
    ComPtr<MediaPlayer> player = NewPlayer(path);
    ASSERT_TRUE(player);
    std::u16string p = comtest::Wide(path);
    EXPECT_LT(player->Open(p.c_str(), 0), 0);
    SHORT state = -1;
    player->GetState(&state);
    EXPECT_EQ(state, 0);
    ComPtr<IUnknown> graph;
    EXPECT_LT(ComPtr<MediaPlayer>(player).As<MediaPlayerGraph>()->GetGraph(IID_IGraphBuilder,
                                                                           graph.ReleaseAndGetVoidAddress()),
              0);
}

}  // namespace
