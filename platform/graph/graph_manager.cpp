// The filter graph manager: filters, connections, state, events and the
// streaming thread (see graph.h for how streaming works).
//
// Locks: transition_mu_ serialises state changes; mu_ guards the filter list
// and the state; events_mu_ the event queue. No filter is called with mu_ or
// events_mu_ held, and filters' state calls never block, so a filter may call
// back into the graph from any thread (a Pause from inside a sample callback,
// a renderer's Notify) without deadlock.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/memory.h"
#include "platform/graph/enumerators.h"
#include "platform/graph/graph.h"

namespace platform::graph {
namespace {

std::mutex g_converters_mu;
std::vector<CLSID>& Converters() {
    static std::vector<CLSID> list;
    return list;
}

struct Event {
    LONG code;
    LONG_PTR param1, param2;
};

struct FilterEntry {
    ComPtr<IBaseFilter> filter;
    std::u16string name;
};

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION want) {
    std::vector<ComPtr<IPin>> out;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return out;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION dir;
        if (SUCCEEDED(p->QueryDirection(&dir)) && dir == want) out.push_back(p);
    }
    return out;
}

ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return {};
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

class FilterGraph final : public platform::ComObject<FilterGraph, IGraphBuilder, IMediaControl, IMediaFilter,
                                                     IMediaEvent, IMediaEventSink> {
    using Base = platform::ComObject<FilterGraph, IGraphBuilder, IMediaControl, IMediaFilter, IMediaEvent,
                                     IMediaEventSink>;

  public:
    // A new graph paces rendering with the system clock until SetSyncSource changes it.
    FilterGraph() { CreateSystemClock(IReferenceClock::iid, clock_.ReleaseAndGetVoidAddress()); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object && riid == IFilterGraph::iid) {
            *object = static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this));
            AddRef();
            return S_OK;
        }
        return Base::QueryInterface(riid, object);
    }

    ~FilterGraph() override {
        Stop();
        {
            std::lock_guard lock(mu_);
            quit_ = true;
            cv_.notify_all();
        }
        if (thread_.joinable()) {
            if (thread_.get_id() == std::this_thread::get_id())
                thread_.detach();
            else
                thread_.join();
        }
        // Connected pins reference each other's filters: break every
        // connection, or the filters would keep each other alive.
        for (auto& e : filters_) {
            for (PIN_DIRECTION dir : {PINDIR_INPUT, PINDIR_OUTPUT})
                for (auto& pin : PinsOf(e.filter.Get(), dir)) pin->Disconnect();
            e.filter->JoinFilterGraph(nullptr, nullptr);
        }
    }

    // IFilterGraph -------------------------------------------------------
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        if (!filter) return E_POINTER;
        ComPtr<IReferenceClock> clock;
        std::u16string unique;
        {
            std::lock_guard lock(mu_);
            for (auto& e : filters_)
                if (e.filter.Get() == filter) return E_INVALIDARG;
            unique = name ? std::u16string(name) : std::u16string(u"Filter");
            for (int n = 1;
                 std::any_of(filters_.begin(), filters_.end(), [&](auto& e) { return e.name == unique; });
                 ++n)
                unique = (name ? std::u16string(name) : std::u16string(u"Filter")) + u" " +
                         std::u16string(std::to_string(n).begin(), std::to_string(n).end());
            filters_.push_back({ComPtr<IBaseFilter>(filter), unique});
            clock = clock_;
        }
        filter->JoinFilterGraph(static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)),
                                unique.c_str());
        filter->SetSyncSource(clock.Get());
        return S_OK;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        if (!filter) return E_POINTER;
        ComPtr<IBaseFilter> held;
        {
            std::lock_guard lock(mu_);
            auto it = std::find_if(filters_.begin(), filters_.end(),
                                   [&](auto& e) { return e.filter.Get() == filter; });
            if (it == filters_.end()) return VFW_E_NOT_FOUND;
            held = it->filter;
            filters_.erase(it);
        }
        for (PIN_DIRECTION dir : {PINDIR_INPUT, PINDIR_OUTPUT}) {
            for (auto& pin : PinsOf(filter, dir)) {
                ComPtr<IPin> other;
                if (SUCCEEDED(pin->ConnectedTo(other.ReleaseAndGetAddressOf())) && other) other->Disconnect();
                pin->Disconnect();
            }
        }
        filter->JoinFilterGraph(nullptr, nullptr);
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** out) override {
        if (!out) return E_POINTER;
        std::vector<ComPtr<IBaseFilter>> list;
        {
            std::lock_guard lock(mu_);
            for (auto& e : filters_) list.push_back(e.filter);
        }
        *out = new ObjectEnumerator<IEnumFilters, IBaseFilter>(std::move(list));
        return S_OK;
    }

    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        if (!name || !filter) return E_POINTER;
        *filter = nullptr;
        std::lock_guard lock(mu_);
        for (auto& e : filters_) {
            if (e.name == name) {
                *filter = e.filter.Get();
                (*filter)->AddRef();
                return S_OK;
            }
        }
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        if (!out || !in) return E_POINTER;
        if (!InGraph(out) || !InGraph(in)) return VFW_E_NOT_IN_GRAPH;
        return out->Connect(in, mt);
    }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin* pin) override {
        if (!pin) return E_POINTER;
        return pin->Disconnect();
    }
    HRESULT SetDefaultSyncSource() override {
        ComPtr<IReferenceClock> clock;
        CreateSystemClock(IReferenceClock::iid, clock.ReleaseAndGetVoidAddress());
        return SetSyncSource(clock.Get());
    }

    // IGraphBuilder ------------------------------------------------------
    HRESULT Connect(IPin* out, IPin* in) override {
        HRESULT hr = ConnectDirect(out, in, nullptr);
        if (SUCCEEDED(hr) || hr == VFW_E_NOT_IN_GRAPH || hr == VFW_E_ALREADY_CONNECTED) return hr;
        std::vector<CLSID> converters;
        {
            std::lock_guard lock(g_converters_mu);
            converters = Converters();
        }
        for (const CLSID& clsid : converters) {
            ComPtr<IBaseFilter> conv;
            if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        conv.ReleaseAndGetVoidAddress())) ||
                !conv)
                continue;
            auto ins = PinsOf(conv.Get(), PINDIR_INPUT);
            auto outs = PinsOf(conv.Get(), PINDIR_OUTPUT);
            if (ins.empty() || outs.empty() || FAILED(AddFilter(conv.Get(), u"Converter"))) continue;
            if (SUCCEEDED(out->Connect(ins[0].Get(), nullptr))) {
                if (SUCCEEDED(outs[0]->Connect(in, nullptr))) return S_OK;
            }
            RemoveFilter(conv.Get());
        }
        return VFW_E_CANNOT_CONNECT;
    }
    HRESULT Render(IPin*) override { return E_NOTIMPL; }
    HRESULT RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** filter) override {
        if (filter) *filter = nullptr;
        return E_NOTIMPL;
    }
    HRESULT SetLogFile(LONG_PTR) override { return S_OK; }
    HRESULT Abort() override { return S_OK; }
    HRESULT ShouldOperationContinue() override { return S_OK; }

    // IMediaControl / IMediaFilter --------------------------------------
    HRESULT Run() override { return RunAt(-1); }
    HRESULT Run(REFERENCE_TIME start) override { return RunAt(start); }

    HRESULT Pause() override {
        std::lock_guard transition(transition_mu_);
        bool from_stopped;
        {
            std::lock_guard lock(mu_);
            from_stopped = state_ == State_Stopped;
            if (state_ == State_Running) paused_stream_time_ = Now() - start_;
            if (from_stopped) ResetSegment();
            state_ = State_Paused;
            pause_pending_ = true;
        }
        for (auto& f : DownstreamFirst()) f->Pause();
        std::lock_guard lock(mu_);
        if (!busy_ && pause_pending_ && state_ == State_Paused) {
            pause_pending_ = false;
            Post({EC_PAUSED, S_OK, 0});
        }
        return S_OK;
    }

    HRESULT Stop() override {
        {
            std::lock_guard transition(transition_mu_);
            {
                std::lock_guard lock(mu_);
                state_ = State_Stopped;
                pause_pending_ = false;
                paused_stream_time_ = 0;
                cv_.notify_all();
            }
            // Sources first: a filter that has stopped refuses samples, so
            // nothing new flows while the renderers let go of what they hold.
            auto order = DownstreamFirst();
            for (auto it = order.rbegin(); it != order.rend(); ++it) (*it)->Stop();
        }
        // Not under the transition lock: the streaming thread may still ask
        // for a state change (a pause from a sample callback) before it is idle.
        std::unique_lock lock(mu_);
        if (std::this_thread::get_id() != thread_id_) cv_.wait(lock, [&] { return !busy_; });
        return S_OK;
    }

    HRESULT GetState(LONG, OAFilterState* state) override {
        if (!state) return E_POINTER;
        std::lock_guard lock(mu_);
        *state = state_;
        return S_OK;
    }
    HRESULT GetState(DWORD, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        std::lock_guard lock(mu_);
        *state = state_;
        return S_OK;
    }
    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_FilterGraph;
        return S_OK;
    }
    HRESULT SetSyncSource(IReferenceClock* clock) override {
        std::vector<ComPtr<IBaseFilter>> filters;
        {
            std::lock_guard lock(mu_);
            clock_ = ComPtr<IReferenceClock>(clock);
            for (auto& e : filters_) filters.push_back(e.filter);
        }
        for (auto& f : filters) f->SetSyncSource(clock);
        return S_OK;
    }
    HRESULT GetSyncSource(IReferenceClock** clock) override {
        if (!clock) return E_POINTER;
        std::lock_guard lock(mu_);
        *clock = clock_.Get();
        if (*clock) (*clock)->AddRef();
        return S_OK;
    }

    // IMediaEvent --------------------------------------------------------
    HRESULT GetEventHandle(LONG_PTR*) override { return E_NOTIMPL; }
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) override {
        if (!code || !param1 || !param2) return E_POINTER;
        std::unique_lock lock(events_mu_);
        auto ready = [&] { return !events_.empty(); };
        if (static_cast<DWORD>(timeout_ms) == INFINITE)
            events_cv_.wait(lock, ready);
        else if (!events_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
            return E_ABORT;
        const Event e = events_.front();
        events_.pop_front();
        *code = e.code;
        *param1 = e.param1;
        *param2 = e.param2;
        return S_OK;
    }
    HRESULT WaitForCompletion(LONG timeout_ms, LONG* code) override {
        if (!code) return E_POINTER;
        for (;;) {
            LONG_PTR p1, p2;
            HRESULT hr = GetEvent(code, &p1, &p2, timeout_ms);
            if (FAILED(hr)) return hr;
            if (*code == EC_COMPLETE || *code == EC_USERABORT || *code == EC_ERRORABORT) return S_OK;
        }
    }
    HRESULT CancelDefaultHandling(LONG) override { return S_OK; }
    HRESULT RestoreDefaultHandling(LONG) override { return S_OK; }
    HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

    // IMediaEventSink ----------------------------------------------------
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        std::lock_guard lock(mu_);
        if (code == EC_RENDERER_HOLDING) {
            if (pause_pending_ && state_ == State_Paused) {
                pause_pending_ = false;
                Post({EC_PAUSED, S_OK, 0});
            }
            return S_OK;
        }
        if (code == EC_COMPLETE) {
            if (complete_posted_ || ++completes_ < renderers_) return S_OK;
            complete_posted_ = true;
            Post({EC_COMPLETE, S_OK, 0});
            return S_OK;
        }
        Post({code, param1, param2});
        return S_OK;
    }

  private:
    // Called with mu_ held (or events_mu_ free in any case).
    void Post(Event e) {
        std::lock_guard lock(events_mu_);
        events_.push_back(e);
        events_cv_.notify_all();
    }

    REFERENCE_TIME Now() const {
        REFERENCE_TIME now = 0;
        if (clock_) clock_->GetTime(&now);
        return now;
    }

    bool InGraph(IPin* pin) {
        ComPtr<IBaseFilter> owner = OwnerOf(pin);
        std::lock_guard lock(mu_);
        return std::any_of(filters_.begin(), filters_.end(),
                           [&](auto& e) { return e.filter.Get() == owner.Get(); });
    }

    // The filters with renderers first and sources last, so that a filter
    // is always ready before the one that feeds it changes state.
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst() {
        std::vector<ComPtr<IBaseFilter>> filters;
        {
            std::lock_guard lock(mu_);
            for (auto& e : filters_) filters.push_back(e.filter);
        }
        std::vector<ComPtr<IBaseFilter>> order;
        std::map<IBaseFilter*, int> mark;  // 1 visiting, 2 done
        auto visit = [&](auto& self, const ComPtr<IBaseFilter>& f) -> void {
            if (mark[f.Get()]) return;
            mark[f.Get()] = 1;
            for (auto& pin : PinsOf(f.Get(), PINDIR_OUTPUT)) {
                ComPtr<IPin> other;
                if (SUCCEEDED(pin->ConnectedTo(other.ReleaseAndGetAddressOf())) && other) {
                    ComPtr<IBaseFilter> next = OwnerOf(other.Get());
                    if (next) self(self, next);
                }
            }
            mark[f.Get()] = 2;
            order.push_back(f);
        };
        for (auto& f : filters) visit(visit, f);
        return order;
    }

    // Resets what one stretch of streaming (stopped to stopped) counted.
    void ResetSegment() {
        sources_.clear();
        renderers_ = 0;
        {
            std::vector<FilterEntry> filters = filters_;
            for (auto& e : filters) {
                ComPtr<IStreamSource> src = e.filter.As<IStreamSource>();
                if (src) sources_.push_back({src, false});
                bool has_connected_input = false, has_output = false;
                for (auto& p : PinsOf(e.filter.Get(), PINDIR_INPUT)) {
                    ComPtr<IPin> other;
                    if (SUCCEEDED(p->ConnectedTo(other.ReleaseAndGetAddressOf())) && other)
                        has_connected_input = true;
                }
                has_output = !PinsOf(e.filter.Get(), PINDIR_OUTPUT).empty();
                if (has_connected_input && !has_output) ++renderers_;
            }
        }
        completes_ = 0;
        complete_posted_ = false;
    }

    HRESULT RunAt(REFERENCE_TIME given_start) {
        std::lock_guard transition(transition_mu_);
        bool from_stopped;
        REFERENCE_TIME start;
        {
            std::lock_guard lock(mu_);
            if (state_ == State_Running) return S_OK;
            from_stopped = state_ == State_Stopped;
            if (from_stopped) {
                ResetSegment();
                paused_stream_time_ = 0;
            }
            start = given_start >= 0 ? given_start : Now() - paused_stream_time_;
            start_ = start;
        }
        auto order = DownstreamFirst();
        if (from_stopped)
            for (auto& f : order) f->Pause();
        for (auto& f : order) f->Run(start);
        std::lock_guard lock(mu_);
        state_ = State_Running;
        pause_pending_ = false;
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { Stream(); });
            thread_id_ = thread_.get_id();
        }
        cv_.notify_all();
        return S_OK;
    }

    struct Source {
        ComPtr<IStreamSource> source;
        bool ended;
    };

    // The streaming thread: while running, asks each source that has not
    // ended for the next piece of its stream.
    void Stream() {
        std::unique_lock lock(mu_);
        size_t next = 0;
        for (;;) {
            cv_.wait(lock, [&] {
                return quit_ || (state_ == State_Running && std::any_of(sources_.begin(), sources_.end(),
                                                                        [](auto& s) { return !s.ended; }));
            });
            if (quit_) return;
            next %= sources_.size();
            while (sources_[next].ended) next = (next + 1) % sources_.size();
            const size_t index = next++;
            ComPtr<IStreamSource> source = sources_[index].source;
            busy_ = true;
            lock.unlock();
            const HRESULT hr = source->Produce();
            lock.lock();
            busy_ = false;
            // Failures while stopping (a refused delivery) are not the stream's.
            if (index < sources_.size() && sources_[index].source.Get() == source.Get() &&
                state_ != State_Stopped) {
                if (hr == S_FALSE) {
                    sources_[index].ended = true;
                } else if (FAILED(hr) && state_ == State_Running) {
                    sources_[index].ended = true;
                    Post({EC_ERRORABORT, hr, 0});
                }
            }
            if (state_ == State_Paused && pause_pending_) {
                pause_pending_ = false;
                Post({EC_PAUSED, S_OK, 0});
            }
            cv_.notify_all();
        }
    }

    // Serialises Run, Pause and Stop (filters included), so that a pause asked
    // from the streaming thread is never overtaken by a run that began earlier.
    std::mutex transition_mu_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<FilterEntry> filters_;
    ComPtr<IReferenceClock> clock_;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME paused_stream_time_ = 0;
    bool pause_pending_ = false;
    bool busy_ = false;
    bool quit_ = false;
    std::vector<Source> sources_;
    int renderers_ = 0;
    int completes_ = 0;
    bool complete_posted_ = false;
    std::thread thread_;
    std::thread::id thread_id_;

    std::mutex events_mu_;
    std::condition_variable events_cv_;
    std::deque<Event> events_;
};

}  // namespace

HRESULT CreateFilterGraph(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    auto* g = new FilterGraph();
    HRESULT hr = g->QueryInterface(riid, object);
    g->Release();
    return hr;
}

ConverterRegistration::ConverterRegistration(const CLSID& clsid) : clsid_(clsid) {
    std::lock_guard lock(g_converters_mu);
    Converters().push_back(clsid);
}

ConverterRegistration::~ConverterRegistration() {
    std::lock_guard lock(g_converters_mu);
    auto& list = Converters();
    auto it = std::find(list.begin(), list.end(), clsid_);
    if (it != list.end()) list.erase(it);
}

}  // namespace platform::graph
