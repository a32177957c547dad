// One sound unit (the bitstream of one coded channel in one frame): the
// quantisation of its 1024 lines into 32 subbands, the choice of quantiser
// per subband against an allowed-noise curve and an exact bit budget, and
// the writing of the unit.
//
// Analyse() quantises every subband once with every selector and records the
// exact Huffman and constant-length sizes and the resulting noise, so the
// allocation search costs each choice exactly without quantising again.
// A plan's size is always exact: what Bits() reports is what Write() writes.
#pragma once

#include <array>
#include <cstdint>

#include "medialib/codecs/atrac3/bit_writer.h"
#include "medialib/codecs/atrac3/tables.h"

namespace medialib::atrac3 {

struct GainPoint {
    uint8_t level = 4;     // multiplier 2^(4 - level)
    uint8_t location = 0;  // sample 8 * location of the band's slot
};

struct BandGain {
    int count = 0;
    std::array<GainPoint, 7> points{};
};

// Tonal components: short runs of lines with their own scale factor, added by
// the decoder on top of the subband spectrum. This encoder sends one group:
// 4 values per component at selector 7.
struct TonalComponent {
    int start = 0;  // first line
    uint8_t sf_index = 0;
    std::array<int8_t, 4> mantissas{};
};

struct TonalBlock {
    static constexpr int kValues = 4;
    static constexpr int kSelector = 7;
    static constexpr int kMaxComponents = 64;
    int count = 0;
    std::array<TonalComponent, kMaxComponents> components{};  // ascending start
};

// Picks tonal components from `lines` (peaks that stand well above the rest
// of their subband), quantises them and subtracts what the decoder will add
// back, leaving the residual in `lines`. Returns the number taken.
int ExtractTonal(float* lines, int max_subbands, TonalBlock& tonal);

struct UnitHeader {
    bool side_unit = false;                     // joint-stereo second unit (matrix prefix, id 3)
    std::array<uint8_t, 4> matrix{3, 3, 3, 3};  // side unit only
    std::array<BandGain, kBands> gain{};
    TonalBlock tonal;
};

class UnitPlan {
  public:
    // `lines`: 1024 coefficients; `allowed`: noise energy allowed per subband
    // (0 or less: code as exactly as possible); subbands from `max_subbands`
    // on are never coded.
    void Analyse(const float* lines, const float* allowed, int max_subbands, const UnitHeader& header);

    // Picks for every subband the smallest selector whose noise is within
    // allowed * factor.
    void ChooseForFactor(float factor);

    // Exact size of the unit in bits with the current choice.
    int Bits() const;

    // The subband whose next finer quantiser would lower the worst noise-to-
    // allowed ratio, and the bits that step costs; false when nothing is left.
    bool BestUpgrade(int max_extra_bits, int* subband, int* extra_bits, float* ratio) const;
    void Upgrade(int subband);

    // For the subbands whose noise stays above allowed * factor even at the
    // finest quantiser (worst first), sends their quantisation error again
    // as tonal components on top, which the decoder adds, as long as the
    // unit stays within `budget_bits`. The plan stays exact.
    void Refine(int budget_bits, float factor);

    // Writes the unit; the writer must have room for Bits().
    void Write(BitWriter& out) const;

    int coded_subbands() const;  // nsub as sent
    int selector(int subband) const { return selector_[subband]; }
    bool uses_clc() const { return clc_total_ < vlc_total_; }
    // Noise energy of the current choice in one subband.
    float noise(int subband) const { return noise_[subband][selector_[subband]]; }
    // Sum over subbands of noise / allowed noise of the current choice.
    float NoiseToMask() const;

  private:
    int NextSelector(int subband) const;
    void Assign(int subband, int selector);
    int BitsWith(int subband, int selector) const;
    int FixedBits() const;
    int TonalBits();
    void WriteTonal(BitWriter& out) const;

    const float* lines_ = nullptr;
    UnitHeader header_;
    int max_subbands_ = kSubbands;
    int bands_coded_ = 1;
    int tonal_bits_ = 0;
    bool tonal_clc_ = false;
    std::array<float, kSubbands> allowed_{};
    std::array<uint8_t, kSubbands> sf_index_{};
    std::array<std::array<float, kSelectors>, kSubbands> noise_{};
    std::array<std::array<uint16_t, kSelectors>, kSubbands> vlc_bits_{};
    std::array<std::array<uint16_t, kSelectors>, kSubbands> clc_bits_{};
    std::array<uint8_t, kSubbands> selector_{};
    int vlc_total_ = 0;
    int clc_total_ = 0;
    int coded_count_ = 0;
    int last_coded_ = -1;
};

// Bits a subband count costs beyond the coded subbands themselves: FFmpeg's
// decoder drops the last subband when it starts a QMF band (0, 18, 26, 30),
// so such a count is padded with one uncoded subband.
int SentSubbandCount(int last_coded);

// The smallest valid unit: no gain, no tonal components, one uncoded subband.
void WriteEmptyUnit(BitWriter& out, bool side_unit);

}  // namespace medialib::atrac3
