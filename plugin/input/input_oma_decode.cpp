// The decoder role of input_oma: the library's player plays the file through
// its DirectShow graph, taken over here (see input_oma.h and
// plugin/decoder/sample_grabber_cb.h for the two modes).
#include <algorithm>
#include <cstring>
#include <memory>

#include "host/sdk/exceptions.h"
#include "platform/com/classtable.h"
#include "platform/kernel/kernel.h"
#include "plugin/host/settings.h"
#include "plugin/input/input_oma.h"

namespace {

constexpr LONG kSeekPosition = 1;  // MediaPlayer::Seek: to the given position
constexpr LONG kSeekToEnd = 2;     // MediaPlayer::Seek: beyond the end
constexpr SHORT kPlayerStopped = 3;
constexpr DWORD kNoTimeout = 0xFFFFFFFF;
constexpr int kDataWaits = 201;
constexpr DWORD kDataWaitMs = 10;

// The first input and the first output pin of a filter (pins whose direction
// cannot be asked are skipped).
void FirstPins(IBaseFilter* filter, ComPtr<IPin>* input, ComPtr<IPin>* output) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION dir;
        if (FAILED(p->QueryDirection(&dir))) continue;
        if (dir == PINDIR_INPUT && input && !*input) *input = p;
        if (dir == PINDIR_OUTPUT && output && !*output) *output = p;
    }
}

// The identifier of the first input pin that has one (CoTaskMemFree'd by the caller).
LPWSTR FirstInputPinId(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return nullptr;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION dir;
        LPWSTR id = nullptr;
        if (SUCCEEDED(p->QueryDirection(&dir)) && dir == PINDIR_INPUT && SUCCEEDED(p->QueryId(&id)) && id)
            return id;
    }
    return nullptr;
}

// The requested media type: audio with a wave format, any subtype.
AM_MEDIA_TYPE WantedMediaType() {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.formattype = FORMAT_WaveFormatEx;
    return mt;
}

}  // namespace

void input_oma::drain_events() {
    if (!m_media_events) return;
    LONG code;
    LONG_PTR param1, param2;
    while (SUCCEEDED(m_media_events->GetEvent(&code, &param1, &param2, 0)))
        m_media_events->FreeEventParams(code, param1, param2);
}

