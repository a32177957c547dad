// Probing a file's audio stream with FFmpeg: the source of every technical
// attribute (Codec, Frequency, Channel, BitDepth, MilliSecond, BitRate).
#pragma once

#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"

namespace medialib::ff {

// Probes the best audio stream of the source. False when FFmpeg cannot open the
// content or finds no audio stream; `info` is then unspecified. `format_name`
// may force a demuxer. The source is only borrowed for the call.
bool ProbeStream(const ByteSource& source, StreamInfo& info, const char* format_name = nullptr);

}  // namespace medialib::ff
