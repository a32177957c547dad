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
    // x[0..45] = history, x[46..] = new input; output m uses x up to 2m + 1.
    float x[46 + 1024];
    std::memcpy(x, history.data(), sizeof(float) * 46);
    std::memcpy(x + 46, input, sizeof(float) * count);
    const auto& h = GetTables().qmf;
    for (int m = 0; m < count / 2; ++m) {
        // Newest sample first: x[2m + 1 - k] of the formula is p[-k].
        const float* p = x + 46 + 2 * m + 1;
        float even = 0.0f;
        float odd = 0.0f;
        for (int k = 0; k < 48; k += 2) {
            even += h[k] * p[-k];
            odd += h[k + 1] * p[-k - 1];
        }
        low[m] = even + odd;
        high[m] = even - odd;
    }
    std::memcpy(history.data(), x + count, sizeof(float) * 46);
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
