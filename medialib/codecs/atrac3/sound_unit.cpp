#include "medialib/codecs/atrac3/sound_unit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace medialib::atrac3 {
namespace {

// Round half away from zero; a truncating conversion is one instruction
// where lrint is a library call.
inline int Quantize(float value, float scale, int limit) {
    const float v = std::clamp(value * scale, -static_cast<float>(limit), static_cast<float>(limit));
    return static_cast<int>(v + (v >= 0.0f ? 0.5f : -0.5f));
}

}  // namespace

int SentSubbandCount(int last_coded) {
    if (last_coded < 0) return 1;
    const bool starts_band = last_coded == 0 || last_coded == 18 || last_coded == 26 || last_coded == 30;
    return last_coded + 1 + (starts_band ? 1 : 0);
}

void UnitPlan::Analyse(const float* lines, const float* allowed, int max_subbands, const UnitHeader& header) {
    const Tables& t = GetTables();
    lines_ = lines;
    header_ = header;
    max_subbands_ = std::clamp(max_subbands, 0, kSubbands);
    bands_coded_ = 1;
    for (int b = 0; b < kBands; ++b) {
        if (header.gain[b].count > 0) bands_coded_ = b + 1;
    }
    for (int s = 0; s < kSubbands; ++s) {
        const int begin = kSubbandStart[s];
        const int width = kSubbandStart[s + 1] - begin;
        const float* x = lines + begin;
        float peak = 0.0f;
        float energy = 0.0f;
        for (int i = 0; i < width; ++i) {
            peak = std::max(peak, std::fabs(x[i]));
            energy += x[i] * x[i];
        }
        allowed_[s] = std::max(allowed[s], 1e-9f);
        auto& noise = noise_[s];
        noise.fill(0.0f);
        vlc_bits_[s].fill(0);
        clc_bits_[s].fill(0);
        noise[0] = energy;
        if (s >= max_subbands_ || peak == 0.0f) {
            sf_index_[s] = 0;
            // Never worth coding: nothing to gain, or beyond the low-pass.
            for (int q = 1; q < kSelectors; ++q) noise[q] = energy;
            continue;
        }
        int sf = 0;
        while (sf < 63 && t.scale_factor[sf] < peak) ++sf;
        sf_index_[s] = static_cast<uint8_t>(sf);
        const float scale_factor = t.scale_factor[sf];
        for (int q = 1; q < kSelectors; ++q) {
            const float to_mantissa = kMaxQuant[q] / scale_factor;
            const float to_value = scale_factor / kMaxQuant[q];
            const int limit = kMantissaLimit[q];
            float err = 0.0f;
            int bits = 0;
            if (q == 1) {
                for (int i = 0; i < width; i += 2) {
                    const int a = Quantize(x[i], to_mantissa, limit);
                    const int b = Quantize(x[i + 1], to_mantissa, limit);
                    const float ea = x[i] - a * to_value;
                    const float eb = x[i + 1] - b * to_value;
                    err += ea * ea + eb * eb;
                    bits += t.vlc_pair[(a + 1) * 3 + (b + 1)].length;
                }
                clc_bits_[s][q] = static_cast<uint16_t>(width / 2 * kClcBits[q]);
            } else {
                const auto& code = t.vlc[q];
                for (int i = 0; i < width; ++i) {
                    const int m = Quantize(x[i], to_mantissa, limit);
                    const float e = x[i] - m * to_value;
                    err += e * e;
                    bits += code[m + 31].length;
                }
                clc_bits_[s][q] = static_cast<uint16_t>(width * kClcBits[q]);
            }
            noise[q] = err;
            vlc_bits_[s][q] = static_cast<uint16_t>(bits);
        }
    }
    ChooseForFactor(std::numeric_limits<float>::max());
}

void UnitPlan::ChooseForFactor(float factor) {
    selector_.fill(0);
    vlc_total_ = clc_total_ = coded_count_ = 0;
    last_coded_ = -1;
    for (int s = 0; s < max_subbands_; ++s) {
        const float limit = allowed_[s] * factor;
        int q = 0;
        while (q < kSelectors - 1 && noise_[s][q] > limit) ++q;
        if (q > 0 && noise_[s][q] >= noise_[s][0]) q = 0;  // silent or useless subband
        if (q > 0) Assign(s, q);
    }
}

void UnitPlan::Assign(int s, int q) {
    const int old = selector_[s];
    if (old > 0) {
        vlc_total_ -= vlc_bits_[s][old];
        clc_total_ -= clc_bits_[s][old];
        --coded_count_;
    }
    selector_[s] = static_cast<uint8_t>(q);
    if (q > 0) {
        vlc_total_ += vlc_bits_[s][q];
        clc_total_ += clc_bits_[s][q];
        ++coded_count_;
        last_coded_ = std::max(last_coded_, s);
    } else if (s == last_coded_) {
        last_coded_ = -1;
        for (int i = s - 1; i >= 0; --i) {
            if (selector_[i] > 0) {
                last_coded_ = i;
                break;
            }
        }
    }
}

