// Whether two files carry the same audio, packet for packet.
//
// A tag save rewrites the boxes around the audio (and must move the sample
// offsets with them); the audio itself must come out as it went in. This
// compares what a demuxer reads from both: the same number of audio packets,
// each with the same timestamps, duration, flags and bytes. So a sample table
// that a save damaged (an offset not moved, a count trusted too far) shows as
// a difference, whatever the box layout around it.
#pragma once

#include "medialib/core/container.h"

namespace medialib::ff {

// True when both sources open with `format_name` (null: any) and their audio
// streams yield identical packets to the end. Never throws.
bool SameAudioPackets(const ByteSource& a, const ByteSource& b, const char* format_name = nullptr);

}  // namespace medialib::ff
