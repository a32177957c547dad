#include "medialib/convert/frame_encoder.h"

#include "library/media_ids.h"
#include "medialib/codecs/atrac3/atrac3_encoder.h"

namespace medialib::conversion {
namespace {

// The engine's ATRAC3 encoder behind the conversion seam.
class Atrac3FrameEncoder : public FrameEncoder {
  public:
    Atrac3FrameEncoder(atrac3::Mode mode, int input_channels) : encoder_(mode, input_channels) {}
    int frame_bytes() const override { return encoder_.frame_bytes(); }
    int samples_per_frame() const override { return atrac3::Encoder::kSamplesPerFrame; }
    int channels() const override { return encoder_.channels(); }
    bool joint_stereo() const override { return encoder_.joint_stereo(); }
    void Encode(const int16_t* interleaved, size_t frames, std::vector<uint8_t>& out) override {
        encoder_.Encode(interleaved, frames, out);
    }
    void Finish(std::vector<uint8_t>& out) override { encoder_.Finish(out); }

  private:
    atrac3::Encoder encoder_;
};

}  // namespace

std::unique_ptr<FrameEncoder> MakeFrameEncoder(int32_t codec_id, int32_t bit_rate, int input_channels) {
    if (codec_id != codec::Atrac3 || input_channels < 1 || input_channels > 8) return nullptr;
    switch (bit_rate) {
        case 0:
        case 132000:
            return std::make_unique<Atrac3FrameEncoder>(atrac3::Mode::Lp2, input_channels);
        case 105000:
            return std::make_unique<Atrac3FrameEncoder>(atrac3::Mode::Kbps105, input_channels);
        case 66000:
            return std::make_unique<Atrac3FrameEncoder>(atrac3::Mode::Lp4, input_channels);
        default:
            return nullptr;
    }
}

}  // namespace medialib::conversion
