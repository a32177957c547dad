// The filter-graph stand-in: connections (direct and through a converter),
// streaming on the graph's thread, holding while paused, a pause asked from
// inside the sample callback, pacing by a clock, events and failures.
#include "platform/graph/graph.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "support/test_source_filter.h"

namespace {

#define ASSERT_OK(expr) ASSERT_TRUE(SUCCEEDED(expr)) << #expr

using platform::graph::FilterBase;
using platform::graph::Pin;
using testsupport::PcmMediaType;
using testsupport::TestSource;

// Records every sample the grabber shows it; optionally pauses the graph from
// inside the callback, as the plug-in's unbuffered mode does.
class RecordingCallback final : public platform::ComObject<RecordingCallback, ISampleGrabberCB> {
  public:
    HRESULT SampleCB(double time, IMediaSample* sample) override {
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        {
            std::lock_guard lock(mu);
            times.push_back(time);
            last = p;
            last_length = sample->GetActualDataLength();
            first_bytes.push_back(p[0]);
        }
        if (pause_graph) pause_graph->Pause();
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

    std::mutex mu;
    std::vector<double> times;
    std::vector<int> first_bytes;
    BYTE* last = nullptr;
    LONG last_length = 0;
    IMediaControl* pause_graph = nullptr;
};

class GraphTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        // The runtime of this executable, so that converters registered here are seen.
        classes = platform::graph::RegisterGraphClasses();
        ASSERT_OK(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.ReleaseAndGetVoidAddress()));
        control = graph.As<IMediaControl>();
        events = graph.As<IMediaEvent>();
        ASSERT_TRUE(control && events);
    }
    void TearDown() override {
        if (control) control->Stop();
        graph.Reset();
        control.Reset();
        events.Reset();
        CoUninitialize();
    }

    // source -> grabber -> null renderer, with `count` samples of `bytes`.
    void Build(int count, int bytes, bool with_clock = false) {
        AM_MEDIA_TYPE pcm = PcmMediaType(44100, 2, 16);
        source.Attach(TestSource::Create(pcm, count, bytes));
        FreeMediaType(pcm);
        ASSERT_OK(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   grabber_filter.ReleaseAndGetVoidAddress()));
        grabber = grabber_filter.As<ISampleGrabber>();
        ASSERT_TRUE(grabber);
        AM_MEDIA_TYPE want{};
        want.majortype = MEDIATYPE_Audio;
        want.formattype = FORMAT_WaveFormatEx;
        ASSERT_OK(grabber->SetMediaType(&want));
        callback.Attach(new RecordingCallback());
        ASSERT_OK(grabber->SetCallback(callback.Get(), 0));
        ASSERT_OK(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   renderer.ReleaseAndGetVoidAddress()));
        ASSERT_OK(graph->AddFilter(source.Get(), u"Source"));
        ASSERT_OK(graph->AddFilter(grabber_filter.Get(), u"Sample Grabber"));
        ASSERT_OK(graph->AddFilter(renderer.Get(), u"Null Renderer"));
        ASSERT_OK(graph->Connect(source->output()->AsPin(), PinOf(grabber_filter.Get(), u"In").Get()));
        ASSERT_OK(
            graph->Connect(PinOf(grabber_filter.Get(), u"Out").Get(), PinOf(renderer.Get(), u"In").Get()));
        if (!with_clock) {
            auto filter = graph.As<IMediaFilter>();
            ASSERT_OK(filter->SetSyncSource(nullptr));
        }
    }

    static ComPtr<IPin> PinOf(IBaseFilter* f, const char16_t* id) {
        ComPtr<IPin> pin;
        f->FindPin(id, pin.ReleaseAndGetAddressOf());
        return pin;
    }

    LONG NextEvent(LONG timeout_ms = 5000) {
        LONG code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        if (FAILED(events->GetEvent(&code, &p1, &p2, timeout_ms))) return -1;
        events->FreeEventParams(code, p1, p2);
        return code;
    }

    std::vector<platform::ClassRegistration> classes;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<TestSource> source;
    ComPtr<IBaseFilter> grabber_filter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<RecordingCallback> callback;
    ComPtr<IBaseFilter> renderer;
};

