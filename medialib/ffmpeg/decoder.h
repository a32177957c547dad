// Decoding a ByteSource to interleaved 32-bit float PCM.
//
// The demuxer reads through the ByteSource (see demuxer.h), the stream's FFmpeg
// decoder produces frames in whatever sample format it likes, and swresample
// turns them into interleaved floats at the stream's own rate and channel
// count. Playback pulls blocks with Next(); tests compare whole decodes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "medialib/core/container.h"

namespace medialib::ff {

class AudioDecoder {
  public:
    // Null when the content cannot be demuxed or has no decodable audio. The
    // source is borrowed and must outlive the decoder. Not thread-safe.
    static std::unique_ptr<AudioDecoder> Open(const ByteSource& source);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    int sample_rate() const;
    int channels() const;

    // Appends the next decoded block (interleaved) to `out`. False at the end of
    // the stream or on an error that stops decoding; damaged packets are skipped.
    bool Next(std::vector<float>& out);

    // Seeks to the given time; the next block starts at or before it.
    bool Seek(double seconds);

  private:
    struct Impl;
    explicit AudioDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

struct DecodedAudio {
    int sample_rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
};

// Decodes the whole stream, stopping after `max_frames` frames per channel.
std::optional<DecodedAudio> DecodeAll(const ByteSource& source, size_t max_frames = 60u * 48000u);

}  // namespace medialib::ff
