// Building blocks of the filter-graph stand-in: the base of a filter with its
// pins, media samples, and the runtime's class creators.
//
// How streaming works: the graph manager owns one streaming thread. While the
// graph runs, that thread calls IStreamSource::Produce on every source filter
// (a filter that answers the private IStreamSource interface); a source pushes
// what it produces downstream through its output pin (IMemInputPin::Receive of
// the connected input pin), so every filter's Receive runs on the streaming
// thread, and at the end it sends EndOfStream downstream. A renderer (a
// filter built on FilterBase that calls WaitToRender) holds a sample that
// arrives while the graph is paused inside its Receive, so the sample's memory
// stays valid until the graph runs or stops, and tells the graph it holds one
// (which completes a pause: EC_PAUSED); while running with a reference clock it
// waits until the sample's time. Renderers report EC_COMPLETE at the end of
// the stream when running; the graph forwards EC_COMPLETE once every connected
// renderer has. Filters only ever talk to each other and to the graph through
// COM interfaces, so filters of different modules mix in one graph.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/classtable.h"
#include "platform/graph/dshow.h"

namespace platform::graph {

// The streaming thread's hook into a source filter. Produce pushes the next
// piece of the stream downstream and answers S_OK (more to come), S_FALSE
// (EndOfStream has been delivered downstream) or a failure (the stream stops
// and the graph reports EC_ERRORABORT with that status). A downstream
// Receive that refuses because the graph is stopping is no failure: answer S_OK.
struct IStreamSource : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{7B1B5D52-2F0C-4C8E-9E3A-4A1D0C6F1E01}");
    virtual HRESULT Produce() = 0;

  protected:
    ~IStreamSource() = default;
};

// Private event: a renderer holds a sample (or the end of the stream) while
// paused. The graph consumes it; the application never sees it.
inline constexpr LONG EC_RENDERER_HOLDING = 0x8101;

class FilterBase;

// A pin of a FilterBase. Its reference count is its filter's.
class Pin final : public IPin, public IMemInputPin {
  public:
    Pin(FilterBase* owner, PIN_DIRECTION dir, std::u16string id);
    ~Pin();

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    HRESULT GetAllocator(IMemAllocator**) override { return E_NOTIMPL; }
    HRESULT NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override { return S_OK; }

    // Output side: hands a sample / the end of the stream to the connected pin.
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();

    PIN_DIRECTION direction() const { return dir_; }
    bool connected() const;
    // A copy of the connection's media type (zeroed when not connected); the
    // caller frees it with FreeMediaType.
    AM_MEDIA_TYPE ConnectionType() const;
    IPin* AsPin() { return static_cast<IPin*>(this); }

  private:
    HRESULT TryConnect(IPin* receive_pin, const AM_MEDIA_TYPE& mt);
    void SetConnection(IPin* other, const AM_MEDIA_TYPE& mt);

    FilterBase* owner_;
    PIN_DIRECTION dir_;
    std::u16string id_;
    mutable std::mutex mu_;
    ComPtr<IPin> connected_;
    ComPtr<IMemInputPin> input_;
    AM_MEDIA_TYPE mt_{};
};

// The base of every filter here: IBaseFilter with state, clock, graph and
// pins; derived filters supply the media-type checks and the data handling.
class FilterBase : public IBaseFilter {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // Hooks called by the pins.
    virtual HRESULT CheckInputType(Pin* pin, const AM_MEDIA_TYPE* mt) = 0;
    // The index-th type an output pin offers; false past the last.
    virtual bool GetOutputType(Pin* pin, int index, AM_MEDIA_TYPE* mt) { return false; }
    virtual void OnConnected(Pin* pin) {}
    virtual HRESULT OnReceive(Pin* pin, IMediaSample* sample) { return E_UNEXPECTED; }
    // Default: passes the end of the stream / a flush to every output pin.
    virtual HRESULT OnEndOfStream(Pin* pin);
    virtual HRESULT OnBeginFlush(Pin* pin);
    virtual HRESULT OnEndFlush(Pin* pin);

    FILTER_STATE state() const;
    IBaseFilter* AsFilter() { return this; }

