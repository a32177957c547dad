// The DirectShow interfaces, identifiers and structures that the plug-in and
// the media library's player use, as this platform stand-in spells them.
//
// Interfaces are pure-virtual structs in DirectShow's slot order (the
// Automation-derived IMediaControl and IMediaEvent are declared without the
// four IDispatch slots: nothing here calls them late-bound). The runtime
// itself (filter graph manager, Sample Grabber, Null Renderer, system clock)
// is the module quartz.so, registered in the registry file like any
// in-process server; graph.h has the building blocks for filters of one's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/unknown.h"

using REFERENCE_TIME = int64_t;  // 100 ns units
using LONG_PTR = intptr_t;
using OAFilterState = LONG;

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

// Event codes of IMediaEvent.
inline constexpr LONG EC_COMPLETE = 1;
inline constexpr LONG EC_USERABORT = 2;
inline constexpr LONG EC_ERRORABORT = 3;
inline constexpr LONG EC_PAUSED = 14;

// Status codes of the graph.
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022A);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025F);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227);
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = static_cast<HRESULT>(0x80040208);
inline constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = static_cast<HRESULT>(0x8004023D);
inline constexpr HRESULT E_TIMEOUT_GRAPH = static_cast<HRESULT>(0x80040218);  // no event within the time-out

// Media types and formats.
inline constexpr GUID MEDIATYPE_Audio = platform::MakeGuid("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_PCM = platform::MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr GUID FORMAT_WaveFormatEx = platform::MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_None = platform::MakeGuid("{0F6417D6-C318-11D0-A43F-00A0C911CE86}");

// Classes.
inline constexpr CLSID CLSID_FilterGraph = platform::MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_SampleGrabber = platform::MakeGuid("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_NullRenderer = platform::MakeGuid("{C1F400A4-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_SystemClock = platform::MakeGuid("{E436EBB1-524F-11CE-9F53-0020AF0BA770}");

#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");
inline constexpr WORD WAVE_FORMAT_PCM = 1;

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;  // CoTaskMemAlloc'd
};

// Frees the format block and the held object of `mt` (not `mt` itself).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees the format block and `mt`, which was CoTaskMemAlloc'd.
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// Deep copy (format block included) into `dst`; E_OUTOFMEMORY leaves dst zeroed.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IReferenceClock;
struct IMediaSample;

struct PIN_INFO {
    IBaseFilter* pFilter;  // referenced: the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[128];
};
struct FILTER_INFO {
    WCHAR achName[128];
    IFilterGraph* pGraph;  // referenced: the caller releases it
};

struct IPersist : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{0000010C-0000-0000-C000-000000000046}");
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

  protected:
    ~IPersist() = default;
};

struct IReferenceClock : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
    virtual HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME offset, LONG_PTR event, DWORD* cookie) = 0;
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, LONG_PTR sem,
                                   DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;

  protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    static constexpr GUID iid = platform::MakeGuid("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;  // null: no pacing
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;

  protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    static constexpr GUID iid = platform::MakeGuid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // The graph is not referenced by the filter (it owns the filter).
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* info) = 0;

  protected:
    ~IBaseFilter() = default;
};

struct IPin : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;  // CoTaskMemAlloc'd
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;

  protected:
    ~IPin() = default;
};

struct IEnumPins : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;  // S_FALSE when fewer
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** out) = 0;

  protected:
    ~IEnumPins() = default;
};

struct IEnumMediaTypes : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{89C31040-846B-11CE-97D3-00AA0055595A}");
    // Each type is CoTaskMemAlloc'd; the caller frees it with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** out) = 0;

  protected:
    ~IEnumMediaTypes() = default;
};

struct IEnumFilters : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** out) = 0;

  protected:
    ~IEnumFilters() = default;
};

struct IMediaSample : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;

  protected:
    ~IMediaSample() = default;
};

struct IMemAllocator;
struct ALLOCATOR_PROPERTIES;

// The data path of an input pin: samples arrive here on the streaming thread.
struct IMemInputPin : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
    // May block (a renderer holds the sample while the graph is paused).
    // S_FALSE: deliver no more until the next run; failure: stop streaming.
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

  protected:
    ~IMemInputPin() = default;
};

struct IFilterGraph : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

  protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID iid = platform::MakeGuid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    // Connects directly or through registered converters (RegisterConverterClass).
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT Render(IPin* out) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playlist) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT SetLogFile(LONG_PTR file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;

  protected:
    ~IGraphBuilder() = default;
};

struct IMediaControl : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;  // never waits: completion is reported as EC_PAUSED
    virtual HRESULT Stop() = 0;   // waits for the streaming thread unless called on it
    virtual HRESULT GetState(LONG timeout_ms, OAFilterState* state) = 0;

  protected:
    ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT GetEventHandle(LONG_PTR* handle) = 0;
    // Waits up to `timeout_ms` (INFINITE: for ever); E_ABORT on time-out.
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) = 0;
    virtual HRESULT WaitForCompletion(LONG timeout_ms, LONG* code) = 0;
    virtual HRESULT CancelDefaultHandling(LONG code) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

  protected:
    ~IMediaEvent() = default;
};

// Filters report to the graph through this (EC_COMPLETE from renderers, ...).
struct IMediaEventSink : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

  protected:
    ~IMediaEventSink() = default;
};

struct ISampleGrabberCB : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{0579154A-2B53-4994-B0D0-E773148EFF85}");
    virtual HRESULT SampleCB(double time, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double time, BYTE* buffer, LONG length) = 0;

  protected:
    ~ISampleGrabberCB() = default;
};

struct ISampleGrabber : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");
    virtual HRESULT SetOneShot(BOOL one_shot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
    // method 0: SampleCB, 1: BufferCB. The callback is referenced while set.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG method) = 0;

  protected:
    ~ISampleGrabber() = default;
};

inline constexpr IID IID_IGraphBuilder = IGraphBuilder::iid;
inline constexpr IID IID_IBaseFilter = IBaseFilter::iid;
inline constexpr IID IID_IPin = IPin::iid;
inline constexpr IID IID_IMediaFilter = IMediaFilter::iid;
inline constexpr IID IID_IMediaEvent = IMediaEvent::iid;
inline constexpr IID IID_IMediaControl = IMediaControl::iid;
inline constexpr IID IID_ISampleGrabber = ISampleGrabber::iid;
inline constexpr IID IID_ISampleGrabberCB = ISampleGrabberCB::iid;
