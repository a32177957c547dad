#include "medialib_atrac3/atrac3_test_util.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "medialib/codecs/atrac3/at3_wave.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace atrac3test {

std::vector<int16_t> TonePlusNoise(size_t samples, int channels, double level, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<int16_t> pcm(samples * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples; ++i) {
        const double tone = 0.5 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / 44100.0);
        for (int c = 0; c < channels; ++c) {
            const double v = level * 32767.0 * (tone * (c == 1 ? 0.7 : 1.0) + noise(rng));
            pcm[i * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        }
    }
    return pcm;
}

std::vector<uint8_t> EncodeAll(medialib::atrac3::Encoder& encoder, const std::vector<int16_t>& pcm,
                               int channels) {
    std::vector<uint8_t> frames;
    encoder.Encode(pcm.data(), pcm.size() / static_cast<size_t>(channels), frames);
    encoder.Finish(frames);
    return frames;
}

Decoded DecodeWithFfmpeg(const medialib::atrac3::Encoder& encoder, const std::vector<uint8_t>& frames,
                         uint64_t source_samples) {
    testsupport::ScopedTempDir dir;
    medialib::atrac3::At3WaveInfo info;
    info.frame_bytes = encoder.frame_bytes();
    info.joint_stereo = encoder.joint_stereo();
    info.source_samples = source_samples;
    info.delay_samples = encoder.delay_samples();
    testsupport::WriteBytes(dir / "x.at3", medialib::atrac3::MakeAt3Wave(info, frames));
    // The RIFF format has no channel mask; without -guess_layout_max 0 the
    // ffmpeg tool notes that it guessed "stereo".
    const std::string command = "ffmpeg -nostdin -v warning -guess_layout_max 0 -i " +
                                testsupport::ShellQuote((dir / "x.at3").string()) + " -f s16le -y " +
                                testsupport::ShellQuote((dir / "x.raw").string()) + " 2> " +
                                testsupport::ShellQuote((dir / "err.txt").string());
    Decoded d;
    d.exit_code = testsupport::RunShell(command).exit_code;
    const std::vector<uint8_t> raw = testsupport::ReadBytes(dir / "x.raw");
    d.pcm.resize(raw.size() / 2);
    for (size_t i = 0; i < d.pcm.size(); ++i) {
        d.pcm[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    }
    const std::vector<uint8_t> err = testsupport::ReadBytes(dir / "err.txt");
    d.messages.assign(err.begin(), err.end());
    return d;
}

double AlignedSnr(const std::vector<int16_t>& source, int source_channels, int source_channel,
                  const Decoded& decoded, int channel) {
    const size_t n = source.size() / static_cast<size_t>(source_channels);
    const size_t delay = medialib::atrac3::Encoder::kDelaySamples;
    double signal = 0.0;
    double error = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const size_t at = (i + delay) * 2 + static_cast<size_t>(channel);
        if (at >= decoded.pcm.size()) break;
        const double x = source[i * source_channels + source_channel];
        const double y = -static_cast<double>(decoded.pcm[at]);
        signal += x * x;
        error += (y - x) * (y - x);
    }
    return 10.0 * std::log10(std::max(signal, 1e-9) / std::max(error, 1e-9));
}

}  // namespace atrac3test
