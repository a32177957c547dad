// The fuzz entries: one per parser, each taking the bytes of one input and
// running them through the same in-memory path the product reads that format
// by. Shared by the libFuzzer targets (one executable per entry), the plain
// replay program and the crash-corpus test, so a crash file reproduces in
// every build without libFuzzer. Each entry returns a small number telling
// how far the input got (0: refused early); none throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace cqfuzz {

// Media engine (cq_medialib_core).
int Open(const uint8_t* data, size_t size);        // every container open, then a bounded decode
int Ea3Tag(const uint8_t* data, size_t size);      // "ea3" tag split, attributes read, tag rendered again
int Ea3Header(const uint8_t* data, size_t size);   // EA3 header, stream description (AAL packet walk)
int OmgPackage(const uint8_t* data, size_t size);  // legacy OpenMG package (BER walk, XML)
int Mp4Boxes(const uint8_t* data, size_t size);    // 3GPP asset boxes and the MP4 open
int Riff(const uint8_t* data, size_t size);        // RIFF/WAVE open
int Mpeg(const uint8_t* data, size_t size);        // MPEG audio frames: MP3 open and a bounded decode
// ATRAC3 encoder (cq_atrac3): the first byte picks mode, input channels and
// chunk size, the rest is 16-bit PCM; the frame count must follow the delay rule.
int Atrac3Encode(const uint8_t* data, size_t size);
// Console program (cq_tool).
int InfoFile(const uint8_t* data, size_t size);  // info-file decoding and line split
// Plug-in (cq_plugin_tags).
int SideTagTrailer(const uint8_t* data, size_t size);  // profile side-tag file: magic, key-path trailer
// Platform (cq_platform, cq_imaging).
int RegistryFile(const uint8_t* data, size_t size);  // ".reg" file
int Jpeg(const uint8_t* data, size_t size);
int Png(const uint8_t* data, size_t size);
int Gif(const uint8_t* data, size_t size);
int Bmp(const uint8_t* data, size_t size);  // BMP and icon
int Tiff(const uint8_t* data, size_t size);

struct Target {
    const char* name;  // as on the command line of scripts/fuzz.sh and the replay program
    int (*run)(const uint8_t* data, size_t size);
};

// Every target, in a fixed order; the crash corpus of target N is
// tests/data/crash/N/ (the files directly in tests/data/crash belong to "open").
const std::vector<Target>& AllTargets();
const Target* FindTarget(std::string_view name);  // null when unknown

}  // namespace cqfuzz