TEST_F(GraphTest, RunsEverySampleToTheEndWithoutAClock) {
    Build(20, 4096);
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_COMPLETE);
    std::lock_guard lock(callback->mu);
    ASSERT_EQ(callback->first_bytes.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(callback->first_bytes[i], i);
    EXPECT_DOUBLE_EQ(callback->times[3], 0.03);
    AM_MEDIA_TYPE mt{};
    ASSERT_OK(grabber->GetConnectedMediaType(&mt));
    ASSERT_EQ(mt.cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->nSamplesPerSec, 44100u);
    FreeMediaType(mt);
}

TEST_F(GraphTest, PauseFromInsideTheCallbackHoldsEachSampleUntilRun) {
    Build(5, 1024);
    callback->pause_graph = control.Get();
    for (int i = 0; i < 5; ++i) {
        ASSERT_OK(control->Run());
        ASSERT_EQ(NextEvent(), EC_PAUSED) << "sample " << i;
        // The graph stands still with the sample held: its memory is intact.
        std::lock_guard lock(callback->mu);
        ASSERT_EQ(callback->first_bytes.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(callback->last[callback->last_length - 1], i);
        EXPECT_EQ(source->produced(), i) << "the held delivery has not returned: the source stands still";
    }
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_COMPLETE);
}

TEST_F(GraphTest, PauseWhileIdleCompletesAtOnceAndStopReleasesAHeldSample) {
    Build(3, 64);
    ASSERT_OK(control->Pause());
    EXPECT_EQ(NextEvent(), EC_PAUSED);
    EXPECT_EQ(source->produced(), 0) << "a paused graph does not stream";
    callback->pause_graph = control.Get();
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_PAUSED);
    ASSERT_OK(control->Stop());  // returns: the held sample was let go
    OAFilterState state = -1;
    control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    // Running again after a rewind streams from the start.
    callback->pause_graph = nullptr;
    source->Rewind();
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_COMPLETE);
}

TEST_F(GraphTest, ASourceFailureIsAnErrorAbort) {
    Build(10, 64);
    source->FailAt(4);
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_ERRORABORT);
    EXPECT_EQ(NextEvent(50), -1) << "no completion after an abort";
}

TEST_F(GraphTest, GetEventTimesOut) {
    Build(1, 64);
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 20), E_ABORT);
}

TEST_F(GraphTest, AClockPacesRenderingToRealTime) {
    Build(8, 64, /*with_clock=*/true);  // 8 samples 10 ms apart
    const auto start = std::chrono::steady_clock::now();
    ASSERT_OK(control->Run());
    EXPECT_EQ(NextEvent(), EC_COMPLETE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(65));
}

TEST_F(GraphTest, ConnectionsFollowTheGrabbersType) {
    AM_MEDIA_TYPE pcm = PcmMediaType(8000, 1, 8);
    pcm.majortype = platform::MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");  // video
    ComPtr<TestSource> video;
    video.Attach(TestSource::Create(pcm, 1, 1));
    FreeMediaType(pcm);
    ComPtr<IBaseFilter> g;
    ASSERT_OK(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               g.ReleaseAndGetVoidAddress()));
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Audio;
    want.formattype = FORMAT_WaveFormatEx;
    g.As<ISampleGrabber>()->SetMediaType(&want);
    graph->AddFilter(video.Get(), u"Video");
    graph->AddFilter(g.Get(), u"Sample Grabber");
    EXPECT_EQ(graph->Connect(video->output()->AsPin(), PinOf(g.Get(), u"In").Get()), VFW_E_CANNOT_CONNECT);
    // The grabber's output offers nothing before its input is connected.
    ComPtr<IBaseFilter> null_renderer;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     null_renderer.ReleaseAndGetVoidAddress());
    graph->AddFilter(null_renderer.Get(), u"Null Renderer");
    EXPECT_TRUE(
        FAILED(graph->Connect(PinOf(g.Get(), u"Out").Get(), PinOf(null_renderer.Get(), u"In").Get())));
}

