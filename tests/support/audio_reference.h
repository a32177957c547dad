// FFmpeg as the reference for decoded audio: files the tests make with the
// ffmpeg command, and FFmpeg's own decode of a file to interleaved signed
// 16-bit samples (`ffmpeg -i FILE -f s16le -acodec pcm_s16le -`).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/processes.h"

namespace testsupport {

// Runs `ffmpeg -v error -y <args>`; true when it succeeded.
inline bool RunFfmpeg(const std::string& args) {
    return RunShell("ffmpeg -nostdin -v error -y " + args + " >/dev/null 2>&1").exit_code == 0;
}

// A generated tone: `seconds` of a 440 Hz sine per channel (each channel a
// different frequency), encoded by the given codec options into `out`.
inline bool MakeTone(const std::filesystem::path& out, double seconds, int rate, int channels,
                     const std::string& codec_options) {
    if (!(seconds > 0)) return false;  // FFmpeg's sine source takes 0 as "without end"
    std::string inputs, merge;
    for (int c = 0; c < channels; ++c) {
        inputs += " -f lavfi -i sine=frequency=" + std::to_string(220 + 110 * c) +
                  ":sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds);
        merge += "[" + std::to_string(c) + ":a]";
    }
    const std::string filter =
        channels == 1 ? std::string()
                      : " -filter_complex \"" + merge + "amerge=inputs=" + std::to_string(channels) + "\"";
    return RunFfmpeg(inputs + filter + " " + codec_options + " " + ShellQuote(out.string()));
}

// FFmpeg's decode of `file` as 16-bit samples (empty on failure).
inline std::vector<int16_t> FfmpegS16(const std::filesystem::path& file,
                                      const std::string& before_input = "") {
    const ProgramResult r = RunShell("ffmpeg -nostdin -v error " + before_input + " -i " +
                                     ShellQuote(file.string()) + " -f s16le -acodec pcm_s16le - 2>/dev/null");
    std::vector<int16_t> samples(r.out.size() / 2);
    if (r.exit_code == 0)
        std::memcpy(samples.data(), r.out.data(), samples.size() * 2);
    else
        samples.clear();
    return samples;
}

}  // namespace testsupport
