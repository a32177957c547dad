// atrac3_encode [--mode lp2|105|lp4] [--no-gain-control] [--no-matrix] in.wav out.at3
//
// Encodes a 44 100 Hz 16-bit PCM WAV file with the engine's ATRAC3 encoder
// into an ATRAC3 RIFF/WAVE file. For the benchmarks and manual trials; the
// product converts through its conversion engine instead.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "medialib/codecs/atrac3/at3_wave.h"
#include "medialib/codecs/atrac3/atrac3_encoder.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int Usage() {
    std::cerr
        << "usage: atrac3_encode [--mode lp2|105|lp4] [--no-gain-control] [--no-matrix] in.wav out.at3\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using medialib::atrac3::Mode;
    Mode mode = Mode::Lp2;
    medialib::atrac3::EncoderOptions options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mode" && i + 1 < argc) {
            const std::string m = argv[++i];
            if (m == "lp2") {
                mode = Mode::Lp2;
            } else if (m == "105") {
                mode = Mode::Kbps105;
            } else if (m == "lp4") {
                mode = Mode::Lp4;
            } else {
                return Usage();
            }
        } else if (a == "--no-gain-control") {
            options.gain_control = false;
        } else if (a == "--no-matrix") {
            options.matrix_selectors = false;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) return Usage();
    std::ifstream in(files[0], std::ios::binary);
    uint8_t head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        std::cerr << "atrac3_encode: not a WAV file\n";
        return 1;
    }
    int channels = 0;
    uint64_t data_bytes = 0;
    for (;;) {
        uint8_t chunk[8];
        if (!in.read(reinterpret_cast<char*>(chunk), 8)) {
            std::cerr << "atrac3_encode: no data chunk\n";
            return 1;
        }
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::vector<uint8_t> fmt(size);
            if (size < 16 || !in.read(reinterpret_cast<char*>(fmt.data()), size)) return 1;
            if (size & 1) in.ignore(1);
            const uint16_t tag = Le16(fmt.data());
            channels = Le16(fmt.data() + 2);
            if ((tag != 1 && tag != 0xFFFE) || Le32(fmt.data() + 4) != 44100 || Le16(fmt.data() + 14) != 16) {
                std::cerr << "atrac3_encode: needs 44100 Hz 16-bit PCM\n";
                return 1;
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data_bytes = size;
            break;
        } else {
            in.ignore(size + (size & 1));
        }
    }
    if (channels < 1 || channels > 8) return 1;
    medialib::atrac3::Encoder encoder(mode, channels, options);
    std::vector<uint8_t> frames;
    std::vector<int16_t> block(static_cast<size_t>(65536) * channels);
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    uint64_t left = data_bytes / (2u * channels);
    while (left > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, 65536));
        if (!in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(n * 2 * channels))) {
            break;
        }
        encoder.Encode(block.data(), n, frames);
        left -= n;
    }
    encoder.Finish(frames);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    medialib::atrac3::At3WaveInfo info;
    info.frame_bytes = encoder.frame_bytes();
    info.joint_stereo = encoder.joint_stereo();
    info.source_samples = encoder.input_samples();
    info.delay_samples = encoder.delay_samples();
    const std::vector<uint8_t> file = medialib::atrac3::MakeAt3Wave(info, frames);
    std::ofstream out(files[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) {
        std::cerr << "atrac3_encode: cannot write " << files[1] << "\n";
        return 1;
    }
    // Reading the input counts; writing the output file does not.
    std::fprintf(stderr, "encoded %llu samples in %.3f s wall, %.3f s cpu (%.1fx real time on one core)\n",
                 static_cast<unsigned long long>(encoder.input_samples()), seconds, cpu,
                 encoder.input_samples() / 44100.0 / std::max(cpu, 1e-9));
    return 0;
}
