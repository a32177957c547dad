// AAC stream facts of an MP4/M4A/3GP file from its box tree alone, without
// FFmpeg.
//
// The technical attributes of these files have always been what FFmpeg's mov
// demuxer reports. For the plain layout this reader gives the same numbers:
// one moov box holding exactly one track, a sound track ('soun' handler) with
// one 'mp4a' sample description whose esds carries MPEG-4 audio (object type
// 0x40) with an AAC-LC AudioSpecificConfig (channel configuration 1 to 6,
// 1024-sample frames, a rate above 24 kHz agreeing with the sample
// description, no SBR signalled), whose samples lie in this file where the
// chunk tables put them. Then the rate and channels are the config's; the bit
// rate is the sample sizes' sum x 8 over the sample durations' sum, rounded
// down (the esds rates are not used); the length is the single edit's
// duration moved to the media time scale and rounded to nearest, at most the
// media duration (without an edit list, the media duration), rounded to
// milliseconds. The media duration must be what the sample durations sum to.
//
// Declined, for FFmpeg to read as before: fragmented files, more than one
// track, other codecs and object types, SBR or PS signalled, a core rate of
// 24 kHz or less (implicit SBR is found only by decoding frames, which the
// engine does at such rates), a program config element, data references to
// other files, sample tables that disagree, edit lists other than one plain
// edit starting inside the samples, any box that runs past its parent or the
// file.
#pragma once

#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"

namespace medialib::mp4 {

// True with `info` filled when the file is plain AAC in the sense above.
bool ReadAacFacts(const ByteSource& src, StreamInfo& info);

}  // namespace medialib::mp4
