// Encoding interleaved float PCM with one of FFmpeg's encoders and muxing the
// packets with one of its muxers into an open file descriptor.
//
// The descriptor is written through a custom AVIOContext (write and seek), so
// the output can be an unnamed file that gets its name only when complete.
// Input of any rate and channel count is converted (swresample) to what the
// encoder takes; input is buffered to the encoder's frame size.
#pragma once

#include <cstddef>
#include <memory>

namespace medialib::ff {

struct EncodeSettings {
    const char* muxer = nullptr;    // FFmpeg short name, e.g. "3gp", "mp3"
    const char* encoder = nullptr;  // FFmpeg encoder name, e.g. "aac", "libmp3lame"
    int input_rate = 0;
    int input_channels = 0;
    int bit_rate = 0;  // bits per second; 0: the encoder's default
};

class EncodeWriter {
  public:
    // Null when the encoder or muxer is missing here or refuses the settings.
    // `fd` is borrowed and must stay open until Finish.
    static std::unique_ptr<EncodeWriter> Open(int fd, const EncodeSettings& settings);
    ~EncodeWriter();
    EncodeWriter(const EncodeWriter&) = delete;
    EncodeWriter& operator=(const EncodeWriter&) = delete;

    // Encodes `frames` sample frames of interleaved input. False on any error.
    bool Write(const float* interleaved, size_t frames);
    // Drains the encoder and writes the trailer. False on any error.
    bool Finish();

  private:
    struct Impl;
    explicit EncodeWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace medialib::ff
