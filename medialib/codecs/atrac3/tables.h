// Constant tables of the ATRAC3 bitstream and filter bank: subband edges,
// quantiser ranges, scale factors, the seven Huffman codes, the analysis
// window and the QMF prototype. Built once, read-only afterwards, so any
// thread may use them.
#pragma once

#include <array>
#include <cstdint>

namespace medialib::atrac3 {

inline constexpr int kLinesPerChannel = 1024;
inline constexpr int kBandSamples = 256;  // per QMF band and frame
inline constexpr int kBands = 4;
inline constexpr int kSubbands = 32;
inline constexpr int kSelectors = 8;  // 0 = not coded, 1..7 quantisers

// First line of each subband, then 1024.
inline constexpr std::array<int, kSubbands + 1> kSubbandStart = {
    0,   8,   16,  24,  32,  40,  48,  56,  64,  80,  96,  112, 128, 144, 160, 176, 192,
    224, 256, 288, 320, 352, 384, 416, 448, 480, 512, 576, 640, 704, 768, 896, 1024};

// Dequantisation divisor and the largest mantissa magnitude used per selector.
inline constexpr std::array<float, kSelectors> kMaxQuant = {0.0f, 1.5f, 2.5f, 3.5f, 4.5f, 7.5f, 15.5f, 31.5f};
inline constexpr std::array<int, kSelectors> kMantissaLimit = {0, 1, 2, 3, 4, 7, 15, 31};
// Bits per constant-length mantissa (selector 1: per pair of values).
inline constexpr std::array<int, kSelectors> kClcBits = {0, 4, 3, 3, 4, 4, 5, 6};

struct Code {
    uint16_t bits = 0;
    uint8_t length = 0;
};

struct Tables {
    std::array<float, 64> scale_factor{};      // 2^((i - 15) / 3)
    std::array<float, 512> analysis_window{};  // peak 1, symmetric
    std::array<float, 48> qmf{};               // 48-tap prototype, sum 2
    // Huffman codes for selectors 2..7, indexed by mantissa + 31.
    std::array<std::array<Code, 63>, kSelectors> vlc{};
    // Selector 1 codes per pair, indexed by (first + 1) * 3 + (second + 1).
    std::array<Code, 9> vlc_pair{};
};

const Tables& GetTables();

}  // namespace medialib::atrac3
