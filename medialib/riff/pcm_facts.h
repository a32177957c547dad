// PCM stream facts of a RIFF/WAVE file from its chunks alone, without FFmpeg.
//
// The technical attributes of a WAV file have always been what FFmpeg's wav
// demuxer reports. For the plain layout this reader gives the same numbers:
// "RIFF" size "WAVE", chunks (padded to even offsets) that all lie inside the file, one
// "fmt " chunk (integer PCM of 8, 16, 24, 32 or 64 bits, float of 32 or 64
// bits, directly or as WAVE_FORMAT_EXTENSIBLE with the PCM or float
// sub-format and all bits valid) before one "data" chunk. Then the rate,
// channels and bits are the fmt chunk's, the bit rate is its byte rate x 8,
// and the length is the data size's whole sample frames at the stream rate,
// rounded to milliseconds (a "fact" count is ignored for PCM, as FFmpeg does).
//
// Declined, for FFmpeg to read as before: any other codec (ATRAC3, a-law, ...),
// RF64, overlong chunks, a zero byte rate, no or empty data, and data
// whose first 64 KiB hold an IEC 61937 burst preamble (FFmpeg then reports the
// compressed stream it carries).
#pragma once

#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"

namespace medialib::riff {

// True with `info` filled when the file is plain PCM in the sense above.
bool ReadPcmFacts(const ByteSource& src, StreamInfo& info);

}  // namespace medialib::riff
