// The host's ID3v2 tag service, built on TagLib.
//
// write() turns a file_info into a TagLib ID3v2.4 tag (text in UTF-8): the
// common field names get their standard frames, every other field a TXXX
// frame named after the field, and the four ReplayGain values TXXX frames
// "REPLAYGAIN_TRACK_GAIN" etc. in the usual text form ("-6.50 dB",
// "0.987654"). All values of a multi-valued field are kept (several strings
// in one text frame, or one COMM / USLT frame per value). The rendered tag
// replaces an ID3v2 tag at the start of the file, or is put in front of the
// file's content when it has none. read() reads the tag header, then exactly
// the tag's bytes, hands them to TagLib over a memory stream and maps the
// frames back, so anything after the tag (audio, a path trailer) is never
// looked at. The name-to-frame table is in host/README.md.
#pragma once

#include "host/sdk/tag_processor.h"

namespace playhost {

// A new instance of the tag service (stateless; any number may exist).
service_ptr_t<tag_processor_id3v2> CreateId3v2TagService();

}  // namespace playhost
