#include "medialib/codecs/atrac3/atrac3_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "medialib/codecs/atrac3/filter_bank.h"
#include "medialib/codecs/atrac3/gain_control.h"
#include "medialib/codecs/atrac3/psycho_model.h"
#include "medialib/codecs/atrac3/sound_unit.h"

namespace medialib::atrac3 {
namespace {

using BandSlots = std::array<std::array<float, kBandSamples>, kBands>;

constexpr float kShaping = 0.45f;

// Highest subband coded per mode: about 19.3 kHz at LP2, 16.5 kHz at 105k,
// 13.8 kHz at LP4, where the remaining bits serve the audible range better.
int MaxSubbands(Mode mode) {
    switch (mode) {
        case Mode::Lp2:
            return 31;
        case Mode::Kbps105:
            return 30;
        case Mode::Lp4:
            return 28;
    }
    return 28;
}

// Stereo mix of 3..8 channels in the WAVE default orders: per input channel
// its weight into left and right.
std::vector<std::array<float, 2>> DownmixWeights(int channels) {
    constexpr float c = 0.70710678f;
    using W = std::array<float, 2>;
    const W left{1, 0}, right{0, 1}, both{c, c}, lfe{0, 0}, left_s{c, 0}, right_s{0, c};
    std::vector<W> w;
    switch (channels) {
        case 3:  // FL FR FC
            w = {left, right, both};
            break;
        case 4:  // FL FR BL BR
            w = {left, right, left_s, right_s};
            break;
        case 5:  // FL FR FC BL BR
            w = {left, right, both, left_s, right_s};
            break;
        case 6:  // FL FR FC LFE BL BR
            w = {left, right, both, lfe, left_s, right_s};
            break;
        case 7:  // FL FR FC LFE BC SL SR
            w = {left, right, both, lfe, both, left_s, right_s};
            break;
        default:  // 8: FL FR FC LFE BL BR SL SR
            w = {left, right, both, lfe, left_s, right_s, left_s, right_s};
            break;
    }
    float sum = 0.0f;
    for (const W& x : w) sum += x[0];
    for (W& x : w) {
        x[0] /= sum;
        x[1] /= sum;
    }
    return w;
}

// Per coded channel: the analysis filter state and the previous band slots
// as they entered the MDCT (after gain modulation).
struct ChannelState {
    QmfAnalysis qmf;
    BandSlots previous{};
};

}  // namespace

int FrameBytes(Mode mode) {
    switch (mode) {
        case Mode::Lp2:
            return 384;
        case Mode::Kbps105:
            return 304;
        case Mode::Lp4:
            return 192;
    }
    return 384;
}

struct Encoder::Impl {
    Mode mode;
    EncoderOptions options;
    int input_channels;
    int frame_bytes;
    bool joint;
    bool mono;
    std::vector<std::array<float, 2>> downmix;
    Mdct mdct;
    PsychoModel psycho;
    std::array<ChannelState, 2> state;
    std::array<uint8_t, kBands> matrix{3, 3, 3, 3};  // joint stereo: selector per band
    // Coded-channel samples waiting for a whole frame (full scale 32768).
    std::array<std::array<float, 1024>, 2> pending{};
    int pending_count = 0;
    uint64_t input_samples = 0;
    uint64_t frames_written = 0;
    bool finished = false;
    // Scratch for one frame.
    std::array<std::array<float, kLinesPerChannel>, 2> lines{};
    std::array<UnitHeader, 2> headers{};
    std::array<UnitPlan, 2> plans{};
    // The same units with tonal components taken out of the spectrum.
    std::array<std::array<float, kLinesPerChannel>, 2> residual{};
    std::array<UnitHeader, 2> tonal_headers{};
    std::array<UnitPlan, 2> tonal_plans{};
    std::vector<uint8_t> side_bytes;

    Impl(Mode m, int channels, const EncoderOptions& o)
        : mode(m),
          options(o),
          input_channels(channels),
          frame_bytes(FrameBytes(m)),
          joint(m == Mode::Lp4 || channels == 1),
          mono(channels == 1) {
        if (channels > 2) downmix = DownmixWeights(channels);
        side_bytes.resize(static_cast<size_t>(frame_bytes));
    }

