// RIFF/WAVE files: PCM, ATRAC3 (format tag 0x0270) and ATRAC3plus
// (WAVE_FORMAT_EXTENSIBLE with Sony's ATRAC3plus sub-format GUID), the latter
// two as Sony's .at3 files.
//
// Check: "RIFF" size "WAVE". Confirm: the chunks hold plain PCM
// (pcm_facts.h), or else FFmpeg's wav demuxer reads an audio stream. Tags:
// the "id3 " chunk (ID3v2.4, the full attribute set, pictures included) is
// the store; the RIFF INFO list is read when there is no ID3v2 chunk and is
// kept in step with the ID3v2 values on saving for the fields it has (INAM,
// IART, IPRD, IGNR, ICMT, ICRD, IPRT), so INFO-only readers agree.
// Container 0x1002; codec 1 PCM, 16 ATRAC3, 18 ATRAC3plus.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <span>

#include "medialib/core/container.h"

namespace medialib {

bool LooksLikeWav(std::span<const uint8_t> head);

// Null when the content is not a readable RIFF/WAVE file. The source is borrowed
// for the call only.
std::unique_ptr<OpenedFile> OpenWav(const ByteSource& src, const std::filesystem::path& path);

const std::set<uint32_t>& WavStorable();

}  // namespace medialib