// A converter that turns anything into 16-bit PCM (here: it only relabels).
class Relabel final : public FilterBase {
  public:
    Relabel() : FilterBase(kClsid) {
        in_ = AddPin(PINDIR_INPUT, u"In");
        out_ = AddPin(PINDIR_OUTPUT, u"Out");
    }
    static constexpr CLSID kClsid = platform::MakeGuid("{0C0C0C0C-1111-2222-3333-444455556666}");
    HRESULT CheckInputType(Pin* pin, const AM_MEDIA_TYPE*) override { return pin == in_ ? S_OK : S_FALSE; }
    bool GetOutputType(Pin* pin, int index, AM_MEDIA_TYPE* mt) override {
        if (pin != out_ || index != 0) return false;
        *mt = PcmMediaType(44100, 2, 16);
        return true;
    }
    HRESULT OnReceive(Pin*, IMediaSample* sample) override { return out_->Deliver(sample); }

  private:
    Pin* in_;
    Pin* out_;
};

TEST_F(GraphTest, ConnectInsertsARegisteredConverterWhereTypesDisagree) {
    platform::ClassRegistration reg(Relabel::kClsid, [](REFIID riid, void** object) {
        auto* f = new Relabel();
        HRESULT hr = f->QueryInterface(riid, object);
        f->Release();
        return hr;
    });
    platform::graph::ConverterRegistration converter(Relabel::kClsid);
    AM_MEDIA_TYPE other{};
    other.majortype = MEDIATYPE_Audio;
    other.subtype = platform::MakeGuid("{000000FF-0000-0010-8000-00AA00389B71}");
    other.formattype = FORMAT_None;
    source.Attach(TestSource::Create(other, 2, 32));
    ComPtr<IBaseFilter> g;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     g.ReleaseAndGetVoidAddress());
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Audio;
    want.formattype = FORMAT_WaveFormatEx;
    g.As<ISampleGrabber>()->SetMediaType(&want);
    graph->AddFilter(source.Get(), u"Source");
    graph->AddFilter(g.Get(), u"Sample Grabber");
    ASSERT_OK(graph->Connect(source->output()->AsPin(), PinOf(g.Get(), u"In").Get()));
    ComPtr<IEnumFilters> list;
    ASSERT_OK(graph->EnumFilters(list.ReleaseAndGetAddressOf()));
    IBaseFilter* f[4] = {};
    ULONG got = 0;
    list->Next(4, f, &got);
    EXPECT_EQ(got, 3u) << "source, grabber and the inserted converter";
    for (ULONG i = 0; i < got; ++i) f[i]->Release();
    // Removing the converter disconnects both its sides.
    ComPtr<IBaseFilter> conv;
    ASSERT_OK(graph->FindFilterByName(u"Converter", conv.ReleaseAndGetAddressOf()));
    ASSERT_OK(graph->RemoveFilter(conv.Get()));
    ComPtr<IPin> to;
    EXPECT_EQ(source->output()->ConnectedTo(to.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph->RemoveFilter(conv.Get()), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, PinsAnswerTheirDirectionIdAndPeer) {
    Build(1, 16);
    ComPtr<IPin> in = PinOf(renderer.Get(), u"In");
    PIN_DIRECTION dir;
    ASSERT_OK(in->QueryDirection(&dir));
    EXPECT_EQ(dir, PINDIR_INPUT);
    LPWSTR id = nullptr;
    ASSERT_OK(in->QueryId(&id));
    EXPECT_EQ(std::u16string_view(id), u"In");
    CoTaskMemFree(id);
    ComPtr<IPin> peer;
    ASSERT_OK(in->ConnectedTo(peer.ReleaseAndGetAddressOf()));
    PIN_INFO info{};
    peer->QueryPinInfo(&info);
    EXPECT_EQ(info.pFilter, grabber_filter.Get());
    info.pFilter->Release();
    AM_MEDIA_TYPE mt{};
    ASSERT_OK(in->ConnectionMediaType(&mt));
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    FreeMediaType(mt);
    EXPECT_EQ(graph->ConnectDirect(peer.Get(), in.Get(), nullptr), VFW_E_ALREADY_CONNECTED);
}

}  // namespace
