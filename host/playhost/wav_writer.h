// Writing what the host received as a WAV file: 16-bit PCM when every sample
// is exactly a 16-bit value (so a decode can be compared byte for byte with
// another decoder's 16-bit output), 32-bit float otherwise.
#pragma once

#include <filesystem>
#include <vector>

#include "host/sdk/audio_chunk.h"

namespace playhost {

// Writes interleaved `samples` of `channels` channels at `rate` to `path`
// (replacing it). False when the file cannot be written.
bool WriteWav(const std::filesystem::path& path, const std::vector<audio_sample>& samples, unsigned rate,
              unsigned channels);

}  // namespace playhost