  protected:
    explicit FilterBase(const CLSID& clsid);
    virtual ~FilterBase();
    // Further interfaces of a derived filter.
    virtual HRESULT QueryExtra(REFIID riid, void** object) { return E_NOINTERFACE; }
    // Called under no lock after a state change.
    virtual void OnStateChanged(FILTER_STATE old_state, FILTER_STATE new_state) {}

    Pin* AddPin(PIN_DIRECTION dir, std::u16string id);
    Pin* FirstPin(PIN_DIRECTION dir) const;
    // Reports an event to the graph the filter joined (ignored outside a graph).
    void NotifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2);

    // A renderer's wait before it renders a sample starting at `*start` (null:
    // no time, as for the end of the stream): holds while paused (telling the
    // graph once), waits for the clock while running with one. S_OK: render
    // now; S_FALSE: flushing, drop it; VFW_E_WRONG_STATE: stopped.
    HRESULT WaitToRender(const REFERENCE_TIME* start);

    mutable std::mutex mu_;
    std::condition_variable cv_;

  private:
    CLSID clsid_;
    std::atomic<ULONG> refs_{1};
    std::vector<std::unique_ptr<Pin>> pins_;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::u16string name_;
    bool flushing_ = false;
    bool holding_ = false;
};

// A renderer that drops what it is given: holds and paces like any renderer,
// reports EC_COMPLETE at the end.
class RendererBase : public FilterBase {
  public:
    HRESULT CheckInputType(Pin* pin, const AM_MEDIA_TYPE* mt) override { return S_OK; }
    HRESULT OnReceive(Pin* pin, IMediaSample* sample) override;
    HRESULT OnEndOfStream(Pin* pin) override;

  protected:
    explicit RendererBase(const CLSID& clsid);
    // Renders one sample after the wait; the default drops it.
    virtual void Render(IMediaSample* sample) {}
};

// A media sample with its own memory.
class MediaSample : public IMediaSample {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override { return static_cast<LONG>(buffer_.size()); }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT IsSyncPoint() override { return S_OK; }
    HRESULT SetSyncPoint(BOOL) override { return S_OK; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return S_OK; }
    LONG GetActualDataLength() override { return length_; }
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** mt) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT SetDiscontinuity(BOOL d) override;
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_NOT_FOUND; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

    // A new sample of `capacity` bytes (actual length 0), one reference.
    static MediaSample* Create(size_t capacity);
    std::vector<BYTE>& buffer() { return buffer_; }

  protected:
    MediaSample() = default;
    virtual ~MediaSample() = default;
    virtual HRESULT QueryExtra(REFIID, void**) { return E_NOINTERFACE; }

  private:
    std::atomic<ULONG> refs_{1};
    std::vector<BYTE> buffer_;
    LONG length_ = 0;
    REFERENCE_TIME start_ = 0, end_ = 0;
    bool has_time_ = false;
    bool discontinuity_ = false;
};

// Class creators of the runtime (also served by the module quartz.so).
HRESULT CreateFilterGraph(REFIID riid, void** object);
HRESULT CreateSampleGrabber(REFIID riid, void** object);
HRESULT CreateNullRenderer(REFIID riid, void** object);
HRESULT CreateSystemClock(REFIID riid, void** object);

// Registers the runtime's classes in this module's class table for as long as
// the result lives (for programs and tests that link the graph statically).
std::vector<platform::ClassRegistration> RegisterGraphClasses();

// Makes a converter class known to IGraphBuilder::Connect of the graphs of
// this module: a filter with one input and one output pin that Connect may put
// between two pins whose types do not agree. Registered until the result dies.
class ConverterRegistration {
  public:
    explicit ConverterRegistration(const CLSID& clsid);
    ~ConverterRegistration();
    ConverterRegistration(const ConverterRegistration&) = delete;
    ConverterRegistration& operator=(const ConverterRegistration&) = delete;

  private:
    CLSID clsid_;
};

// True when `mt` has the major type and format type of `want` and, unless
// want's subtype is null (any), its subtype.
bool MediaTypeMatches(const AM_MEDIA_TYPE& want, const AM_MEDIA_TYPE& mt);

}  // namespace platform::graph