void input_oma::decode_initialize(unsigned, abort_callback&) {
    if (!m_library_path.Get() || !m_content) throw exception_io_unsupported_format();
    if (m_player && m_grabber && m_media_events) {
        m_player->Seek(0, kSeekPosition);
        if (buffered()) {
            // The graph stopped when the track ended: buffered mode must run it
            // again, or the restarted track would be empty. What was gathered
            // and the old events belong to the previous pass.
            WaitForSingleObject(m_grabber_cb.m_mutex, kNoTimeout);
            m_grabber_cb.FreeData();
            ReleaseMutex(m_grabber_cb.m_mutex);
            drain_events();
            m_grabber_cb.m_eos = false;
            m_player->Run();
        }
        return;
    }
    m_media_events.Reset();
    if (m_grabber) {
        m_grabber->SetCallback(nullptr, 0);
        m_grabber.Reset();
    }
    if (m_player) {
        m_player->Stop();
        m_player->Close();
        m_player.Reset();
    }

    if (FAILED(m_content->CreatePlayer(IID_MediaPlayer, m_player.ReleaseAndGetVoidAddress())) || !m_player) {
        m_player.Reset();
        throw exception_io_unsupported_format();
    }
    m_grabber_cb.m_player = m_player.Get();
    // Without its heap (or its mutex) buffered mode could not gather safely.
    m_grabber_cb.m_buffering =
        cfg_buffering_mode.get() && m_grabber_cb.m_heap != nullptr && m_grabber_cb.m_mutex != nullptr;
    if (FAILED(m_player->Open(m_library_path.Get(), 0))) {
        m_grabber_cb.m_player = nullptr;
        m_player.Reset();
        throw exception_io();
    }

    // From here every failure releases what was made locally; the objects
    // stored in this object stay for the destructor or the next initialize.
    ComPtr<MediaPlayerGraph> access = m_player.As<MediaPlayerGraph>();
    ComPtr<IGraphBuilder> graph;
    if (!access || FAILED(access->GetGraph(IID_IGraphBuilder, graph.ReleaseAndGetVoidAddress())) || !graph)
        throw exception_io_unsupported_format();

    ComPtr<IBaseFilter> grabber_filter;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IBaseFilter, grabber_filter.ReleaseAndGetVoidAddress())) ||
        !grabber_filter)
        throw exception_io_unsupported_format();
    if (FAILED(grabber_filter->QueryInterface(IID_ISampleGrabber, m_grabber.ReleaseAndGetVoidAddress())) ||
        !m_grabber)
        throw exception_io_unsupported_format();
    const AM_MEDIA_TYPE wanted = WantedMediaType();
    if (FAILED(m_grabber->SetMediaType(&wanted)) || FAILED(m_grabber->SetOneShot(FALSE)) ||
        FAILED(m_grabber->SetBufferSamples(FALSE)) || FAILED(m_grabber->SetCallback(&m_grabber_cb, 0)) ||
        FAILED(graph->AddFilter(grabber_filter.Get(), u"Sample Grabber")))
        throw exception_io_unsupported_format();

    ComPtr<IPin> grabber_in, grabber_out;
    FirstPins(grabber_filter.Get(), &grabber_in, &grabber_out);
    if (!grabber_in || !grabber_out) throw exception_io_unsupported_format();

    ComPtr<IBaseFilter> output;
    if (FAILED(access->GetRenderer(IID_IBaseFilter, output.ReleaseAndGetVoidAddress())) || !output)
        throw exception_io_unsupported_format();
    const std::unique_ptr<WCHAR, decltype(&CoTaskMemFree)> pin_id(FirstInputPinId(output.Get()),
                                                                  &CoTaskMemFree);
    if (!pin_id.get()) throw exception_io_unsupported_format();

    ComPtr<IUnknown> upstream_object;
    ComPtr<IPin> upstream;
    if (FAILED(access->GetUpstreamPin(IID_IBaseFilter, output.Get(), pin_id.get(), IID_IPin,
                                      upstream_object.ReleaseAndGetVoidAddress(),
                                      upstream.ReleaseAndGetVoidAddress())) ||
        !upstream_object || !upstream)
        throw exception_io_unsupported_format();
    upstream_object.Reset();

    if (SUCCEEDED(graph->RemoveFilter(output.Get()))) output->Stop();
    output.Reset();
    access.Reset();

    ComPtr<IBaseFilter> null_renderer;
    if (FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                null_renderer.ReleaseAndGetVoidAddress())) ||
        !null_renderer || FAILED(graph->AddFilter(null_renderer.Get(), u"Null Renderer")))
        throw exception_io_unsupported_format();
    ComPtr<IPin> null_in;
    FirstPins(null_renderer.Get(), &null_in, nullptr);
    if (!null_in) throw exception_io_unsupported_format();

    if (FAILED(graph->Connect(upstream.Get(), grabber_in.Get())) ||
        FAILED(graph->Connect(grabber_out.Get(), null_in.Get())))
        throw exception_io_unsupported_format();
    upstream.Reset();
    grabber_in.Reset();
    grabber_out.Reset();
    null_in.Reset();

    AM_MEDIA_TYPE connected{};
    if (FAILED(m_grabber->GetConnectedMediaType(&connected)) || !connected.pbFormat) {
        FreeMediaType(connected);
        throw exception_io_unsupported_format();
    }
    m_wave_format = WAVEFORMATEX{};
    std::memcpy(&m_wave_format, connected.pbFormat,
                std::min<size_t>(connected.cbFormat, sizeof(WAVEFORMATEX)));
    FreeMediaType(connected);

    ComPtr<IMediaFilter> filter = graph.As<IMediaFilter>();
    if (!filter || FAILED(filter->SetSyncSource(nullptr))) throw exception_io_unsupported_format();
    if (FAILED(graph->QueryInterface(IID_IMediaEvent, m_media_events.ReleaseAndGetVoidAddress())) ||
        !m_media_events)
        throw exception_io_unsupported_format();
    graph.Reset();

    m_player->Seek(0, kSeekPosition);
    drain_events();
    if (buffered()) m_player->Run();
}

void input_oma::deliver(audio_chunk& chunk) const {
    const unsigned bits = m_wave_format.wBitsPerSample;
    const unsigned flags =
        audio_chunk::FLAG_LITTLE_ENDIAN | (bits == 8 ? audio_chunk::FLAG_UNSIGNED : audio_chunk::FLAG_SIGNED);
    chunk.set_data_fixedpoint_ex(m_grabber_cb.m_data, static_cast<size_t>(m_grabber_cb.m_size),
                                 m_wave_format.nSamplesPerSec, m_wave_format.nChannels, bits, flags,
                                 corvina::ChannelMask(m_wave_format.nChannels));
}

bool input_oma::decode_run(audio_chunk& chunk, abort_callback&) {
    if (!buffered()) {
        if (!m_grabber_cb.m_data && m_grabber_cb.m_eos) {
            m_grabber_cb.m_eos = false;
            if (m_player) m_player->Stop();
            m_grabber_cb.m_data = nullptr;
            m_grabber_cb.m_size = 0;
            return false;
        }
        return run_unbuffered(chunk);
    }
    return run_buffered(chunk);
}

