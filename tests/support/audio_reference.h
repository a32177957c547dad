// FFmpeg as the reference for decoded audio: files the tests make with the
// ffmpeg command, and FFmpeg's own decode of a file to interleaved signed
// 16-bit samples (`ffmpeg -i FILE -f s16le -acodec pcm_s16le -`).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// MP3 inside OpenMG: FFmpeg cannot write it, so the MPEG frames that
// `ffmpeg -f mp3` makes of `input_options` (no tags, no Xing frame) go behind
// a bare EA3 header with codec 3 (plain), whose parameter bytes, length in
// milliseconds and frame count describe them.
inline bool MakeMp3Oma(const std::filesystem::path& out, const std::string& input_options,
                       const std::string& codec_options) {
    const std::filesystem::path raw = out.string() + ".mp3";
    if (!RunFfmpeg(input_options + " -f mp3 -write_xing 0 -id3v2_version 0 " + codec_options + " " +
                   ShellQuote(raw.string())))
        return false;
    std::ifstream in(raw, std::ios::binary);
    const std::vector<uint8_t> frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (frames.size() < 4 || frames[0] != 0xFF) return false;
    // Count the frames (constant bit rate: every header alike but padding).
    static constexpr int kKbpsMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                           112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kKbpsMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    const bool mpeg1 = ((frames[1] >> 3) & 3) == 3;
    static constexpr int kRates[4] = {44100, 48000, 32000, 44100};
    const int rate = kRates[(frames[2] >> 2) & 3] / (mpeg1 ? 1 : 2);  // MPEG 1 or 2
    // Chosen through a pointer: GCC 12 with AddressSanitizer read garbage from
    // `(mpeg1 ? kKbpsMpeg1 : kKbpsMpeg2)[i]` (32 kbit/s came out as 8 or 40),
    // so a frame length could come out 0 and the count never end.
    const int* const kbps_table = mpeg1 ? kKbpsMpeg1 : kKbpsMpeg2;
    uint32_t count = 0;
    for (size_t at = 0; at + 4 <= frames.size(); ++count) {
        // Anything but a frame header with a bit rate here: not what this
        // helper can describe (and a zero length would never move on).
        const int kbps = kbps_table[frames[at + 2] >> 4];
        if (frames[at] != 0xFF || (frames[at + 1] & 0xE0) != 0xE0 || kbps == 0) return false;
        at += static_cast<size_t>((mpeg1 ? 144000 : 72000) * kbps / rate + ((frames[at + 2] >> 1) & 1));
    }
    std::filesystem::remove(raw);
    const uint32_t ms = static_cast<uint32_t>(uint64_t{count} * (mpeg1 ? 1152 : 576) * 1000 / rate);
    std::vector<uint8_t> header(96, 0);
    header[0] = 'E', header[1] = 'A', header[2] = '3', header[3] = 1, header[5] = 0x60;
    header[6] = header[7] = 0xFF;
    header[32] = 3;
    header[33] = 0x80;
    header[34] =
        static_cast<uint8_t>(((frames[1] >> 3) & 3) << 6 | ((frames[1] >> 1) & 3) << 4 | frames[2] >> 4);
    header[35] =
        static_cast<uint8_t>(((frames[2] >> 2) & 3) << 6 | (frames[3] >> 6) << 4 | (frames[3] & 3) << 2);
    for (int i = 0; i < 4; ++i) {
        header[36 + i] = static_cast<uint8_t>(ms >> (24 - 8 * i));
        header[40 + i] = static_cast<uint8_t>(count >> (24 - 8 * i));
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    file.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
    return static_cast<bool>(file);
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