    void Push(float left, float right, std::vector<uint8_t>& out) {
        if (mono) {
            pending[0][pending_count] = left;
            pending[1][pending_count] = 0.0f;
        } else {
            pending[0][pending_count] = left;
            pending[1][pending_count] = right;
        }
        if (++pending_count == 1024) {
            EncodeFrame(out);
            pending_count = 0;
        }
    }

    template <typename Sample>
    void Take(const Sample* interleaved, size_t frames, float scale, std::vector<uint8_t>& out) {
        if (finished) throw std::logic_error("ATRAC3 encoder: input after Finish");
        for (size_t f = 0; f < frames; ++f) {
            const Sample* s = interleaved + f * static_cast<size_t>(input_channels);
            float left;
            float right;
            if (input_channels == 1) {
                left = right = Clean(s[0]) * scale;
            } else if (input_channels == 2) {
                left = Clean(s[0]) * scale;
                right = Clean(s[1]) * scale;
            } else {
                left = right = 0.0f;
                for (int c = 0; c < input_channels; ++c) {
                    const float v = Clean(s[c]) * scale;
                    left += downmix[c][0] * v;
                    right += downmix[c][1] * v;
                }
            }
            Push(left, right, out);
        }
        input_samples += frames;
    }

    static float Clean(int16_t v) { return static_cast<float>(v); }
    static float Clean(float v) {
        if (!std::isfinite(v)) return 0.0f;
        // Far beyond full scale the coefficients would leave the scale-factor range.
        return std::clamp(v, -1.9f, 1.9f);
    }

    // Joint stereo: the band signals of left and right (split separately, the
    // filters being linear) become the sum unit and, per band, the half
    // difference (matrix selector 3), or left or minus right alone when the
    // other side is 40 dB quieter (selectors 0 and 1), so the second unit
    // carries almost nothing and the quiet side gets none of the first
    // unit's noise. A selector is kept until the quiet side comes within
    // 30 dB again: FFmpeg crossfades the first 8 samples of a band whose
    // selector changes, so changes must be rare. (At 30 dB real music
    // switched often enough to lose 1 dB of NMR.)
    void MatrixBands(BandSlots& left, BandSlots& right) {
        for (int b = 0; b < kBands; ++b) {
            float el = 0.0f;
            float er = 0.0f;
            for (int i = 0; i < 256; ++i) {
                el += left[b][i] * left[b][i];
                er += right[b][i] * right[b][i];
            }
            uint8_t sel = matrix[b];
            if (!options.matrix_selectors) {
                sel = 3;
            } else if (sel == 3) {
                if (er < el * 1e-4f) {
                    sel = 1;
                } else if (el < er * 1e-4f) {
                    sel = 0;
                }
            } else if ((sel == 1 && er > el * 1e-3f) || (sel == 0 && el > er * 1e-3f)) {
                sel = 3;
            }
            matrix[b] = sel;
            for (int i = 0; i < 256; ++i) {
                const float l = left[b][i];
                const float r = right[b][i];
                left[b][i] = 0.5f * (l + r);
                right[b][i] = sel == 3 ? 0.5f * (l - r) : sel == 0 ? 0.5f * l : -0.5f * r;
            }
        }
    }

