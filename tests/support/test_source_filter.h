// A scripted source filter for graph tests: it pushes `count` samples of
// `bytes` bytes each (byte value = sample index, times 10 ms apart) of the
// media type it was given, then the end of the stream. It can fail at a given
// sample, and counts what it produced; Rewind restarts it (as a seek would).
// The memory of the last sample made stays valid until the next is made.
#pragma once

#include <atomic>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/graph/graph.h"

namespace testsupport {

inline constexpr CLSID CLSID_TestSource = platform::MakeGuid("{5E1D2C3B-0A0B-4C4D-8E8F-101112131415}");

class TestSource final : public platform::graph::FilterBase, public platform::graph::IStreamSource {
  public:
    // `mt` is copied; its format block too.
    static TestSource* Create(const AM_MEDIA_TYPE& mt, int count, int bytes) {
        auto* s = new TestSource(count, bytes);
        CopyMediaType(&s->mt_, &mt);
        return s;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return FilterBase::QueryInterface(riid, object);
    }
    ULONG AddRef() override { return FilterBase::AddRef(); }
    ULONG Release() override { return FilterBase::Release(); }

    HRESULT CheckInputType(platform::graph::Pin*, const AM_MEDIA_TYPE*) override { return S_FALSE; }
    bool GetOutputType(platform::graph::Pin*, int index, AM_MEDIA_TYPE* mt) override {
        return index == 0 && SUCCEEDED(CopyMediaType(mt, &mt_));
    }

    HRESULT Produce() override {
        const int index = next_.load();
        if (index == fail_at_) return E_FAIL;
        if (index >= count_) {
            ended_ = true;  // every sample has been handed on
            out_->DeliverEndOfStream();
            return S_FALSE;
        }
        auto* sample = platform::graph::MediaSample::Create(static_cast<size_t>(bytes_));
        std::memset(sample->buffer().data(), index & 0xFF, static_cast<size_t>(bytes_));
        sample->SetActualDataLength(bytes_);
        REFERENCE_TIME start = index * 100'000LL, end = start + 100'000LL;
        sample->SetTime(&start, &end);
        next_ = index + 1;
        const HRESULT hr = out_->Deliver(sample);
        // Like an allocator's pool, the last sample's memory stays valid until
        // the next one is made, even when no renderer held it.
        last_.Attach(sample);
        ++produced_;
        return FAILED(hr) ? hr : S_OK;
    }

    void Rewind(int to = 0) {
        next_ = to;
        ended_ = false;
    }
    // True once the end of the stream is being handed on (until Rewind).
    bool ended() const { return ended_; }
    void FailAt(int index) { fail_at_ = index; }
    int produced() const { return produced_; }
    platform::graph::Pin* output() { return out_; }

  protected:
    HRESULT QueryExtra(REFIID riid, void** object) override {
        if (riid != platform::graph::IStreamSource::iid) return E_NOINTERFACE;
        *object = static_cast<platform::graph::IStreamSource*>(this);
        AddRef();
        return S_OK;
    }

  private:
    TestSource(int count, int bytes) : FilterBase(CLSID_TestSource), count_(count), bytes_(bytes) {
        out_ = AddPin(PINDIR_OUTPUT, u"Out");
    }
    ~TestSource() override { FreeMediaType(mt_); }

    AM_MEDIA_TYPE mt_{};
    ComPtr<platform::graph::MediaSample> last_;
    platform::graph::Pin* out_;
    int count_;
    int bytes_;
    std::atomic<int> next_{0};
    std::atomic<int> fail_at_{-1};
    std::atomic<int> produced_{0};
    std::atomic<bool> ended_{false};
};

// A 16-bit PCM media type with a WAVEFORMATEX block (freed with FreeMediaType).
inline AM_MEDIA_TYPE PcmMediaType(int rate, int channels, int bits) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = static_cast<ULONG>(channels * bits / 8);
    auto* wf = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    *wf = WAVEFORMATEX{WAVE_FORMAT_PCM,
                       static_cast<WORD>(channels),
                       static_cast<DWORD>(rate),
                       static_cast<DWORD>(rate * channels * bits / 8),
                       static_cast<WORD>(channels * bits / 8),
                       static_cast<WORD>(bits),
                       0};
    mt.pbFormat = reinterpret_cast<BYTE*>(wf);
    mt.cbFormat = sizeof(WAVEFORMATEX);
    return mt;
}

}  // namespace testsupport
