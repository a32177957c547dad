// The legacy OpenMG package (.omg files of the OpenMG Jukebox era).
//
// The file is one BER-encoded structure: a header sequence that names the
// format ("openMG" object id) and carries the content id and the audio
// parameters, the encrypted ATRAC3 payload as one octet string, and a trailer
// sequence that pairs the name "OMG:FRINGE:USR:user.xml" with an XML
// description of the track (title, artist, album, genre, track number,
// rendition format). The walker reads element headers only, with explicit
// limits on depth, element count and XML size; the audio is never read.
// Metadata comes from the XML; the audio is protected and not decodable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "medialib/core/container.h"

namespace medialib::openmg {

struct PackageInfo {
    std::u16string title, artist, album, genre;
    int32_t track_number = 0;      // 0 when absent
    std::string rendition_format;  // e.g. "audio/atrac3"
    uint64_t audio_length = 0;     // bytes of ATRAC3 frames, from the header sequence
    uint32_t frame_size = 0;       // bytes per ATRAC3 frame, from the header sequence
};

// True when the bytes start like a package: an indefinite BER sequence
// holding a sequence whose first element is the "openMG" object id.
bool LooksLikeOpenMgPackage(std::span<const uint8_t> head);

// Parses a package; nullopt when the structure is not a package or is
// damaged before the trailer could be found.
std::optional<PackageInfo> ParseOpenMgPackage(const ByteSource& src);

}  // namespace medialib::openmg
