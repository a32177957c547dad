// MPEG audio files (MP3; Layer I/II too) with ID3v2 tags.
//
// Check: an "ID3" header, or an MPEG audio frame header at offset 0. Confirm:
// the frame headers (frame_headers.h) or, where they cannot tell everything,
// FFmpeg must find an MPEG audio stream. Tags: ID3v2 through TagLib; saving
// writes ID3v2.4 (UTF-8 text) and, when the file already had an ID3v1 tag,
// refreshes it from the new values so the two never disagree.
// Container 0x1001; codec 0 for Layer III, 8 for Layer I/II.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <span>

#include "medialib/core/container.h"

namespace medialib {

bool LooksLikeMp3(std::span<const uint8_t> head);

// Null when the content is not MPEG audio or cannot be read. The source is
// borrowed for the call only; `path` names the file for Location/Extension and
// later saves (may be empty for in-memory input).
std::unique_ptr<OpenedFile> OpenMp3(const ByteSource& src, const std::filesystem::path& path);

const std::set<uint32_t>& Mp3Storable();

}  // namespace medialib