    // Gain control and MDCT of one coded channel's band slots.
    void Analyse(int channel, BandSlots& slots) {
        ChannelState& st = state[channel];
        UnitHeader& header = headers[channel];
        header = UnitHeader{};
        header.side_unit = joint && channel == 1;
        header.matrix = matrix;
        float window[512];
        float curve[256];
        for (int b = 0; b < kBands; ++b) {
            float* slot = slots[b].data();
            const float* previous = st.previous[b].data();
            float previous_peak = 0.0f;
            for (int i = 0; i < 256; ++i) previous_peak = std::max(previous_peak, std::fabs(previous[i]));
            BandGain gain;
            if (options.gain_control) gain = DetectAttack(slot, previous_peak);
            header.gain[b] = gain;
            if (gain.count > 0) {
                GainCurve(gain, curve);
                for (int i = 0; i < 256; ++i) slot[i] /= curve[i];
            }
            const float first = gain.count > 0 ? curve[0] : 1.0f;
            for (int i = 0; i < 256; ++i) window[i] = previous[i] / first;
            std::memcpy(window + 256, slot, sizeof(float) * 256);
            st.previous[b] = slots[b];
            float* out = lines[channel].data() + 256 * b;
            mdct.Forward(window, out);
            if (b & 1) std::reverse(out, out + 256);
        }
    }

    // Finds the largest noise offset at which the units fit `budget_bits`
    // (per unit, or shared when `shared`), then spends what is left on the
    // subbands whose noise is furthest above their threshold.
    void Allocate(std::array<UnitPlan*, 2> unit_plans, int units, bool shared, int budget_bits) {
        auto total = [&](int i) {
            return shared ? Bytes(unit_plans[0]->Bits()) * 8 + Bytes(unit_plans[1]->Bits()) * 8
                          : unit_plans[i]->Bits();
        };
        auto fits = [&](float factor, int i) {
            for (int u = 0; u < units; ++u) {
                if (!shared && u != i) continue;
                unit_plans[u]->ChooseForFactor(factor);
            }
            return total(i) <= budget_bits;
        };
        const int rounds = shared ? 1 : units;
        for (int r = 0; r < rounds; ++r) {
            // log2 of the factor: from far below (very fine) to far above (nothing coded).
            float lo = -24.0f;
            float hi = 40.0f;
            if (fits(std::exp2(lo), r)) {
                hi = lo;
            } else {
                for (int it = 0; it < 14; ++it) {
                    const float mid = 0.5f * (lo + hi);
                    if (fits(std::exp2(mid), r)) {
                        hi = mid;
                    } else {
                        lo = mid;
                    }
                }
            }
            fits(std::exp2(hi), r);
            // Subbands that even the finest quantiser leaves above the
            // allowed noise get their error refined by tonal components.
            for (int u = 0; u < units; ++u) {
                if (!shared && u != r) continue;
                const int others = shared ? Bytes(unit_plans[1 - u]->Bits()) * 8 : 0;
                unit_plans[u]->Refine(budget_bits - others, std::exp2(hi));
            }
            // Greedy refinement with the bits left.
            for (int step = 0; step < 256; ++step) {
                int best_unit = -1;
                int best_subband = 0;
                float best_ratio = 0.0f;
                for (int u = 0; u < units; ++u) {
                    if (!shared && u != r) continue;
                    const int left = budget_bits - total(r);
                    int subband;
                    int extra;
                    float ratio;
                    int slack = left;
                    if (shared) {
                        // Byte rounding of the other unit stays as it is.
                        const int own = Bytes(unit_plans[u]->Bits()) * 8 - unit_plans[u]->Bits();
                        slack = left + own;
                    }
                    if (unit_plans[u]->BestUpgrade(slack, &subband, &extra, &ratio) && ratio > best_ratio) {
                        best_ratio = ratio;
                        best_unit = u;
                        best_subband = subband;
                    }
                }
                if (best_unit < 0) break;
                unit_plans[best_unit]->Upgrade(best_subband);
            }
        }
    }

    static int Bytes(int bits) { return (bits + 7) / 8; }

    void EncodeFrame(std::vector<uint8_t>& out) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(frame_bytes), 0);
        uint8_t* frame = out.data() + at;
        const int units = mono ? 1 : 2;
        std::array<BandSlots, 2> slots;
        for (int c = 0; c < units; ++c) state[c].qmf.Split(pending[c].data(), slots[c]);
        if (joint && !mono) MatrixBands(slots[0], slots[1]);
        for (int c = 0; c < units; ++c) Analyse(c, slots[c]);

