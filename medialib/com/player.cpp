// The library's player: MediaPlayer and its graph access MediaPlayerGraph.
//
// Open builds a filter graph (made by class id, so it is the system's graph
// runtime) of the file's source, the decoder and the audio output, connected
// in that order. The graph paces the output with its clock unless the caller
// takes the clock away. Seek stops the graph (so the streaming thread stands
// still), repositions the source, flushes the decoder and puts the graph back
// in the state it had.
//
// GetState answers 0 when no file is open, 1 running, 2 paused, and 3 when
// the stream has stopped or has run to its end (the end of the stream has
// passed through the whole graph).
#include <algorithm>

#include "library/media_ids.h"
#include "medialib/com/classes.h"
#include "medialib/com/content.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"
#include "medialib/playback/chain.h"
#include "platform/com/apartment.h"
#include "platform/com/classtable.h"

namespace medialib {
namespace {

constexpr SHORT kStateClosed = 0;
constexpr SHORT kStateRunning = 1;
constexpr SHORT kStatePaused = 2;
constexpr SHORT kStateStopped = 3;

int NumberOf(const AttributeSet& attributes, uint32_t id) {
    auto it = attributes.find(id);
    if (it == attributes.end() || it->second.empty()) return 0;
    const int32_t* n = std::get_if<int32_t>(&it->second.front());
    return n ? *n : 0;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION want) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return {};
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION dir;
        if (SUCCEEDED(p->QueryDirection(&dir)) && dir == want) return p;
    }
    return {};
}

class Player final : public platform::ComObject<Player, MediaPlayer, MediaPlayerGraph> {
  public:
    ~Player() override { Close(); }

