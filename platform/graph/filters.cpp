// Pins, the filter base, media samples and media types.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/graph/enumerators.h"
#include "platform/graph/graph.h"

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) mt.pUnk->Release();
    mt.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    *dst = *src;
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            *dst = AM_MEDIA_TYPE{};
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
        dst->cbFormat = src->cbFormat;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

namespace platform::graph {

bool MediaTypeMatches(const AM_MEDIA_TYPE& want, const AM_MEDIA_TYPE& mt) {
    if (want.majortype != GUID_NULL && want.majortype != mt.majortype) return false;
    if (want.subtype != GUID_NULL && want.subtype != mt.subtype) return false;
    if (want.formattype != GUID_NULL && want.formattype != mt.formattype) return false;
    return true;
}

// ---------------------------------------------------------------- Pin

Pin::Pin(FilterBase* owner, PIN_DIRECTION dir, std::u16string id)
    : owner_(owner), dir_(dir), id_(std::move(id)) {}

Pin::~Pin() { FreeMediaType(mt_); }

HRESULT Pin::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (riid == IMemInputPin::iid && dir_ == PINDIR_INPUT)
        *object = static_cast<IMemInputPin*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}
ULONG Pin::AddRef() { return owner_->AddRef(); }
ULONG Pin::Release() { return owner_->Release(); }

bool Pin::connected() const {
    std::lock_guard lock(mu_);
    return static_cast<bool>(connected_);
}

AM_MEDIA_TYPE Pin::ConnectionType() const {
    std::lock_guard lock(mu_);
    AM_MEDIA_TYPE copy{};
    if (connected_) CopyMediaType(&copy, &mt_);
    return copy;
}

void Pin::SetConnection(IPin* other, const AM_MEDIA_TYPE& mt) {
    {
        std::lock_guard lock(mu_);
        connected_ = ComPtr<IPin>(other);
        FreeMediaType(mt_);
        CopyMediaType(&mt_, &mt);
        input_.Reset();
        if (dir_ == PINDIR_OUTPUT)
            other->QueryInterface(IMemInputPin::iid, input_.ReleaseAndGetVoidAddress());
    }
    owner_->OnConnected(this);
}

HRESULT Pin::TryConnect(IPin* receive_pin, const AM_MEDIA_TYPE& mt) {
    HRESULT hr = receive_pin->ReceiveConnection(AsPin(), &mt);
    if (FAILED(hr)) return hr;
    SetConnection(receive_pin, mt);
    return S_OK;
}

