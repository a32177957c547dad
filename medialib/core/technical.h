// The technical attributes every container reports, computed from the real
// stream (a probe's StreamInfo) and the file itself, and the codec numbering.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>

#include "medialib/core/attributes.h"
#include "medialib/core/stream_info.h"

namespace medialib {

// The engine's codec number for a probed stream; -1 when the codec has none.
int32_t CodecNumber(const StreamInfo& info);

// Fills Duration (s, rounded), MilliSecond, Format, Codec (when >= 0), BitRate
// and 0x1129, Size, Frequency, BitDepth and 0x111C (when known), Channel,
// Location (absolute path) and Extension (the path's own extension, dot
// included). Values that the stream does not give are left out.
void AddTechnicalAttributes(AttributeSet& attrs, const StreamInfo& info, int32_t container, int32_t codec,
                            uint64_t file_size, const std::filesystem::path& path);

// Whether an id is one of the technical ids above (never writable).
bool IsTechnicalAttribute(uint32_t id);

// Every tag attribute the engine knows how to store somewhere.
const std::set<uint32_t>& AllTagAttributes();

// MIME type of picture bytes from their signature ("image/png", "image/jpeg",
// "image/gif", "image/bmp", "image/tiff"); empty when none matches.
std::string SniffImageMime(const uint8_t* data, size_t size);

}  // namespace medialib
