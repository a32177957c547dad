// Psychoacoustic model on the 1024-line spectrum of one coded channel: the
// energy of each of the 32 subbands, its tonality from the spectral flatness
// of its lines, the masking threshold as the Bark-domain spread of every
// subband's energy (Schroeder's spreading function) lowered by a tonal or
// noise-like masking offset, and the absolute threshold of hearing
// (Terhardt's approximation, capped at high frequencies). The result is the
// noise energy each subband may carry unheard.
//
// The spreading weights and the hearing threshold per subband are computed
// once at construction; Analyse() is pure over its input.
#pragma once

#include <array>

#include "medialib/codecs/atrac3/tables.h"

namespace medialib::atrac3 {

class PsychoModel {
  public:
    PsychoModel();

    // `lines`: 1024 coefficients; `allowed`: per subband, the noise energy
    // (sum over its lines) that stays below the masking threshold.
    void Analyse(const float* lines, float* allowed) const;

  private:
    std::array<std::array<float, kSubbands>, kSubbands> spread_{};  // [maskee][masker], normalised
    std::array<float, kSubbands> hearing_{};                        // per subband, energy per line
    std::array<float, kSubbands> bark_{};
};

}  // namespace medialib::atrac3