HRESULT Pin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) {
    if (!receive_pin) return E_POINTER;
    if (dir_ != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (connected()) return VFW_E_ALREADY_CONNECTED;
    if (owner_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other = PINDIR_OUTPUT;
    if (FAILED(receive_pin->QueryDirection(&other)) || other != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    for (int i = 0;; ++i) {
        AM_MEDIA_TYPE offer{};
        if (!owner_->GetOutputType(this, i, &offer)) break;
        HRESULT hr = VFW_E_TYPE_NOT_ACCEPTED;
        if (!mt || MediaTypeMatches(*mt, offer)) hr = TryConnect(receive_pin, offer);
        FreeMediaType(offer);
        if (SUCCEEDED(hr)) return S_OK;
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT Pin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    if (dir_ != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (connected()) return VFW_E_ALREADY_CONNECTED;
    if (owner_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (owner_->CheckInputType(this, mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    SetConnection(connector, *mt);
    return S_OK;
}

HRESULT Pin::Disconnect() {
    std::lock_guard lock(mu_);
    if (!connected_) return S_FALSE;
    connected_.Reset();
    input_.Reset();
    FreeMediaType(mt_);
    mt_ = AM_MEDIA_TYPE{};
    return S_OK;
}

HRESULT Pin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard lock(mu_);
    *pin = connected_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT Pin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::lock_guard lock(mu_);
    *mt = AM_MEDIA_TYPE{};
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return CopyMediaType(mt, &mt_);
}

HRESULT Pin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    *info = PIN_INFO{};
    info->pFilter = owner_->AsFilter();
    info->pFilter->AddRef();
    info->dir = dir_;
    const size_t n = std::min<size_t>(id_.size(), 127);
    std::copy_n(id_.data(), n, info->achName);
    return S_OK;
}

HRESULT Pin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = dir_;
    return S_OK;
}

HRESULT Pin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((id_.size() + 1) * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    std::copy(id_.begin(), id_.end(), *id);
    (*id)[id_.size()] = 0;
    return S_OK;
}

HRESULT Pin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (dir_ == PINDIR_INPUT) return owner_->CheckInputType(this, mt) == S_OK ? S_OK : S_FALSE;
    return S_FALSE;
}

HRESULT Pin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    std::vector<AM_MEDIA_TYPE> list;
    for (int i = 0;; ++i) {
        AM_MEDIA_TYPE t{};
        if (dir_ != PINDIR_OUTPUT || !owner_->GetOutputType(this, i, &t)) break;
        list.push_back(t);
    }
    *types = new MediaTypeEnumerator(std::move(list));
    return S_OK;
}

HRESULT Pin::EndOfStream() { return dir_ == PINDIR_INPUT ? owner_->OnEndOfStream(this) : E_UNEXPECTED; }
HRESULT Pin::BeginFlush() { return dir_ == PINDIR_INPUT ? owner_->OnBeginFlush(this) : E_UNEXPECTED; }
HRESULT Pin::EndFlush() { return dir_ == PINDIR_INPUT ? owner_->OnEndFlush(this) : E_UNEXPECTED; }
HRESULT Pin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT Pin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    if (dir_ != PINDIR_INPUT) return E_UNEXPECTED;
    // A stopped filter takes nothing (the graph is stopping).
    if (owner_->state() == State_Stopped) return VFW_E_WRONG_STATE;
    return owner_->OnReceive(this, sample);
}

HRESULT Pin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    LONG done = 0;
    HRESULT hr = S_OK;
    while (done < count && (hr = Receive(samples[done])) == S_OK) ++done;
    if (processed) *processed = done;
    return hr;
}

HRESULT Pin::Deliver(IMediaSample* sample) {
    ComPtr<IMemInputPin> input;
    {
        std::lock_guard lock(mu_);
        input = input_;
    }
    if (!input) return VFW_E_NOT_CONNECTED;
    return input->Receive(sample);
}

namespace {
template <typename Call>
HRESULT CallConnected(std::mutex& mu, const ComPtr<IPin>& connected, Call call) {
    ComPtr<IPin> pin;
    {
        std::lock_guard lock(mu);
        pin = connected;
    }
    return pin ? call(pin.Get()) : VFW_E_NOT_CONNECTED;
}
}  // namespace

HRESULT Pin::DeliverEndOfStream() {
    return CallConnected(mu_, connected_, [](IPin* p) { return p->EndOfStream(); });
}
HRESULT Pin::DeliverBeginFlush() {
    return CallConnected(mu_, connected_, [](IPin* p) { return p->BeginFlush(); });
}
HRESULT Pin::DeliverEndFlush() {
    return CallConnected(mu_, connected_, [](IPin* p) { return p->EndFlush(); });
}

// ---------------------------------------------------------------- FilterBase

FilterBase::FilterBase(const CLSID& clsid) : clsid_(clsid) {}
FilterBase::~FilterBase() = default;

HRESULT FilterBase::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IPersist::iid || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter) {
        *object = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    return QueryExtra(riid, object);
}
ULONG FilterBase::AddRef() { return ++refs_; }
ULONG FilterBase::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT FilterBase::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

FILTER_STATE FilterBase::state() const {
    std::lock_guard lock(mu_);
    return state_;
}

HRESULT FilterBase::Stop() {
    FILTER_STATE old;
    {
        std::lock_guard lock(mu_);
        old = std::exchange(state_, State_Stopped);
        cv_.notify_all();
    }
    if (old != State_Stopped) OnStateChanged(old, State_Stopped);
    return S_OK;
}

HRESULT FilterBase::Pause() {
    FILTER_STATE old;
    {
        std::lock_guard lock(mu_);
        old = std::exchange(state_, State_Paused);
        cv_.notify_all();
    }
    if (old != State_Paused) OnStateChanged(old, State_Paused);
    return S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
    FILTER_STATE old;
    {
        std::lock_guard lock(mu_);
        start_ = start;
        old = std::exchange(state_, State_Running);
        cv_.notify_all();
    }
    if (old != State_Running) OnStateChanged(old, State_Running);
    return S_OK;
}

HRESULT FilterBase::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = this->state();
    return S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard lock(mu_);
    clock_ = ComPtr<IReferenceClock>(clock);
    cv_.notify_all();
    return S_OK;
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard lock(mu_);
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

HRESULT FilterBase::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> list;
    for (auto& p : pins_) list.emplace_back(p->AsPin());
    *pins = new ObjectEnumerator<IEnumPins, IPin>(std::move(list));
    return S_OK;
}

