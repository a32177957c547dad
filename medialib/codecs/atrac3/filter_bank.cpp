#include "medialib/codecs/atrac3/filter_bank.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

namespace medialib::atrac3 {

void QmfAnalysis::SplitStage(const float* input, int count, std::array<float, 46>& history, float* low,
                             float* high) {
    // x = history (46 samples) then the new input; output m uses x[2m+47-k]
    // for taps k = 0..47. Split into odd and even samples, even taps read
    // odd[m + 23 - j] and odd taps even[m + 23 - j]: two contiguous sums that
    // the compiler vectorises over m.
    const int half = count / 2;
    float odd[23 + 512];
    float even[23 + 512];
    for (int i = 0; i < 23; ++i) {
        even[i] = history[2 * i];
        odd[i] = history[2 * i + 1];
    }
    for (int i = 0; i < half; ++i) {
        even[23 + i] = input[2 * i];
        odd[23 + i] = input[2 * i + 1];
    }
    const auto& h = GetTables().qmf;
    float sum_even[512] = {};
    float sum_odd[512] = {};
    for (int j = 0; j < 24; ++j) {
        const float he = h[2 * j];
        const float ho = h[2 * j + 1];
        const float* xo = odd + 23 - j;
        const float* xe = even + 23 - j;
        for (int m = 0; m < half; ++m) {
            sum_even[m] += he * xo[m];
            sum_odd[m] += ho * xe[m];
        }
    }
    for (int m = 0; m < half; ++m) {
        low[m] = sum_even[m] + sum_odd[m];
        high[m] = sum_even[m] - sum_odd[m];
    }
    std::memcpy(history.data(), input + count - 46, sizeof(float) * 46);
}

void QmfAnalysis::Split(const float* input, std::array<std::array<float, kBandSamples>, kBands>& bands) {
    float low[512];
    float high[512];
    SplitStage(input, 1024, history_top_, low, high);
    SplitStage(low, 512, history_low_, bands[0].data(), bands[1].data());
    // The upper half's low output is band 3 and its high output band 2.
    SplitStage(high, 512, history_high_, bands[3].data(), bands[2].data());
}

struct Mdct::Impl {
    AVTXContext* context = nullptr;
    av_tx_fn transform = nullptr;
    float* input = nullptr;
    float* output = nullptr;
};

Mdct::Mdct() : impl_(std::make_unique<Impl>()) {
    // libavutil's forward MDCT is the cosine sum above; the scale is the
    // analysis factor 1/512 (which includes the QMF tree's gain of 4).
    const float scale = 1.0f / 512.0f;
    if (av_tx_init(&impl_->context, &impl_->transform, AV_TX_FLOAT_MDCT, 0, kBandSamples, &scale, 0) < 0) {
        throw std::runtime_error("ATRAC3: cannot create the MDCT");
    }
    impl_->input = static_cast<float*>(av_malloc(sizeof(float) * 512));
    impl_->output = static_cast<float*>(av_malloc(sizeof(float) * 256));
    if (!impl_->input || !impl_->output) {
        av_free(impl_->input);
        av_free(impl_->output);
        av_tx_uninit(&impl_->context);
        throw std::bad_alloc();
    }
}

Mdct::~Mdct() {
    av_free(impl_->input);
    av_free(impl_->output);
    av_tx_uninit(&impl_->context);
}

void Mdct::Forward(const float* samples, float* lines) {
    const auto& a = GetTables().analysis_window;
    for (int n = 0; n < 512; ++n) impl_->input[n] = samples[n] * a[n];
    impl_->transform(impl_->context, impl_->output, impl_->input, sizeof(float));
    std::memcpy(lines, impl_->output, sizeof(float) * 256);
}

}  // namespace medialib::atrac3