        std::array<std::array<float, kSubbands>, 2> allowed;
        if (joint && !mono) {
            // The noise of both units reaches each output channel: the
            // thresholds of left and right (rebuilt from the two spectra by
            // each band's matrix), the lower of the two, shared between the
            // units by what the matrix does to their noise: left = c1 + c2
            // for selector 3, left = 2 (c1 + c2) or right = 2 (c1 - c2) for 1 and 0.
            std::array<float, kLinesPerChannel> left, right;
            std::array<float, kSubbands> left_allowed, right_allowed;
            for (int i = 0; i < kLinesPerChannel; ++i) {
                const float c1 = lines[0][i];
                const float c2 = lines[1][i];
                switch (matrix[i / 256]) {
                    case 0:
                        left[i] = 2.0f * c2;
                        right[i] = 2.0f * (c1 - c2);
                        break;
                    case 1:
                        left[i] = 2.0f * (c1 + c2);
                        right[i] = -2.0f * c2;
                        break;
                    default:
                        left[i] = c1 + c2;
                        right[i] = c1 - c2;
                        break;
                }
            }
            psycho.Analyse(left.data(), left_allowed.data());
            psycho.Analyse(right.data(), right_allowed.data());
            for (int s = 0; s < kSubbands; ++s) {
                const float share = matrix[kSubbandStart[s] / 256] == 3 ? 0.5f : 0.125f;
                allowed[0][s] = allowed[1][s] = share * std::min(left_allowed[s], right_allowed[s]);
            }
        } else {
            for (int c = 0; c < units; ++c) psycho.Analyse(lines[c].data(), allowed[c].data());
        }
        // Damped noise shaping: the allowed noise density follows the
        // masking threshold's density to the power kShaping. Full shaping (1)
        // puts all noise under the mask in theory but costs 5-10 dB of SNR
        // on music, where the model's errors then become audible; half of it
        // keeps the noise well under the mask (NMR) at near-flat-noise SNR.
        for (int c = 0; c < units; ++c) {
            for (int s = 0; s < kSubbands; ++s) {
                const float w = static_cast<float>(kSubbandStart[s + 1] - kSubbandStart[s]);
                allowed[c][s] = w * std::pow(allowed[c][s] / w, kShaping);
            }
        }
        const int max_subbands = MaxSubbands(mode);
        std::array<bool, 2> has_tonal{false, false};
        for (int c = 0; c < units; ++c) {
            plans[c].Analyse(lines[c].data(), allowed[c].data(), max_subbands, headers[c]);
            residual[c] = lines[c];
            tonal_headers[c] = headers[c];
            has_tonal[c] = ExtractTonal(residual[c].data(), max_subbands, tonal_headers[c].tonal) > 0;
            if (has_tonal[c]) {
                tonal_plans[c].Analyse(residual[c].data(), allowed[c].data(), max_subbands, tonal_headers[c]);
            }
        }
        std::array<UnitPlan*, 2> chosen{&plans[0], &plans[1]};

