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
    for (int i = 0; i < header.tonal.count; ++i) {
        bands_coded_ = std::max(bands_coded_, header.tonal.components[i].start / 256 + 1);
    }
    tonal_bits_ = TonalBits();
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
    return bits + tonal_bits_ + 5 /* subband count */ + 1 /* coding mode */;
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

void UnitPlan::Refine(int budget_bits, float factor) {
    const Tables& t = GetTables();
    constexpr int kFinest = kSelectors - 1;
    std::array<bool, kSubbands> tried{};
    std::array<int, 16> per_block{};
    TonalBlock& tonal = header_.tonal;
    for (int i = 0; i < tonal.count; ++i) ++per_block[tonal.components[i].start / 64];
    for (;;) {
        int worst = -1;
        float worst_ratio = factor;
        for (int s = 0; s < max_subbands_; ++s) {
            if (tried[s] || selector_[s] != kFinest) continue;
            const float r = noise_[s][kFinest] / allowed_[s];
            if (r > worst_ratio) {
                worst_ratio = r;
                worst = s;
            }
        }
        if (worst < 0) return;
        tried[worst] = true;
        const int begin = kSubbandStart[worst];
        const int width = kSubbandStart[worst + 1] - begin;
        const int runs = width / TonalBlock::kValues;
        const int block = begin / 64;
        if (block != (begin + width - 1) / 64 || per_block[block] + runs > 7 ||
            tonal.count + runs > TonalBlock::kMaxComponents) {
            continue;
        }
        const TonalBlock saved = tonal;
        const int saved_bands = bands_coded_;
        const int saved_bits = tonal_bits_;
        const float to_value = t.scale_factor[sf_index_[worst]] / kMaxQuant[kFinest];
        const float to_mantissa = 1.0f / to_value;
        float noise = 0.0f;
        for (int r = 0; r < runs; ++r) {
            const int start = begin + r * TonalBlock::kValues;
            float error[TonalBlock::kValues];
            float peak = 0.0f;
            for (int v = 0; v < TonalBlock::kValues; ++v) {
                const float x = lines_[start + v];
                error[v] =
                    x - static_cast<float>(Quantize(x, to_mantissa, kMantissaLimit[kFinest])) * to_value;
                peak = std::max(peak, std::fabs(error[v]));
            }
            int sf = 0;
            while (sf < 63 && t.scale_factor[sf] < peak) ++sf;
            TonalComponent c;
            c.start = start;
            c.sf_index = static_cast<uint8_t>(sf);
            const float maxq = kMaxQuant[TonalBlock::kSelector];
            for (int v = 0; v < TonalBlock::kValues; ++v) {
                const int m = Quantize(error[v], maxq / t.scale_factor[sf], 31);
                c.mantissas[v] = static_cast<int8_t>(m);
                const float left = error[v] - static_cast<float>(m) * t.scale_factor[sf] / maxq;
                noise += left * left;
            }
            tonal.components[tonal.count++] = c;
        }
        std::sort(tonal.components.begin(), tonal.components.begin() + tonal.count,
                  [](const TonalComponent& a, const TonalComponent& b) { return a.start < b.start; });
        bands_coded_ = std::max(bands_coded_, begin / 256 + 1);
        tonal_bits_ = TonalBits();
        if (Bits() > budget_bits) {
            tonal = saved;
            bands_coded_ = saved_bands;
            tonal_bits_ = TonalBits();
            (void)saved_bits;
            continue;
        }
        per_block[block] += runs;
        noise_[worst][kFinest] = noise;
    }
}

float UnitPlan::NoiseToMask() const {
    float sum = 0.0f;
    for (int s = 0; s < max_subbands_; ++s) sum += noise_[s][selector_[s]] / allowed_[s];
    return sum;
}

int UnitPlan::TonalBits() {
    const TonalBlock& tonal = header_.tonal;
    if (tonal.count == 0) return 5;
    // Blocks of 64 lines in flagged bands each carry a 3-bit count.
    std::array<bool, kBands> flagged{};
    int vlc = 0;
    for (int i = 0; i < tonal.count; ++i) {
        const TonalComponent& c = tonal.components[i];
        flagged[c.start / 256] = true;
        const int values = std::min(TonalBlock::kValues, kLinesPerChannel - c.start);
        for (int v = 0; v < values; ++v)
            vlc += GetTables().vlc[TonalBlock::kSelector][c.mantissas[v] + 31].length;
    }
    int clc = 0;
    for (int i = 0; i < tonal.count; ++i) {
        clc += std::min(TonalBlock::kValues, kLinesPerChannel - tonal.components[i].start) *
               kClcBits[TonalBlock::kSelector];
    }
    int blocks = 0;
    for (int b = 0; b < bands_coded_; ++b) blocks += flagged[b] ? 4 : 0;
    tonal_clc_ = clc < vlc;
    return 5 + 2 + bands_coded_ + 3 + 3 + 3 * blocks + 12 * tonal.count + std::min(vlc, clc);
}