    HRESULT Open(LPCWSTR path, LONG) override {
        if (!path || !*path) return E_INVALIDARG;
        Close();
        const auto file_path = FilePathOf(path);
        std::unique_ptr<OpenedFile> file = OpenMediaFile(file_path);
        if (!file) return MEDIALIB_E_UNKNOWNFORMAT;
        // Protected OpenMG audio and the legacy package cannot be played.
        if (!file->Decodable()) return MEDIALIB_E_PROTECTED;
        std::unique_ptr<ByteSource> bytes = OpenFileSource(file_path);
        if (!bytes) return STG_E_FILENOTFOUND;
        // The output format is the stream's real one as the engine read it
        // (the SBR rate and channels for HE-AAC), so the file is probed once.
        const int rate = NumberOf(file->Attributes(), attr::Frequency);
        const int channels = NumberOf(file->Attributes(), attr::Channel);
        if (rate <= 0 || channels <= 0) return MEDIALIB_E_UNKNOWNFORMAT;

        // Null also when the decoding support (FFmpeg, in the module this one
        // loads on first use) is not available: the file cannot be played.
        std::unique_ptr<playback::Chain> chain = playback::CreateChain(std::move(bytes), rate, channels);
        if (!chain) return MEDIALIB_E_UNKNOWNFORMAT;
        IBaseFilter* source = chain->SourceFilter();
        IBaseFilter* decoder = chain->DecoderFilter();
        IBaseFilter* output = chain->OutputFilter();

        ComPtr<IGraphBuilder> graph;
        // This module keeps its own copy of the platform's per-thread COM
        // count, which the caller's CoInitialize did not raise: balance one here.
        const bool com = SUCCEEDED(CoInitialize(nullptr));
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      graph.ReleaseAndGetVoidAddress());
        if (com) CoUninitialize();
        if (FAILED(hr) || !graph) return FAILED(hr) ? hr : E_FAIL;
        if (FAILED(hr = graph->AddFilter(source, u"Source")) ||
            FAILED(hr = graph->AddFilter(decoder, u"Decoder")) ||
            FAILED(hr = graph->AddFilter(output, u"Audio Output")) ||
            FAILED(hr = graph->Connect(FirstPin(source, PINDIR_OUTPUT).Get(),
                                       FirstPin(decoder, PINDIR_INPUT).Get())) ||
            FAILED(hr = graph->Connect(FirstPin(decoder, PINDIR_OUTPUT).Get(),
                                       FirstPin(output, PINDIR_INPUT).Get()))) {
            RemoveAll(graph.Get());
            return hr;
        }
        control_ = graph.As<IMediaControl>();
        if (!control_) {
            RemoveAll(graph.Get());
            return E_NOINTERFACE;
        }
        graph_ = graph;
        chain_ = std::move(chain);
        duration_ms_ = chain_->DurationMs();
        return S_OK;
    }

    HRESULT Close() override {
        if (!graph_) return S_FALSE;
        control_->Stop();
        RemoveAll(graph_.Get());
        control_.Reset();
        graph_.Reset();
        chain_.reset();
        duration_ms_ = 0;
        return S_OK;
    }

    HRESULT Run() override { return control_ ? control_->Run() : MEDIALIB_E_NOTLOADED; }
    HRESULT Stop() override { return control_ ? control_->Stop() : MEDIALIB_E_NOTLOADED; }
    HRESULT Pause() override { return control_ ? control_->Pause() : MEDIALIB_E_NOTLOADED; }

    HRESULT GetDuration(LONG* milliseconds) override {
        if (!milliseconds) return E_POINTER;
        if (!graph_) return MEDIALIB_E_NOTLOADED;
        if (duration_ms_ <= 0) return E_FAIL;
        *milliseconds = static_cast<LONG>(std::min<int64_t>(duration_ms_, 0x7FFFFFFF));
        return S_OK;
    }

    // Mode 1: to `milliseconds` (clamped to the stream); mode 2: to the end,
    // so the stream completes at once.
    HRESULT Seek(LONG milliseconds, LONG mode) override {
        if (!graph_) return MEDIALIB_E_NOTLOADED;
        if (mode != 1 && mode != 2) return E_INVALIDARG;
        OAFilterState state = State_Stopped;
        control_->GetState(0, &state);
        control_->Stop();
        if (mode == 2 || (duration_ms_ > 0 && milliseconds >= duration_ms_)) {
            chain_->SeekToEnd();
        } else {
            chain_->Seek(milliseconds);
        }
        if (state == State_Running) return control_->Run();
        if (state == State_Paused) return control_->Pause();
        return S_OK;
    }

    HRESULT GetState(SHORT* state) override {
        if (!state) return E_POINTER;
        if (!control_) {
            *state = kStateClosed;
            return S_OK;
        }
        OAFilterState s = State_Stopped;
        control_->GetState(0, &s);
        if (s == State_Stopped || (s == State_Running && chain_->Ended()))
            *state = kStateStopped;
        else
            *state = s == State_Running ? kStateRunning : kStatePaused;
        return S_OK;
    }

    HRESULT GetRenderer(REFIID riid, void** filter) override {
        if (!filter) return E_POINTER;
        *filter = nullptr;
        if (!chain_) return MEDIALIB_E_NOTLOADED;
        return chain_->OutputFilter()->QueryInterface(riid, filter);
    }

    HRESULT GetGraph(REFIID riid, void** graph) override {
        if (!graph) return E_POINTER;
        *graph = nullptr;
        if (!graph_) return MEDIALIB_E_NOTLOADED;
        return graph_->QueryInterface(riid, graph);
    }

    // The first object given back is the filter that owns the upstream pin.
    HRESULT GetUpstreamPin(REFIID filter_iid, IUnknown* filter, LPCWSTR pin_id, REFIID pin_iid, void** object,
                           void** pin) override {
        if (!object || !pin) return E_POINTER;
        *object = nullptr;
        *pin = nullptr;
        if (!filter || !pin_id) return E_INVALIDARG;
        ComPtr<IBaseFilter> base;
        if (FAILED(filter->QueryInterface(IID_IBaseFilter, base.ReleaseAndGetVoidAddress())) || !base)
            return E_NOINTERFACE;
        ComPtr<IPin> input, upstream;
        HRESULT hr = base->FindPin(pin_id, input.ReleaseAndGetAddressOf());
        if (FAILED(hr)) return hr;
        if (FAILED(hr = input->ConnectedTo(upstream.ReleaseAndGetAddressOf()))) return hr;
        PIN_INFO info{};
        if (FAILED(hr = upstream->QueryPinInfo(&info))) return hr;
        ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
        if (FAILED(hr = owner->QueryInterface(filter_iid, object))) return hr;
        if (FAILED(hr = upstream->QueryInterface(pin_iid, pin))) {
            static_cast<IUnknown*>(*object)->Release();
            *object = nullptr;
        }
        return hr;
    }

    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT Reserved12() override { return E_NOTIMPL; }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT Reserved14() override { return E_NOTIMPL; }
    HRESULT Reserved15() override { return E_NOTIMPL; }
    HRESULT Reserved16() override { return E_NOTIMPL; }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }

  private:
    static void RemoveAll(IGraphBuilder* graph) {
        for (;;) {
            ComPtr<IEnumFilters> list;
            if (FAILED(graph->EnumFilters(list.ReleaseAndGetAddressOf())) || !list) return;
            IBaseFilter* f = nullptr;
            if (list->Next(1, &f, nullptr) != S_OK) return;
            ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(f);
            if (FAILED(graph->RemoveFilter(filter.Get()))) return;
        }
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    std::unique_ptr<playback::Chain> chain_;
    int64_t duration_ms_ = 0;
};

}  // namespace

HRESULT CreatePlayerObject(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* player = new Player();
    HRESULT hr = player->QueryInterface(riid, object);
    player->Release();
    return hr;
}

}  // namespace medialib