        if (!joint) {
            const int half = frame_bytes / 2;
            Allocate(chosen, 2, false, half * 8);
            std::array<UnitPlan*, 2> tonal{&tonal_plans[0], &tonal_plans[1]};
            for (int c = 0; c < 2; ++c) {
                if (!has_tonal[c]) tonal[c] = chosen[c];
            }
            if (has_tonal[0] || has_tonal[1]) {
                Allocate(tonal, 2, false, half * 8);
                // Tonal components where they lower the noise against the mask.
                for (int c = 0; c < 2; ++c) {
                    if (has_tonal[c] && tonal[c]->NoiseToMask() < chosen[c]->NoiseToMask())
                        chosen[c] = tonal[c];
                }
            }
            for (int c = 0; c < 2; ++c) {
                BitWriter w(frame + c * half, static_cast<size_t>(half));
                chosen[c]->Write(w);
            }
        } else if (mono) {
            // Sum unit with the whole frame but the 5 bytes of an empty difference unit.
            std::fill(side_bytes.begin(), side_bytes.end(), 0);
            BitWriter side(side_bytes.data(), side_bytes.size());
            WriteEmptyUnit(side, true);
            const int side_size = Bytes(static_cast<int>(side.bits()));
            const int budget = (frame_bytes - side_size) * 8;
            Allocate(chosen, 1, false, budget);
            if (has_tonal[0]) {
                std::array<UnitPlan*, 2> tonal{&tonal_plans[0], &tonal_plans[1]};
                Allocate(tonal, 1, false, budget);
                if (tonal[0]->NoiseToMask() < chosen[0]->NoiseToMask()) chosen[0] = tonal[0];
            }
            BitWriter w(frame, static_cast<size_t>(frame_bytes - side_size));
            chosen[0]->Write(w);
            for (int i = 0; i < side_size; ++i) frame[frame_bytes - 1 - i] = side_bytes[i];
        } else {
            Allocate(chosen, 2, true, frame_bytes * 8);
            if (has_tonal[0] || has_tonal[1]) {
                std::array<UnitPlan*, 2> tonal{has_tonal[0] ? &tonal_plans[0] : &plans[0],
                                               has_tonal[1] ? &tonal_plans[1] : &plans[1]};
                const float plain = chosen[0]->NoiseToMask() + chosen[1]->NoiseToMask();
                Allocate(tonal, 2, true, frame_bytes * 8);
                if (tonal[0]->NoiseToMask() + tonal[1]->NoiseToMask() < plain) {
                    chosen = tonal;
                } else {
                    Allocate(chosen, 2, true, frame_bytes * 8);  // the plain plans were re-chosen above
                }
            }
            const int first = Bytes(chosen[0]->Bits());
            const int second = Bytes(chosen[1]->Bits());
            BitWriter w(frame, static_cast<size_t>(first));
            chosen[0]->Write(w);
            std::fill(side_bytes.begin(), side_bytes.end(), 0);
            BitWriter side(side_bytes.data(), static_cast<size_t>(second));
            chosen[1]->Write(side);
            // The second unit is stored back to front at the end of the frame.
            for (int i = 0; i < second; ++i) frame[frame_bytes - 1 - i] = side_bytes[i];
        }
        ++frames_written;
    }
};

Encoder::Encoder(Mode mode, int input_channels) : Encoder(mode, input_channels, EncoderOptions{}) {}

Encoder::Encoder(Mode mode, int input_channels, const EncoderOptions& options) {
    if (input_channels < 1 || input_channels > 8) {
        throw std::invalid_argument("ATRAC3 encoder: 1 to 8 input channels");
    }
    impl_ = std::make_unique<Impl>(mode, input_channels, options);
}

Encoder::~Encoder() = default;

int Encoder::frame_bytes() const { return impl_->frame_bytes; }
int Encoder::channels() const { return 2; }
bool Encoder::joint_stereo() const { return impl_->joint; }
int Encoder::delay_samples() const { return kDelaySamples; }
int Encoder::bytes_per_second() const {
    return static_cast<int>((44100LL * impl_->frame_bytes + kSamplesPerFrame - 1) / kSamplesPerFrame);
}
uint64_t Encoder::input_samples() const { return impl_->input_samples; }
uint64_t Encoder::frames_written() const { return impl_->frames_written; }

void Encoder::Encode(const int16_t* interleaved, size_t frames, std::vector<uint8_t>& out) {
    impl_->Take(interleaved, frames, 1.0f, out);
}

void Encoder::EncodeFloat(const float* interleaved, size_t frames, std::vector<uint8_t>& out) {
    impl_->Take(interleaved, frames, 32768.0f, out);
}

void Encoder::Finish(std::vector<uint8_t>& out) {
    Impl& im = *impl_;
    if (im.finished) return;
    im.finished = true;
    if (im.input_samples == 0) return;
    const uint64_t target = (im.input_samples + kDelaySamples + kSamplesPerFrame - 1) / kSamplesPerFrame;
    while (im.frames_written < target) im.Push(0.0f, 0.0f, out);
}

}  // namespace medialib::atrac3
