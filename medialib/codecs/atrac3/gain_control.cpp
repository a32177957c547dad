#include "medialib/codecs/atrac3/gain_control.h"

#include <algorithm>
#include <cmath>

namespace medialib::atrac3 {
namespace {

// An attack must rise this much over everything before it in the window.
constexpr float kAttackRatio = 4.0f;
// Largest boost of the quiet part: 2^kMaxBoost (level 4 + kMaxBoost).
constexpr int kMaxBoost = 6;
// Largest lowering of a loud part before a release: 2^kMaxRelease (level 4 - kMaxRelease).
constexpr int kMaxRelease = 2;
// Below this peak (band-signal units, full scale about 65536) pre-echo is
// inaudible and the points would only cost bits.
constexpr float kMinAttackPeak = 256.0f;

}  // namespace

BandGain DetectAttack(const float* slot, float previous_peak) {
    float block_peak[32];
    for (int b = 0; b < 32; ++b) {
        float p = 0.0f;
        for (int i = 0; i < 8; ++i) p = std::max(p, std::fabs(slot[8 * b + i]));
        block_peak[b] = p;
    }
    BandGain gain;
    float before = previous_peak;
    float best_ratio = kAttackRatio;
    int attack = -1;
    for (int b = 1; b < 32; ++b) {
        before = std::max(before, block_peak[b - 1]);
        if (block_peak[b] < kMinAttackPeak) continue;
        const float ratio = block_peak[b] / std::max(before, 1.0f);
        if (ratio >= best_ratio) {
            best_ratio = ratio;
            attack = b;
        }
    }
    // A release: from some block on, everything left in the slot is at
    // least 24 dB below the loud part before it (a click that dies away
    // inside the slot). The loud part is lowered before the MDCT, so the
    // quiet tail carries less of the window's noise (post-echo).
    int release = -1;
    int release_boost = 0;
    if (kMaxRelease > 0) {
        float tail_peak[33];
        tail_peak[32] = 0.0f;
        for (int b = 31; b >= 0; --b) tail_peak[b] = std::max(tail_peak[b + 1], block_peak[b]);
        float loud = 0.0f;
        for (int b = std::max(attack, 0) + 1; b < 32; ++b) {
            loud = std::max(loud, block_peak[b - 1]);
            if (loud < kMinAttackPeak) continue;
            const float ratio = loud / std::max(tail_peak[b], 1.0f);
            if (ratio >= 16.0f) {
                release = b;
                release_boost = std::min(kMaxRelease, static_cast<int>(std::floor(std::log2(ratio))) - 2);
                break;
            }
        }
    }
    int boost = 0;
    if (attack >= 0) {
        boost = std::min(kMaxBoost, static_cast<int>(std::floor(std::log2(best_ratio))) - 1) - release_boost;
    }
    if (attack >= 0 && (boost >= 1 || release >= 0)) {
        // The ramp fills the block before the attack, so the attack itself
        // is at the level of the loud part.
        gain.points[gain.count++] =
            GainPoint{static_cast<uint8_t>(4 + std::max(boost, 0)), static_cast<uint8_t>(attack - 1)};
    }
    if (release >= 0) {
        gain.points[gain.count++] =
            GainPoint{static_cast<uint8_t>(4 - release_boost), static_cast<uint8_t>(release - 1)};
    }
    return gain;
}

void GainCurve(const BandGain& gain, float* curve) {
    int s = 0;
    for (int i = 0; i < gain.count; ++i) {
        const int level = gain.points[i].level;
        const int next_level = i + 1 < gain.count ? gain.points[i + 1].level : 4;
        const int start = 8 * gain.points[i].location;
        const float value = std::exp2(static_cast<float>(4 - level));
        for (; s < start; ++s) curve[s] = value;
        const float step = std::exp2(-static_cast<float>(next_level - level) / 8.0f);
        float v = value;
        for (int k = 0; k < 8 && s < 256; ++k, ++s) {
            curve[s] = v;
            v *= step;
        }
    }
    for (; s < 256; ++s) curve[s] = 1.0f;
}

}  // namespace medialib::atrac3