void UnitPlan::WriteTonal(BitWriter& out) const {
    const TonalBlock& tonal = header_.tonal;
    if (tonal.count == 0) {
        out.Put(0, 5);
        return;
    }
    out.Put(1, 5);                   // one group
    out.Put(tonal_clc_ ? 1 : 0, 2);  // all groups VLC, or all CLC
    std::array<bool, kBands> flagged{};
    for (int i = 0; i < tonal.count; ++i) flagged[tonal.components[i].start / 256] = true;
    for (int b = 0; b < bands_coded_; ++b) out.Put(flagged[b] ? 1 : 0, 1);
    out.Put(TonalBlock::kValues - 1, 3);
    out.Put(TonalBlock::kSelector, 3);
    const auto& code = GetTables().vlc[TonalBlock::kSelector];
    int next = 0;
    for (int j = 0; j < 4 * bands_coded_; ++j) {
        if (!flagged[j / 4]) continue;
        int count = 0;
        while (next + count < tonal.count && tonal.components[next + count].start / 64 == j) ++count;
        out.Put(count, 3);
        for (int i = next; i < next + count; ++i) {
            const TonalComponent& c = tonal.components[i];
            out.Put(c.sf_index, 6);
            out.Put(c.start - 64 * j, 6);
            const int values = std::min(TonalBlock::kValues, kLinesPerChannel - c.start);
            for (int v = 0; v < values; ++v) {
                const int m = c.mantissas[v];
                if (tonal_clc_) {
                    out.Put(static_cast<uint32_t>(m) & 63u, 6);
                } else {
                    out.Put(code[m + 31].bits, code[m + 31].length);
                }
            }
        }
        next += count;
    }
}

int ExtractTonal(float* lines, int max_subbands, TonalBlock& tonal) {
    const Tables& t = GetTables();
    tonal.count = 0;
    std::array<int, 16> block_count{};  // components per 64-line block, at most 7
    for (int s = 0; s < max_subbands && tonal.count < TonalBlock::kMaxComponents; ++s) {
        const int begin = kSubbandStart[s];
        const int width = kSubbandStart[s + 1] - begin;
        // Wide subbands may hold more than one peak.
        const int tries = width >= 64 ? 3 : 1;
        for (int attempt = 0; attempt < tries && tonal.count < TonalBlock::kMaxComponents; ++attempt) {
            float energy = 0.0f;
            int peak = begin;
            for (int i = begin; i < begin + width; ++i) {
                energy += lines[i] * lines[i];
                if (std::fabs(lines[i]) > std::fabs(lines[peak])) peak = i;
            }
            // The four lines around the peak with the most energy.
            int start = std::max(0, peak - 2);
            float best = -1.0f;
            for (int st = std::max(0, peak - 2); st <= std::min(peak, kLinesPerChannel - 4); ++st) {
                float e = 0.0f;
                for (int v = 0; v < 4; ++v) e += lines[st + v] * lines[st + v];
                if (e > best) {
                    best = e;
                    start = st;
                }
            }
            float run = 0.0f;  // the run's energy inside this subband
            for (int v = 0; v < 4; ++v) {
                const int i = start + v;
                if (i >= begin && i < begin + width) run += lines[i] * lines[i];
            }
            const float rest_per_line = (energy - run) / static_cast<float>(width - 4);
            // A peak pays when it stands 12 dB per line above the rest and is
            // loud enough to matter.
            if (run < 4.0f * 16.0f * rest_per_line || run < 1e4f) break;
            const int block = start / 64;
            if (block_count[block] >= 7) break;
            float peak_value = 0.0f;
            for (int v = 0; v < 4; ++v) peak_value = std::max(peak_value, std::fabs(lines[start + v]));
            int sf = 0;
            while (sf < 63 && t.scale_factor[sf] < peak_value) ++sf;
            TonalComponent c;
            c.start = start;
            c.sf_index = static_cast<uint8_t>(sf);
            const float maxq = kMaxQuant[TonalBlock::kSelector];
            for (int v = 0; v < 4; ++v) {
                const int m = Quantize(lines[start + v], maxq / t.scale_factor[sf], 31);
                c.mantissas[v] = static_cast<int8_t>(m);
                lines[start + v] -= static_cast<float>(m) * t.scale_factor[sf] / maxq;
            }
            tonal.components[tonal.count++] = c;
            ++block_count[block];
        }
    }
    std::sort(tonal.components.begin(), tonal.components.begin() + tonal.count,
              [](const TonalComponent& a, const TonalComponent& b) { return a.start < b.start; });
    return tonal.count;
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
    WriteTonal(out);
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
