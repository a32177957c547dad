// The "ea3" tag of OpenMG files: an ID3v2.3 tag whose magic reads "ea3"
// instead of "ID3".
//
// Reading splits the tag into its frames (v2.3, and v2.4 for tags that say
// so) and lets TagLib's ID3v2 frame classes parse each frame body; every frame
// is kept as complete ID3v2.3 bytes so that frames this engine does not own
// (Sony's DRM and info objects, TLEN, foreign frames) are written back
// verbatim. One table maps attribute ids to frames: Sony's own TXXX names and
// GEOB objects where Sony has one, standard ID3v2.3 frames otherwise (see
// README.md in this folder). Writing renders the owned frames with TagLib in
// the SonicStage form (encoding 2 = UTF-16BE without BOM or terminator, TXXX
// description and value separated by 00 00) and pads the tag so that the
// audio header lands at 0x0C00 whenever the frames fit.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/attributes.h"

namespace medialib::openmg {

inline constexpr size_t kTagHeaderSize = 10;
inline constexpr uint32_t kSonicStageTagSize = 3062;  // body size that puts the EA3 header at 0x0C00
inline constexpr size_t kMaxJacketPictures = attr::MaxJacketPictures;

// One frame as complete ID3v2.3 bytes (10-byte frame header + body).
struct TagFrame {
    std::string id;
    std::vector<uint8_t> bytes;
};

// Total size of the tag that starts with `head` (at least 10 bytes): header,
// body and footer. nullopt when `head` is not an "ea3" tag header of version
// 3 or 4 or its size field is not syncsafe.
std::optional<uint64_t> Ea3TagTotalSize(std::span<const uint8_t> head);

// Splits a complete tag (header included) into frames, in file order. Stops
// at padding, at the first malformed frame header and after a fixed number of
// frames; never fails, a damaged tag simply yields fewer frames.
std::vector<TagFrame> SplitEa3Tag(std::span<const uint8_t> tag);

// Attribute ids stored in the tag, in the order of the mapping table.
const std::set<uint32_t>& AllTagAttributeIds();

// Reads the attributes of the frames whose ids are in `storable` into `out`.
// `owned[i]` tells whether frame i is represented by an attribute (and so is
// replaced on writing) or must be kept verbatim.
void ReadTagAttributes(const std::vector<TagFrame>& frames, const std::set<uint32_t>& storable,
                       AttributeSet& out, std::vector<bool>& owned);

// Renders a complete "ea3" tag: the attributes of `tags` whose ids are in
// `storable`, followed by `kept` frames verbatim and the picture objects.
// nullopt when the tag would exceed the format's size limit.
std::optional<std::vector<uint8_t>> RenderEa3Tag(const AttributeSet& tags, const std::set<uint32_t>& storable,
                                                 const std::vector<TagFrame>& kept);

// "YYYY/MM/DD hh:mm:ss", the form of OMG_TRLDA, to and from OLE dates.
// Parsing also accepts "YYYY/MM/DD", "YY/MM/DD", "YYYY" and "-" as separator.
std::optional<DateValue> ParseOmgDate(std::u16string_view text);
std::u16string FormatOmgDate(DateValue date);

}  // namespace medialib::openmg
