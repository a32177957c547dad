#include "medialib/codecs/atrac3/psycho_model.h"

#include <algorithm>
#include <cmath>

namespace medialib::atrac3 {
namespace {

constexpr double kLineHz = 44100.0 / 2.0 / 1024.0;

double Bark(double hz) {
    return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

// Threshold in quiet, dB SPL (Terhardt), capped so the top octave keeps some
// precision instead of being cut off entirely.
double HearingDb(double hz) {
    const double f = std::max(hz, 20.0) / 1000.0;
    const double db =
        3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
    return std::min(db, 50.0);
}

// Schroeder's spreading function, dB, for a maskee dz Bark above the masker.
double SpreadDb(double dz) {
    return 15.81 + 7.5 * (dz + 0.474) - 17.5 * std::sqrt(1.0 + (dz + 0.474) * (dz + 0.474));
}

// Line energy of a 0 dB SPL tone, taking a full-scale sine (about 7.5e8 in
// one line) as 96 dB SPL.
constexpr double kZeroSplEnergy = 7.5e8 * 2.5118864315e-10;

}  // namespace

PsychoModel::PsychoModel() {
    std::array<double, kSubbands> width_bark{};
    for (int s = 0; s < kSubbands; ++s) {
        const double lo = kSubbandStart[s] * kLineHz;
        const double hi = kSubbandStart[s + 1] * kLineHz;
        bark_[s] = static_cast<float>(Bark((lo + hi) / 2.0));
        width_bark[s] = Bark(hi) - Bark(lo);
        double quiet = 1e9;
        for (int line = kSubbandStart[s]; line < kSubbandStart[s + 1]; ++line) {
            quiet = std::min(quiet, HearingDb((line + 0.5) * kLineHz));
        }
        hearing_[s] = static_cast<float>(kZeroSplEnergy * std::pow(10.0, quiet / 10.0));
    }
    // Weights integrate the masker density over Bark, normalised so that a
    // flat spectrum masks itself at its own level (before the offset).
    for (int s = 0; s < kSubbands; ++s) {
        double sum = 0.0;
        std::array<double, kSubbands> w{};
        for (int j = 0; j < kSubbands; ++j) {
            const double db = SpreadDb(bark_[s] - bark_[j]);
            w[j] = db < -60.0 ? 0.0 : std::pow(10.0, db / 10.0) * width_bark[j];
            sum += w[j];
        }
        for (int j = 0; j < kSubbands; ++j) spread_[s][j] = static_cast<float>(w[j] / sum);
    }
}

void PsychoModel::Analyse(const float* lines, float* allowed) const {
    std::array<float, kSubbands> masker{};  // energy density after the masking offset
    for (int s = 0; s < kSubbands; ++s) {
        const int begin = kSubbandStart[s];
        const int width = kSubbandStart[s + 1] - begin;
        float energy = 0.0f;
        float log_sum = 0.0f;
        for (int i = 0; i < width; ++i) {
            const float e = lines[begin + i] * lines[begin + i];
            energy += e;
            log_sum += std::log2(e + 1e-3f);
        }
        const float mean = energy / width;
        if (mean <= 1e-3f) {
            masker[s] = 0.0f;
            continue;
        }
        // Spectral flatness in dB (0 for noise, strongly negative for a tone).
        const float flatness_db = 3.0103f * (log_sum / width - std::log2(mean + 1e-3f));
        const float tonality = std::clamp(flatness_db / -25.0f, 0.0f, 1.0f);
        const float offset_db = tonality * (14.5f + bark_[s]) + (1.0f - tonality) * 5.5f;
        masker[s] = mean * std::exp2(-offset_db * 0.33219281f);
    }
    for (int s = 0; s < kSubbands; ++s) {
        float density = 0.0f;
        const auto& w = spread_[s];
        for (int j = 0; j < kSubbands; ++j) density += w[j] * masker[j];
        const int width = kSubbandStart[s + 1] - kSubbandStart[s];
        allowed[s] = std::max(density, hearing_[s]) * width;
    }
}

}  // namespace medialib::atrac3
