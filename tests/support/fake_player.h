// A fake of the library's player for decoder tests: a MediaPlayer and
// MediaPlayerGraph over a real filter graph (the runtime linked into the test)
// whose source is scripted: `samples` media samples of `bytes` bytes (byte
// value = sample index) of PCM in the scripted format, feeding a Null Renderer
// that stands for the player's audio output. Every call is logged (calls come
// from the decoding thread and, for Pause, the streaming thread), and
// behaviours the real player never shows can be forced: a refused Open, a
// missing graph, a Pause that does nothing for the last sample (so that it
// arrives together with the completion), a Run that reports a user abort, a
// Run that never delivers, a fixed state answer, a failed duration.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/graph/graph.h"
#include "support/media_library_stubs.h"
#include "support/test_source_filter.h"

namespace testsupport {

struct PlayerScript {
    int rate = 44100;
    int channels = 2;
    int bits = 16;
    int samples = 3;
    int bytes = 4096;
    HRESULT open_result = S_OK;
    bool gives_graph = true;
    LONG duration_ms = 10000;
    HRESULT duration_result = S_OK;
    bool ignore_last_pause = false;
    bool run_posts_user_abort = false;
    bool run_does_nothing = false;
    int fail_at = -1;  // the source fails at this sample (EC_ERRORABORT)
    SHORT state = -1;  // GetState's answer; -1: 3 once the graph stopped or the source reached its end
};

class FakePlayer final : public platform::ComObject<FakePlayer, StubMediaPlayer, StubMediaPlayerGraph> {
  public:
    explicit FakePlayer(const PlayerScript& script) : script_(script) {}
    ~FakePlayer() override {
        if (control_) control_->Stop();
    }

    std::vector<std::string> Calls() const {
        std::lock_guard lock(mu_);
        return calls_;
    }
    size_t CountCalls(const std::string& call) const {
        std::lock_guard lock(mu_);
        size_t n = 0;
        for (auto& c : calls_) n += c == call;
        return n;
    }
    TestSource* source() const { return source_.Get(); }

    HRESULT Open(LPCWSTR, LONG flags) override {
        Log("Open(" + std::to_string(flags) + ")");
        if (FAILED(script_.open_result)) return script_.open_result;
        AM_MEDIA_TYPE mt = PcmMediaType(script_.rate, script_.channels, script_.bits);
        source_.Attach(TestSource::Create(mt, script_.samples, script_.bytes));
        FreeMediaType(mt);
        if (script_.fail_at >= 0) source_->FailAt(script_.fail_at);
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      graph_.ReleaseAndGetVoidAddress());
        if (FAILED(hr)) return hr;
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         output_.ReleaseAndGetVoidAddress());
        graph_->AddFilter(source_.Get(), u"Source");
        graph_->AddFilter(output_.Get(), u"Audio Output");
        ComPtr<IPin> in;
        output_->FindPin(u"In", in.ReleaseAndGetAddressOf());
        hr = graph_->Connect(source_->output()->AsPin(), in.Get());
        control_ = graph_.As<IMediaControl>();
        sink_ = graph_.As<IMediaEventSink>();
        return hr;
    }
    HRESULT Close() override {
        Log("Close");
        return S_OK;
    }
    HRESULT Run() override {
        Log("Run");
        if (script_.run_posts_user_abort) return sink_->Notify(EC_USERABORT, 0, 0);
        if (script_.run_does_nothing) return S_OK;
        return control_ ? control_->Run() : E_FAIL;
    }
    HRESULT Stop() override {
        Log("Stop");
        return control_ ? control_->Stop() : S_OK;
    }
    HRESULT Pause() override {
        Log("Pause");
        if (script_.ignore_last_pause && source_ && source_->produced() + 1 >= script_.samples) return S_OK;
        return control_ ? control_->Pause() : E_FAIL;
    }
    HRESULT GetDuration(LONG* ms) override {
        Log("GetDuration");
        if (FAILED(script_.duration_result)) return script_.duration_result;
        *ms = script_.duration_ms;
        return S_OK;
    }
    HRESULT Seek(LONG ms, LONG mode) override {
        Log("Seek(" + std::to_string(ms) + "," + std::to_string(mode) + ")");
        if (!control_) return E_FAIL;
        OAFilterState state = State_Stopped;
        control_->GetState(0, &state);
        control_->Stop();
        source_->Rewind(mode == 2 ? script_.samples : static_cast<int>(ms / 10));
        if (state == State_Running) control_->Run();
        if (state == State_Paused) control_->Pause();
        return S_OK;
    }
    HRESULT GetState(SHORT* state) override {
        Log("GetState");
        if (script_.state >= 0) {
            *state = script_.state;
            return S_OK;
        }
        OAFilterState s = State_Stopped;
        if (control_) control_->GetState(0, &s);
        *state = s == State_Stopped || (source_ && source_->ended()) ? 3 : 1;
        return S_OK;
    }

    HRESULT GetRenderer(REFIID riid, void** filter) override {
        Log("GetRenderer");
        *filter = nullptr;
        return output_ ? output_->QueryInterface(riid, filter) : E_FAIL;
    }
    HRESULT GetGraph(REFIID riid, void** graph) override {
        Log("GetGraph");
        *graph = nullptr;
        if (!script_.gives_graph || !graph_) return E_FAIL;
        return graph_->QueryInterface(riid, graph);
    }
    HRESULT GetUpstreamPin(REFIID filter_iid, IUnknown* filter, LPCWSTR pin_id, REFIID pin_iid, void** object,
                           void** pin) override {
        Log("GetUpstreamPin");
        *object = *pin = nullptr;
        ComPtr<IBaseFilter> f;
        filter->QueryInterface(IID_IBaseFilter, f.ReleaseAndGetVoidAddress());
        ComPtr<IPin> in, up;
        if (!f || FAILED(f->FindPin(pin_id, in.ReleaseAndGetAddressOf())) ||
            FAILED(in->ConnectedTo(up.ReleaseAndGetAddressOf())))
            return E_FAIL;
        source_->QueryInterface(filter_iid, object);
        return up->QueryInterface(pin_iid, pin);
    }

  private:
    void Log(std::string call) {
        std::lock_guard lock(mu_);
        calls_.push_back(std::move(call));
    }

    PlayerScript script_;
    mutable std::mutex mu_;
    std::vector<std::string> calls_;
    ComPtr<TestSource> source_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> output_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventSink> sink_;
};

}  // namespace testsupport
