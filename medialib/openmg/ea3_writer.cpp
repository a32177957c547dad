#include "medialib/openmg/ea3_writer.h"

#include "medialib/openmg/ea3_tag.h"

namespace medialib::openmg {

std::optional<std::vector<uint8_t>> RenderNewFileStart(const Ea3Header& header) {
    Ea3Header plain = header;
    plain.eid = kEidPlain;
    plain.content_id = {};
    auto out = RenderEa3Tag(AttributeSet{}, AllTagAttributeIds(), {});
    if (!out) return std::nullopt;
    const auto rendered = RenderEa3Header(plain);
    out->insert(out->end(), rendered.begin(), rendered.end());
    return out;
}

uint32_t Atrac3PlusParams(int32_t sample_rate, int32_t channels, uint32_t frame_size) {
    static constexpr int32_t kRates[5] = {32000, 44100, 48000, 88200, 96000};
    static constexpr int32_t kChannelIds[9] = {0, 1, 2, 3, 4, 0, 5, 6, 7};  // by channel count
    uint32_t index = 8;
    for (uint32_t i = 0; i < 5; ++i) {
        if (kRates[i] == sample_rate) index = i;
    }
    if (index == 8 || channels < 1 || channels > 8 || kChannelIds[channels] == 0) return 0;
    if (frame_size < 8 || frame_size % 8 != 0 || (frame_size - 8) / 8 > 0x3FF) return 0;
    return (index << 13) | (static_cast<uint32_t>(kChannelIds[channels]) << 10) | ((frame_size - 8) / 8);
}

}  // namespace medialib::openmg
