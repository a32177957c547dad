// Analysis filter bank of one channel: a two-stage tree of 48-tap QMF splits
// (1024 samples -> four bands of 256) and the per-band windowed MDCT whose
// output the decoder's IMDCT, window and overlap-add invert.
//
// The tree keeps the last 46 input samples of each split, so a channel's
// frames must pass through one QmfAnalysis in order. The MDCT wraps
// libavutil's transform; it is created once per encoder and holds scratch
// space, so one Mdct serves one thread.
#pragma once

#include <array>
#include <memory>

#include "medialib/codecs/atrac3/tables.h"

namespace medialib::atrac3 {

class QmfAnalysis {
  public:
    // Splits 1024 samples into bands[0..3][0..255] (band 0 lowest; bands 1 and
    // 3 are spectrally inverted, as the decoder expects).
    void Split(const float* input, std::array<std::array<float, kBandSamples>, kBands>& bands);

  private:
    // One split of `count` new samples at rate r into `count / 2` samples of
    // each half band. `history` holds the previous 46 input samples.
    static void SplitStage(const float* input, int count, std::array<float, 46>& history, float* low,
                           float* high);

    std::array<float, 46> history_top_{};
    std::array<float, 46> history_low_{};
    std::array<float, 46> history_high_{};
};

class Mdct {
  public:
    Mdct();
    ~Mdct();
    Mdct(const Mdct&) = delete;
    Mdct& operator=(const Mdct&) = delete;

    // 512 window samples (already gain-modulated, not yet windowed) to 256
    // lines: X[k] = 1/512 * sum a[n] t[n] cos(pi/256 (n + 128.5)(k + 0.5)).
    void Forward(const float* samples, float* lines);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace medialib::atrac3
