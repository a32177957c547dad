// Content detection: the dispatcher that picks the container of a file from
// its content (above every container folder, which it names), usable on any
// ByteSource (the fuzzers and the tests open memory buffers through it).
#pragma once

#include <filesystem>
#include <memory>

#include "medialib/core/container.h"

namespace medialib {

// Number of leading bytes the static checks look at.
inline constexpr size_t kSniffBytes = 4096;

// Opens and parses a file; null when no handler recognises its content or the
// content is damaged beyond reading.
std::unique_ptr<OpenedFile> OpenMediaFile(const std::filesystem::path& path);

// Tries every container whose static check accepts the first bytes, in the
// order OpenMG, RIFF/WAVE, ISO base media, MPEG audio, and returns the first
// that confirms by parsing; null when none does. `path` is only reported
// (Location, Extension) and used for later saves; it plays no part in the
// choice. The source is borrowed for the call only. Never throws.
std::unique_ptr<OpenedFile> OpenMediaSource(const ByteSource& src, const std::filesystem::path& path);

}  // namespace medialib
