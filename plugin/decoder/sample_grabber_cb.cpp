#include "plugin/decoder/sample_grabber_cb.h"

#include <cstring>

namespace corvina {

unsigned ChannelMask(unsigned channels) {
    // Front left 1, front right 2, front centre 4, LFE 8, back left 16, back
    // right 32, front centre left 64, front centre right 128.
    static constexpr unsigned kMasks[9] = {0, 4, 3, 11, 51, 59, 63, 251, 255};
    return channels < 9 ? kMasks[channels] : 0;
}

}  // namespace corvina

HRESULT CSampleGrabberCB::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOTIMPL;
}

void CSampleGrabberCB::Create() {
    m_heap = HeapCreate(0, 0, 0);
    m_mutex = CreateMutexW(nullptr, FALSE, nullptr);
}

void CSampleGrabberCB::FreeData() {
    if (m_buffering && m_heap && m_data) HeapFree(m_heap, 0, m_data);
    m_data = nullptr;
    m_size = 0;
}

void CSampleGrabberCB::Destroy() {
    if (m_heap) {
        if (m_buffering && m_data) HeapFree(m_heap, 0, m_data);
        HeapDestroy(m_heap);
        m_heap = nullptr;
    }
    m_data = nullptr;
    m_size = 0;
    if (m_mutex) {
        CloseHandle(m_mutex);
        m_mutex = nullptr;
    }
}

HRESULT CSampleGrabberCB::SampleCB(double time, IMediaSample* sample) {
    m_time = time;
    if (!m_buffering || !m_heap) {
        BYTE* pointer = nullptr;
        m_data = SUCCEEDED(sample->GetPointer(&pointer)) ? pointer : nullptr;
        m_size = sample->GetActualDataLength();
        if (m_player) m_player->Pause();
        return S_OK;
    }
    WaitForSingleObject(m_mutex, 0xFFFFFFFF);
    const LONG length = sample->GetActualDataLength();
    BYTE* source = nullptr;
    void* block = nullptr;
    if (length >= 0) {
        block = m_data ? HeapReAlloc(m_heap, HEAP_ZERO_MEMORY, m_data, static_cast<size_t>(m_size) + length)
                       : HeapAlloc(m_heap, HEAP_ZERO_MEMORY, static_cast<size_t>(length));
    }
    if (block) m_data = static_cast<BYTE*>(block);
    if (!block || FAILED(sample->GetPointer(&source)) || !source) {
        // Out of memory or no sample memory: everything gathered so far goes.
        if (m_data) HeapFree(m_heap, 0, m_data);
        m_data = nullptr;
        m_size = 0;
    } else {
        std::memcpy(m_data + m_size, source, static_cast<size_t>(length));
        m_size += length;
    }
    ReleaseMutex(m_mutex);
    return S_OK;
}