bool input_oma::run_unbuffered(audio_chunk& chunk) {
    CSampleGrabberCB& cb = m_grabber_cb;
    drain_events();
    cb.m_data = nullptr;
    cb.m_size = 0;
    if (!m_media_events || !m_player) return false;
    if (FAILED(m_player->Run())) return false;
    auto end = [&] {
        cb.m_eos = false;
        m_player->Stop();
        cb.m_data = nullptr;
        cb.m_size = 0;
        return false;
    };
    while (m_media_events) {
        LONG code;
        LONG_PTR param1, param2;
        if (FAILED(m_media_events->GetEvent(&code, &param1, &param2, static_cast<LONG>(kNoTimeout))))
            return false;
        m_media_events->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE) cb.m_eos = true;
        if (cb.m_data && cb.m_size > 0) {
            // The graph stands still (paused) with this sample held.
            deliver(chunk);
            cb.m_data = nullptr;
            cb.m_size = 0;
            return true;
        }
        if (cb.m_eos) return end();
        if (code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT) return end();
    }
    return false;
}

bool input_oma::run_buffered(audio_chunk& chunk) {
    CSampleGrabberCB& cb = m_grabber_cb;
    // data and size are the streaming thread's too: read them under the mutex.
    auto has_data = [&] {
        WaitForSingleObject(cb.m_mutex, kNoTimeout);
        const bool has = cb.m_data != nullptr;
        ReleaseMutex(cb.m_mutex);
        return has;
    };
    auto drop_data = [&] {
        WaitForSingleObject(cb.m_mutex, kNoTimeout);
        cb.FreeData();
        ReleaseMutex(cb.m_mutex);
    };
    if (!has_data() && cb.m_eos) {
        cb.m_eos = false;
        if (m_player) m_player->Stop();
        drop_data();
        return false;
    }
    if (m_media_events) {
        LONG code;
        LONG_PTR param1, param2;
        while (SUCCEEDED(m_media_events->GetEvent(&code, &param1, &param2, 0))) {
            m_media_events->FreeEventParams(code, param1, param2);
            if (code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT) cb.m_eos = true;
        }
    }
    if (cb.m_eos && !has_data()) {
        cb.m_eos = false;
        if (m_player) m_player->Stop();
        drop_data();
        return false;
    }
    for (int i = 0; i < kDataWaits && !has_data(); ++i) {
        SHORT state = 0;
        if (m_player) m_player->GetState(&state);
        if (state == kPlayerStopped) break;
        Sleep(kDataWaitMs);
    }
    if (!has_data()) {
        cb.m_eos = false;
        if (m_player) m_player->Stop();
        return false;
    }
    WaitForSingleObject(cb.m_mutex, kNoTimeout);
    if (cb.m_data && cb.m_size > 0) {
        deliver(chunk);
        cb.FreeData();
        ReleaseMutex(cb.m_mutex);
        return true;
    }
    cb.FreeData();
    ReleaseMutex(cb.m_mutex);
    Sleep(0);
    if (!cb.m_eos && m_player) m_player->Stop();
    cb.m_eos = false;
    return false;
}

void input_oma::decode_seek(double seconds, abort_callback&) {
    if (!m_player) return;
    CSampleGrabberCB& cb = m_grabber_cb;
    const bool with_mutex = buffered();
    if (with_mutex) {
        drain_events();
        m_player->Pause();
        LONG code = 0;
        LONG_PTR param1, param2;
        while (m_media_events &&
               SUCCEEDED(m_media_events->GetEvent(&code, &param1, &param2, static_cast<LONG>(kNoTimeout)))) {
            m_media_events->FreeEventParams(code, param1, param2);
            if (code == EC_PAUSED) break;
        }
        WaitForSingleObject(cb.m_mutex, kNoTimeout);
        cb.FreeData();
    }
    const double target = seconds * 1000.0;
    LONG duration = 0;
    if (SUCCEEDED(m_player->GetDuration(&duration)) && duration < target)
        m_player->Seek(0, kSeekToEnd);
    else
        m_player->Seek(static_cast<LONG>(target), kSeekPosition);
    if (with_mutex) {
        ReleaseMutex(cb.m_mutex);
        m_player->Run();
    }
}

bool input_oma::decode_can_seek() { return true; }

bool input_oma::decode_get_dynamic_info(file_info&, double&) { return false; }

bool input_oma::decode_get_dynamic_info_track(file_info&, double&) { return false; }

void input_oma::decode_on_idle(abort_callback&) {}
