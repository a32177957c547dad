// The stock classes: Sample Grabber, Null Renderer and the system clock.
#include <chrono>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/graph/graph.h"

namespace platform::graph {
namespace {

// Passes samples through unchanged, showing each to the application's
// callback first (on the streaming thread). Its input accepts the type set
// with SetMediaType; its output offers the type the input connected with.
class SampleGrabber final : public FilterBase, public ISampleGrabber {
  public:
    SampleGrabber() : FilterBase(CLSID_SampleGrabber) {
        in_ = AddPin(PINDIR_INPUT, u"In");
        out_ = AddPin(PINDIR_OUTPUT, u"Out");
    }
    ~SampleGrabber() override {
        FreeMediaType(want_);
        FreeMediaType(buffered_type_);
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return FilterBase::QueryInterface(riid, object);
    }
    ULONG AddRef() override { return FilterBase::AddRef(); }
    ULONG Release() override { return FilterBase::Release(); }

    HRESULT SetOneShot(BOOL one_shot) override {
        std::lock_guard lock(mu_);
        one_shot_ = one_shot != 0;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) override {
        std::lock_guard lock(mu_);
        FreeMediaType(want_);
        want_ = AM_MEDIA_TYPE{};
        if (mt) {
            want_.majortype = mt->majortype;
            want_.subtype = mt->subtype;
            want_.formattype = mt->formattype;
        }
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) override {
        if (!mt) return E_POINTER;
        return in_->ConnectionMediaType(mt);
    }
    HRESULT SetBufferSamples(BOOL buffer) override {
        std::lock_guard lock(mu_);
        buffer_samples_ = buffer != 0;
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (!size) return E_POINTER;
        std::lock_guard lock(mu_);
        if (!buffer_samples_) return E_INVALIDARG;
        if (!buffer) {
            *size = static_cast<LONG>(last_.size());
            return S_OK;
        }
        if (*size < static_cast<LONG>(last_.size())) return E_OUTOFMEMORY;
        std::memcpy(buffer, last_.data(), last_.size());
        *size = static_cast<LONG>(last_.size());
        return S_OK;
    }
    HRESULT GetCurrentSample(IMediaSample** sample) override { return E_NOTIMPL; }
    HRESULT SetCallback(ISampleGrabberCB* callback, LONG method) override {
        if (method != 0 && method != 1) return E_INVALIDARG;
        std::lock_guard lock(mu_);
        callback_ = ComPtr<ISampleGrabberCB>(callback);
        method_ = method;
        return S_OK;
    }

    HRESULT CheckInputType(Pin* pin, const AM_MEDIA_TYPE* mt) override {
        if (pin != in_) return S_FALSE;
        std::lock_guard lock(mu_);
        return MediaTypeMatches(want_, *mt) ? S_OK : S_FALSE;
    }
    bool GetOutputType(Pin* pin, int index, AM_MEDIA_TYPE* mt) override {
        if (pin != out_ || index != 0 || !in_->connected()) return false;
        *mt = in_->ConnectionType();
        return true;
    }

    HRESULT OnReceive(Pin*, IMediaSample* sample) override {
        ComPtr<ISampleGrabberCB> callback;
        LONG method = 0;
        {
            std::lock_guard lock(mu_);
            if (one_shot_ && shot_) return S_FALSE;
            callback = callback_;
            method = method_;
        }
        REFERENCE_TIME start = 0, end = 0;
        const double time =
            SUCCEEDED(sample->GetTime(&start, &end)) ? static_cast<double>(start) / kUnitsPerSecond : 0;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        bool buffer_samples;
        {
            std::lock_guard lock(mu_);
            buffer_samples = buffer_samples_;
            if (buffer_samples && data) last_.assign(data, data + length);
        }
        // The callback runs with no lock held: it may change the graph's state.
        if (callback) {
            if (method == 0)
                callback->SampleCB(time, sample);
            else
                callback->BufferCB(time, data, length);
        }
        HRESULT hr = out_->connected() ? out_->Deliver(sample) : S_OK;
        bool ended = false;
        {
            std::lock_guard lock(mu_);
            if (one_shot_) ended = shot_ = true;
        }
        if (ended) {
            NotifyGraph(EC_COMPLETE, S_OK, 0);
            return S_FALSE;
        }
        return hr;
    }

  protected:
    HRESULT QueryExtra(REFIID riid, void** object) override {
        if (riid != IID_ISampleGrabber) return E_NOINTERFACE;
        *object = static_cast<ISampleGrabber*>(this);
        AddRef();
        return S_OK;
    }
    void OnStateChanged(FILTER_STATE old_state, FILTER_STATE new_state) override {
        if (new_state == State_Stopped) {
            std::lock_guard lock(mu_);
            shot_ = false;
        }
    }

  private:
    Pin* in_;
    Pin* out_;
    AM_MEDIA_TYPE want_{};
    AM_MEDIA_TYPE buffered_type_{};
    ComPtr<ISampleGrabberCB> callback_;
    LONG method_ = 0;
    bool one_shot_ = false;
    bool shot_ = false;
    bool buffer_samples_ = false;
    std::vector<BYTE> last_;
};

class NullRenderer final : public RendererBase {
  public:
    NullRenderer() : RendererBase(CLSID_NullRenderer) {}
};

// Real time in 100 ns units from a monotonic clock.
class SystemClock final : public platform::ComObject<SystemClock, IReferenceClock> {
  public:
    HRESULT GetTime(REFERENCE_TIME* time) override {
        if (!time) return E_POINTER;
        using namespace std::chrono;
        *time = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, LONG_PTR, DWORD*) override { return E_NOTIMPL; }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, LONG_PTR, DWORD*) override { return E_NOTIMPL; }
    HRESULT Unadvise(DWORD) override { return E_NOTIMPL; }
};

template <typename T>
HRESULT CreateFilter(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    auto* f = new T();
    HRESULT hr = f->QueryInterface(riid, object);
    f->Release();
    return hr;
}

}  // namespace

HRESULT CreateSampleGrabber(REFIID riid, void** object) { return CreateFilter<SampleGrabber>(riid, object); }
HRESULT CreateNullRenderer(REFIID riid, void** object) { return CreateFilter<NullRenderer>(riid, object); }
HRESULT CreateSystemClock(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    auto* c = new SystemClock();
    HRESULT hr = c->QueryInterface(riid, object);
    c->Release();
    return hr;
}

std::vector<platform::ClassRegistration> RegisterGraphClasses() {
    std::vector<platform::ClassRegistration> r;
    r.emplace_back(CLSID_FilterGraph, &CreateFilterGraph);
    r.emplace_back(CLSID_SampleGrabber, &CreateSampleGrabber);
    r.emplace_back(CLSID_NullRenderer, &CreateNullRenderer);
    r.emplace_back(CLSID_SystemClock, &CreateSystemClock);
    return r;
}

}  // namespace platform::graph