int UnitPlan::FixedBits() const {
    int bits = (header_.side_unit ? 14 : 6) + 2;
    for (int b = 0; b < bands_coded_; ++b) bits += 3 + 9 * header_.gain[b].count;
    return bits + 5 /* tonal groups */ + 5 /* subband count */ + 1 /* coding mode */;
}

int UnitPlan::Bits() const {
    return FixedBits() + 3 * SentSubbandCount(last_coded_) + 6 * coded_count_ +
           std::min(vlc_total_, clc_total_);
}

int UnitPlan::BitsWith(int s, int q) const {
    const int old = selector_[s];
    int vlc = vlc_total_;
    int clc = clc_total_;
    int count = coded_count_;
    if (old > 0) {
        vlc -= vlc_bits_[s][old];
        clc -= clc_bits_[s][old];
        --count;
    }
    int last = last_coded_;
    if (q > 0) {
        vlc += vlc_bits_[s][q];
        clc += clc_bits_[s][q];
        ++count;
        last = std::max(last, s);
    }
    return FixedBits() + 3 * SentSubbandCount(last) + 6 * count + std::min(vlc, clc);
}

int UnitPlan::NextSelector(int s) const {
    const int q = selector_[s];
    for (int n = q + 1; n < kSelectors; ++n) {
        if (noise_[s][n] < noise_[s][q]) return n;
    }
    return -1;
}

bool UnitPlan::BestUpgrade(int max_extra_bits, int* subband, int* extra_bits, float* ratio) const {
    const int now = Bits();
    float best = 0.0f;
    bool found = false;
    for (int s = 0; s < max_subbands_; ++s) {
        const float r = noise_[s][selector_[s]] / allowed_[s];
        if (r <= best) continue;
        const int next = NextSelector(s);
        if (next < 0) continue;
        const int extra = BitsWith(s, next) - now;
        if (extra > max_extra_bits) continue;
        best = r;
        *subband = s;
        *extra_bits = extra;
        found = true;
    }
    *ratio = best;
    return found;
}

void UnitPlan::Upgrade(int subband) {
    const int next = NextSelector(subband);
    if (next > 0) Assign(subband, next);
}

int UnitPlan::coded_subbands() const { return SentSubbandCount(last_coded_); }

void UnitPlan::Write(BitWriter& out) const {
    const Tables& t = GetTables();
    if (header_.side_unit) {
        out.Put(0, 1);  // no channel weighting
        out.Put(7, 3);
        for (int b = 0; b < kBands; ++b) out.Put(header_.matrix[b], 2);
        out.Put(3, 2);
    } else {
        out.Put(0x28, 6);
    }
    out.Put(bands_coded_ - 1, 2);
    for (int b = 0; b < bands_coded_; ++b) {
        const BandGain& g = header_.gain[b];
        out.Put(g.count, 3);
        for (int i = 0; i < g.count; ++i) {
            out.Put(g.points[i].level, 4);
            out.Put(g.points[i].location, 5);
        }
    }
    out.Put(0, 5);  // no tonal components
    const int nsub = SentSubbandCount(last_coded_);
    const bool clc = uses_clc();
    out.Put(nsub - 1, 5);
    out.Put(clc ? 1 : 0, 1);
    for (int s = 0; s < nsub; ++s) out.Put(selector_[s], 3);
    for (int s = 0; s < nsub; ++s) {
        if (selector_[s] > 0) out.Put(sf_index_[s], 6);
    }
    for (int s = 0; s < nsub; ++s) {
        const int q = selector_[s];
        if (q == 0) continue;
        const int begin = kSubbandStart[s];
        const int width = kSubbandStart[s + 1] - begin;
        const float* x = lines_ + begin;
        const float to_mantissa = kMaxQuant[q] / t.scale_factor[sf_index_[s]];
        const int limit = kMantissaLimit[q];
        if (q == 1) {
            for (int i = 0; i < width; i += 2) {
                const int a = Quantize(x[i], to_mantissa, limit);
                const int b = Quantize(x[i + 1], to_mantissa, limit);
                if (clc) {
                    out.Put(((a & 3) << 2) | (b & 3), 4);
                } else {
                    const Code c = t.vlc_pair[(a + 1) * 3 + (b + 1)];
                    out.Put(c.bits, c.length);
                }
            }
        } else {
            const int clc_bits = kClcBits[q];
            for (int i = 0; i < width; ++i) {
                const int m = Quantize(x[i], to_mantissa, limit);
                if (clc) {
                    out.Put(static_cast<uint32_t>(m) & ((1u << clc_bits) - 1), clc_bits);
                } else {
                    const Code c = t.vlc[q][m + 31];
                    out.Put(c.bits, c.length);
                }
            }
        }
    }
}

void WriteEmptyUnit(BitWriter& out, bool side_unit) {
    if (side_unit) {
        out.Put(0, 1);
        out.Put(7, 3);
        out.Put(0xFF, 8);  // matrix selector 3 for all four bands
        out.Put(3, 2);
    } else {
        out.Put(0x28, 6);
    }
    out.Put(0, 2);  // one band of gain data
    out.Put(0, 3);  // no gain points
    out.Put(0, 5);  // no tonal components
    out.Put(0, 5);  // one subband
    out.Put(0, 1);
    out.Put(0, 3);  // not coded
}

}  // namespace medialib::atrac3
