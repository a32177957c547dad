// ISO base media files: 3GP, MP4 and M4A, all reported as container 0x1004.
//
// Check: an "ftyp" box at offset 0. Confirm: FFmpeg's mov demuxer reads an
// audio stream. Codec 2 AAC-LC, 24 HE-AAC (SBR or PS, signalled or implicit),
// 1 PCM. Tags are iTunes-style items (moov/udta/meta/ilst) through TagLib,
// written for every brand. A 3GP file (major brand "3g..") also has its 3GPP
// asset boxes read (they fill what the items lack) and, on saving, retired to
// "free" boxes once the items hold the values; 3GP refuses Subtitle,
// SortSubtitle, Import, LyricsText and LinerNotesText.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <span>

#include "medialib/core/container.h"

namespace medialib {

bool LooksLikeIsoBmff(std::span<const uint8_t> head);

// Null when the content is not a readable ISO base media file with audio. The
// source is borrowed for the call only.
std::unique_ptr<OpenedFile> OpenMp4(const ByteSource& src, const std::filesystem::path& path);

const std::set<uint32_t>& Mp4Storable();
const std::set<uint32_t>& ThreeGpStorable();

}  // namespace medialib
