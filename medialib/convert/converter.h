// The conversion engine: one source file into one new file of another
// container, codec or bit rate, written into a work folder.
//
// What it can make (format code = container << 16 | codec):
// - PCM: WAV (0x10020001), OpenMG LPCM (0x90001, 0x10001, 0xA0001, and
//   0x60001 as an intermediate) from any source FFmpeg decodes;
// - AAC-LC in 3GP (0x10040002; codec 0 picks AAC-LC) with FFmpeg's encoder,
//   MP3 (0x10010000) with LAME;
// - ATRAC3/ATRAC3plus re-wrapped frame for frame between OMA, OMG, KDR, the
//   intermediate container 6 and (ATRAC3) RIFF/WAVE, and the ATRAC base layer
//   of AAL files into the plain codec (22 -> 16, 23 -> 18).
// ATRAC from PCM needs a FrameEncoder (frame_encoder.h); HE-AAC and AAL have
// no encoder here. Such requests fail and write nothing.
//
// Container 6 is only ever produced as an intermediate: a plain OpenMG file
// (E-ID 0xFFFF, zero content id), which every reader takes for unprotected
// OMA. A really protected file (any other E-ID) is never a conversion source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

namespace medialib::conversion {

struct Request {
    std::filesystem::path source;
    int32_t format_code = 0;
    int32_t bit_rate = 0;  // bits per second; 0: keep the source's where the codec stays
    std::filesystem::path work_folder;
};

struct Result {
    bool ok = false;
    int32_t format_code = 0;       // the code the request was carried out for
    std::filesystem::path output;  // the new file in the work folder
};

// Called with 0..100 as the work advances (on the converting thread).
using ProgressFn = std::function<void(int percent)>;

// Runs the conversion on the calling thread. On failure no file is left in
// the work folder. Never throws.
Result Convert(const Request& request, const ProgressFn& progress);

// The extension of the files made for a container number ("" when none).
const char* ExtensionFor(int32_t container);

}  // namespace medialib::conversion
