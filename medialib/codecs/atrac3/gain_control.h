// Gain control against pre-echo. A band slot (256 samples of one QMF band)
// that holds an attack after a quiet stretch gets one gain point: the decoder
// multiplies the slot's samples before the attack by 2^(4 - level) < 1, so
// the encoder divides them by that gain before the MDCT; the quantisation
// noise that the MDCT spreads over the window is then scaled down with them.
//
// The point sent in frame F describes band samples 256F..256F+255, the new
// half of frame F's window. Those samples stay divided by the curve in the
// first half of frame F+1's window too, and the previous slot in frame F's
// window is divided by the curve's starting value.
#pragma once

#include "medialib/codecs/atrac3/sound_unit.h"

namespace medialib::atrac3 {

// Chooses the gain points of one slot: one before an attack (the quiet part
// before it is raised before the MDCT) and one before a release (a loud part
// followed by a tail at least 24 dB quieter is lowered before the MDCT, so
// the tail carries less of the window's noise). `previous_peak` is the largest
// magnitude of the previous slot as it entered the MDCT (it shares the window
// and is scaled with the quiet part).
BandGain DetectAttack(const float* slot, float previous_peak);

// The decoder's gain curve of `gain` over the 256 samples of its slot.
void GainCurve(const BandGain& gain, float* curve);

}  // namespace medialib::atrac3