HRESULT FilterBase::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (auto& p : pins_) {
        LPWSTR pid = nullptr;
        if (FAILED(p->QueryId(&pid))) continue;
        const bool same = std::u16string_view(pid) == std::u16string_view(id);
        CoTaskMemFree(pid);
        if (same) {
            *pin = p->AsPin();
            (*pin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    *info = FILTER_INFO{};
    std::lock_guard lock(mu_);
    const size_t n = std::min<size_t>(name_.size(), 127);
    std::copy_n(name_.data(), n, info->achName);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard lock(mu_);
    graph_ = graph;
    name_ = name ? std::u16string(name) : std::u16string();
    return S_OK;
}

Pin* FilterBase::AddPin(PIN_DIRECTION dir, std::u16string id) {
    pins_.push_back(std::make_unique<Pin>(this, dir, std::move(id)));
    return pins_.back().get();
}

Pin* FilterBase::FirstPin(PIN_DIRECTION dir) const {
    for (auto& p : pins_)
        if (p->direction() == dir) return p.get();
    return nullptr;
}

void FilterBase::NotifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2) {
    ComPtr<IMediaEventSink> sink;
    {
        std::lock_guard lock(mu_);
        if (graph_) graph_->QueryInterface(IMediaEventSink::iid, sink.ReleaseAndGetVoidAddress());
    }
    if (sink) sink->Notify(code, param1, param2);
}

HRESULT FilterBase::OnEndOfStream(Pin*) {
    for (auto& p : pins_)
        if (p->direction() == PINDIR_OUTPUT) p->DeliverEndOfStream();
    return S_OK;
}

HRESULT FilterBase::OnBeginFlush(Pin*) {
    {
        std::lock_guard lock(mu_);
        flushing_ = true;
        cv_.notify_all();
    }
    for (auto& p : pins_)
        if (p->direction() == PINDIR_OUTPUT) p->DeliverBeginFlush();
    return S_OK;
}

HRESULT FilterBase::OnEndFlush(Pin*) {
    {
        std::lock_guard lock(mu_);
        flushing_ = false;
    }
    for (auto& p : pins_)
        if (p->direction() == PINDIR_OUTPUT) p->DeliverEndFlush();
    return S_OK;
}

HRESULT FilterBase::WaitToRender(const REFERENCE_TIME* start) {
    std::unique_lock lock(mu_);
    for (;;) {
        if (flushing_) return S_FALSE;
        if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
        if (state_ == State_Paused) {
            if (!holding_) {
                holding_ = true;
                lock.unlock();
                NotifyGraph(EC_RENDERER_HOLDING, 0, 0);
                lock.lock();
                continue;
            }
            cv_.wait(lock);
            continue;
        }
        holding_ = false;
        if (clock_ && start) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            const REFERENCE_TIME due = start_ + *start;
            if (now < due) {
                cv_.wait_for(lock, std::chrono::microseconds((due - now) / 10 + 1));
                continue;
            }
        }
        return S_OK;
    }
}

// ---------------------------------------------------------------- RendererBase

RendererBase::RendererBase(const CLSID& clsid) : FilterBase(clsid) { AddPin(PINDIR_INPUT, u"In"); }

HRESULT RendererBase::OnReceive(Pin*, IMediaSample* sample) {
    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
    HRESULT hr = WaitToRender(timed ? &start : nullptr);
    if (hr != S_OK) return hr;
    Render(sample);
    return S_OK;
}

HRESULT RendererBase::OnEndOfStream(Pin*) {
    HRESULT hr = WaitToRender(nullptr);
    if (hr != S_OK) return S_OK;  // stopped or flushing: the end is not reached
    NotifyGraph(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(AsFilter()));
    return S_OK;
}

// ---------------------------------------------------------------- MediaSample

MediaSample* MediaSample::Create(size_t capacity) {
    auto* s = new MediaSample();
    s->buffer_.resize(capacity);
    return s;
}

HRESULT MediaSample::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IMediaSample::iid) {
        *object = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    return QueryExtra(riid, object);
}
ULONG MediaSample::AddRef() { return ++refs_; }
ULONG MediaSample::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT MediaSample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = buffer_.data();
    return S_OK;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!start || !end) return E_POINTER;
    if (!has_time_) return VFW_E_NOT_FOUND;
    *start = start_;
    *end = end_;
    return S_OK;
}

HRESULT MediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    has_time_ = start != nullptr;
    if (start) start_ = *start;
    end_ = end ? *end : start_ + 1;
    return S_OK;
}

HRESULT MediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || static_cast<size_t>(length) > buffer_.size()) return E_INVALIDARG;
    length_ = length;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
    if (!mt) return E_POINTER;
    *mt = nullptr;
    return S_FALSE;  // the type has not changed
}

HRESULT MediaSample::SetDiscontinuity(BOOL d) {
    discontinuity_ = d != 0;
    return S_OK;
}

}  // namespace platform::graph
