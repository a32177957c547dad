// The decoder's sample callback, which the Sample Grabber calls on the
// graph's streaming thread for every media sample of decoded PCM.
//
// Unbuffered mode: the callback points `data` at the sample's own memory and
// asks the player to pause; the graph then holds that sample (its memory stays
// valid) until the decoding thread, woken by the pause-complete event, has
// converted it and runs the graph again. No lock: the event orders the two.
// Buffered mode: the callback appends each sample to one growing block of a
// private heap under the mutex; the decoding thread takes the whole block.
//
// The object lives by value inside its input_oma: AddRef and Release do not
// count (they answer 1 and 2), and QueryInterface takes no reference.
#pragma once

#include "library/media_library.h"
#include "platform/graph/dshow.h"
#include "platform/kernel/kernel.h"

class CSampleGrabberCB final : public ISampleGrabberCB {
  public:
    CSampleGrabberCB() = default;
    ~CSampleGrabberCB() = default;  // Destroy() is the owner's to call first
    CSampleGrabberCB(const CSampleGrabberCB&) = delete;
    CSampleGrabberCB& operator=(const CSampleGrabberCB&) = delete;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    HRESULT SampleCB(double time, IMediaSample* sample) override;
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

    // Makes the private heap and the mutex (either may stay empty on failure).
    void Create();
    // Frees the gathered block, destroys the heap, closes the mutex.
    void Destroy();
    // Frees the gathered block (size 0). Buffered mode: hold the mutex.
    void FreeData();

    MediaPlayer* m_player = nullptr;  // not owned
    double m_time = 0;
    BYTE* m_data = nullptr;
    LONG m_size = 0;
    bool m_buffering = false;
    bool m_eos = false;
    HANDLE m_heap = nullptr;
    HANDLE m_mutex = nullptr;
};

namespace corvina {

// The host's channel mask for a channel count (0 for none or more than 8).
unsigned ChannelMask(unsigned channels);

}  // namespace corvina
