// MPEG audio stream facts from the frame headers alone, without FFmpeg.
//
// The technical attributes of an MP3 file have always been what FFmpeg's mp3
// demuxer and its stream analysis report. For files whose layout leaves no
// doubt, this reader gives the very same numbers from a few kilobytes of
// headers instead of demuxing and decoding:
//
// - the tags in front: ID3v2 tags (one after another), each skipped by its
//   declared length; the first frame must start right after them and the next
//   frame must follow it;
// - an Xing/Info header in the first frame with a frame count: length = frames
//   x samples per frame (encoder delay and padding are not taken off, exactly
//   as FFmpeg's demuxer reports it); for "Xing" with a byte count, bit rate =
//   bytes x 8 x rate / (frames x samples per frame), rounded to the nearest;
// - otherwise ("Info", or no header at all) the bit rate is the frames' own
//   rate, which FFmpeg averages over the frames its analysis reads: it is only
//   taken when every frame within a window well beyond that analysis carries
//   the same rate, so the average is exactly that rate; without a frame count
//   the length is (file size - first frame offset) x 8 / bit rate, as FFmpeg
//   estimates it (tags at the end included), in FFmpeg's mp3 time base
//   (1/14112000 s), then rounded to milliseconds.
//
// Everything less plain is declined and the caller asks FFmpeg as before:
// Layer I/II, free format, CRC-protected first frames, junk between the tags
// and the first frame, a VBRI header, an Xing header without a frame count or
// whose byte count disagrees with the file, VBR without an Xing byte count,
// frames whose rate, channel mode or version change early, and anything after
// the last frame of a short file that the analysis could take for a frame.
#pragma once

#include <cstdint>

#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"

namespace medialib::mpeg {

struct FrameHeader {
    int version = 0;  // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int layer = 0;    // 1, 2 or 3
    bool crc = false;
    int bit_rate = 0;  // bit/s; 0 for free format
    int sample_rate = 0;
    int channels = 0;
    int samples = 0;  // per frame
    int bytes = 0;    // whole frame, header included; 0 for free format
};

// Decodes a 4-byte frame header. False when the bytes are not one (no sync, a
// reserved version, layer or rate, or the "bad" bit-rate index).
bool ParseFrameHeader(const uint8_t* p, FrameHeader& h);

enum class HeaderFacts {
    Complete,      // `info` holds exactly what FFmpeg's probe would report
    MpegAudio,     // plainly MPEG audio at the data start, but FFmpeg must measure it
    NotPlainMpeg,  // no frame right after the tags (or odd tags): let FFmpeg decide
};

// Reads the stream facts of MPEG audio content (see above). `info` is only
// meaningful for Complete. Never throws; reads at most a few tens of kilobytes
// past the leading tags.
HeaderFacts ReadStreamFacts(const ByteSource& src, StreamInfo& info);

}  // namespace medialib::mpeg
