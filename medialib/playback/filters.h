// The filters of the library's player: a source that demuxes the file into
// compressed packets, an FFmpeg decoder that turns them into 16-bit PCM, and
// the audio output that renders (here: consumes at the graph's pace) that PCM.
//
//   Source (IStreamSource) --packets--> Decoder --PCM s16--> Audio Output
//
// The packet type is private to this module: the source's media type carries
// the stream's codec parameters in its format block, and each packet travels
// in a media sample that also holds FFmpeg's packet (side data included, which
// carries the encoder delay to skip). The decoder converts every frame with
// libswresample to signed 16-bit at the stream's rate and channel count, and
// hands on media samples of kFramesPerSample frames: several codec frames each
// (1024 for AAC and ATRAC3, 1152 for MP3, 2048 for ATRAC3plus), so that a
// consumer that stops the graph after every sample is not dominated by the
// handoffs, while a sample stays short (186 ms at 44.1 kHz).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "medialib/core/container.h"
#include "medialib/playback/packet_reader.h"
#include "platform/graph/graph.h"

namespace medialib::playback {

inline constexpr int kFramesPerSample = 8192;

inline constexpr CLSID CLSID_PlayerSource = platform::MakeGuid("{9A3C7E11-5B0D-4E7A-8C61-2F4B7A9D0E01}");
inline constexpr CLSID CLSID_PlayerDecoder = platform::MakeGuid("{9A3C7E11-5B0D-4E7A-8C61-2F4B7A9D0E02}");
inline constexpr CLSID CLSID_PlayerAudioOutput = platform::MakeGuid("{9A3C7E11-5B0D-4E7A-8C61-2F4B7A9D0E03}");

class Source;
class Decoder;

// Demuxes the file (see packet_reader.h for who reads what); the streaming
// thread calls Produce for one packet at a time.
class Source final : public platform::graph::FilterBase, public platform::graph::IStreamSource {
  public:
    // Null when neither the engine nor FFmpeg can demux the file or it has no
    // audio stream.
    static Source* Create(std::unique_ptr<ByteSource> bytes);

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return FilterBase::QueryInterface(riid, object);
    }
    ULONG AddRef() override { return FilterBase::AddRef(); }
    ULONG Release() override { return FilterBase::Release(); }

    HRESULT CheckInputType(platform::graph::Pin*, const AM_MEDIA_TYPE*) override { return S_FALSE; }
    bool GetOutputType(platform::graph::Pin* pin, int index, AM_MEDIA_TYPE* mt) override;
    HRESULT Produce() override;

    // Duration of the stream in milliseconds (0 when unknown).
    int64_t DurationMs() const;
    // Repositions (only while the graph is stopped) so that the stream
    // decodes exactly from `ms` on, given that the decoder drops the audio
    // before `ms`; past the end, the stream ends at once.
    void Seek(int64_t ms);
    void SeekToEnd();
    // True once the end of the stream has been delivered downstream.
    bool Ended() const { return ended_; }

  protected:
    HRESULT QueryExtra(REFIID riid, void** object) override;

  private:
    Source() : FilterBase(CLSID_PlayerSource) { out_ = AddPin(PINDIR_OUTPUT, u"Out"); }
    std::unique_ptr<ByteSource> bytes_;
    std::unique_ptr<PacketReader> reader_;  // reads bytes_: declared after it, destroyed before it
    platform::graph::Pin* out_;
    bool at_end_ = false;
    std::atomic<bool> ended_{false};
};

// FFmpeg decoding and conversion to interleaved signed 16-bit PCM.
class Decoder final : public platform::graph::FilterBase {
  public:
    // `rate` and `channels`: the output format (the stream's real one, the
    // SBR rate for HE-AAC).
    static Decoder* Create(int rate, int channels);

    HRESULT CheckInputType(platform::graph::Pin* pin, const AM_MEDIA_TYPE* mt) override;
    bool GetOutputType(platform::graph::Pin* pin, int index, AM_MEDIA_TYPE* mt) override;
    void OnConnected(platform::graph::Pin* pin) override;
    HRESULT OnReceive(platform::graph::Pin* pin, IMediaSample* sample) override;
    HRESULT OnEndOfStream(platform::graph::Pin* pin) override;

    // Forgets everything in flight (only while the graph is stopped); the
    // next output starts at `skip_to_ms` of the stream (decoded audio before
    // it is dropped), and its times start at 0.
    void Flush(int64_t skip_to_ms);
    // True once every decoded sample and the end of the stream have been
    // handed on (until the next Flush).
    bool Ended() const { return ended_; }

  private:
    Decoder(int rate, int channels);
    ~Decoder() override;
    struct Codec;
    HRESULT DrainFrames();
    HRESULT DeliverPending(bool all);

    platform::graph::Pin* in_;
    platform::graph::Pin* out_;
    int rate_;
    int channels_;
    std::unique_ptr<Codec> codec_;
    std::vector<int16_t> pending_;
    int64_t frames_out_ = 0;
    int64_t skip_to_ms_ = -1;
    std::atomic<bool> ended_{false};
};

// The player's audio output: accepts 16-bit PCM and renders at the graph's pace.
class AudioOutput final : public platform::graph::RendererBase {
  public:
    AudioOutput() : RendererBase(CLSID_PlayerAudioOutput) {}
    HRESULT CheckInputType(platform::graph::Pin* pin, const AM_MEDIA_TYPE* mt) override;
};

}  // namespace medialib::playback
