// The filters a player plays a file through, behind an interface that shows
// no FFmpeg type, so that the COM module can drive them while their code (and
// FFmpeg) lives in the module it loads on first use (medialib/av).
//
//   source --packets--> decoder --PCM s16--> audio output
//
// The chain owns one reference to each filter; the graph the player adds them
// to takes its own.
#pragma once

#include <cstdint>
#include <memory>

#include "medialib/core/container.h"
#include "platform/graph/dshow.h"

namespace medialib::playback {

class Chain {
  public:
    virtual ~Chain() = default;

    virtual IBaseFilter* SourceFilter() = 0;
    virtual IBaseFilter* DecoderFilter() = 0;
    virtual IBaseFilter* OutputFilter() = 0;

    // Duration of the stream in milliseconds (0 when unknown).
    virtual int64_t DurationMs() const = 0;
    // Only while the graph is stopped: the next output starts at `ms` of the
    // stream (the source is repositioned, the decoder forgets what it holds).
    virtual void Seek(int64_t ms) = 0;
    // Only while the graph is stopped: the stream ends at once.
    virtual void SeekToEnd() = 0;
    // True once the decoder has handed on every sample and the end of the
    // stream (until the next seek).
    virtual bool Ended() const = 0;
};

// The chain for the file in `bytes`, decoding to `rate` and `channels` (the
// stream's real format, the SBR rate for HE-AAC). Null when the file cannot
// be demuxed, has no audio stream, or the decoding support is not available.
std::unique_ptr<Chain> CreateChain(std::unique_ptr<ByteSource> bytes, int rate, int channels);

}  // namespace medialib::playback
