// What the audio stream of a file really is, as a probe reads it: the model
// the technical attributes are computed from (core/technical.h), filled by the
// FFmpeg probe (ffmpeg/probe.h). Values the probe cannot tell are 0.
#pragma once

#include <cstdint>
#include <string>

namespace medialib {

enum class AudioCodec { Unknown, Pcm, Mp3, MpegLayer12, Aac, Atrac3, Atrac3Plus, Atrac3Al, Atrac3PlusAl };

struct StreamInfo {
    AudioCodec codec = AudioCodec::Unknown;
    std::string codec_name;   // FFmpeg's short name, e.g. "pcm_s16le", "atrac3"
    std::string format_name;  // FFmpeg's demuxer, e.g. "wav", "mov,mp4,m4a,3gp,3g2,mj2"
    bool he_aac = false;      // AAC with SBR (explicit or implicit) or PS
    int sample_rate = 0;      // output rate (the SBR rate for HE-AAC)
    int channels = 0;
    int bits_per_sample = 0;  // only for PCM-like streams
    int64_t duration_ms = 0;
    int64_t bit_rate = 0;  // bits per second
};

}  // namespace medialib
