// Probing a file's audio stream with FFmpeg: the source of every technical
// attribute (Codec, Frequency, Channel, BitDepth, MilliSecond, BitRate) that a
// container cannot give from its own headers.
#pragma once

#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"

namespace medialib::ff {

// Which checks the probe runs beyond reading the stream parameters.
enum class ProbeChecks {
    // Only where they can change the answer: the decode that finds implicit
    // SBR runs for AAC-LC cores of 24 kHz or less (SBR runs at twice a core
    // rate of at most 24 kHz), not for faster cores.
    Needed,
    // Every check on every stream (what the engine always did): the reference
    // the faster paths are compared with.
    All,
};

// Probes the best audio stream of the source. False when FFmpeg cannot open the
// content or finds no audio stream; `info` is then unspecified. `format_name`
// names the demuxer when the caller already knows the format (e.g. "mp3",
// "mov", "wav"), so FFmpeg does not guess it; null lets FFmpeg detect it. The
// source is only borrowed for the call.
bool ProbeStream(const ByteSource& source, StreamInfo& info, const char* format_name = nullptr,
                 ProbeChecks checks = ProbeChecks::Needed);

}  // namespace medialib::ff
