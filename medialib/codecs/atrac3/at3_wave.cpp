#include "medialib/codecs/atrac3/at3_wave.h"

#include <algorithm>
#include <cstring>

namespace medialib::atrac3 {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

constexpr uint32_t kFormatAtrac3 = 0x0270;
// Sony's decoders skip this many samples beyond the fact chunk's delay.
constexpr int kImplicitSkip = 69;

}  // namespace

std::vector<uint8_t> MakeAt3Wave(const At3WaveInfo& info, const std::vector<uint8_t>& frames) {
    std::vector<uint8_t> out;
    out.reserve(68);
    const uint32_t data_size = static_cast<uint32_t>(frames.size());
    const uint32_t riff_size = 4 + (8 + 32) + (8 + 8) + (8 + data_size) + (data_size & 1);
    PutTag(out, "RIFF");
    Put32(out, riff_size);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, 32);
    Put16(out, kFormatAtrac3);
    Put16(out, 2);
    Put32(out, 44100);
    Put32(out, static_cast<uint32_t>((44100LL * info.frame_bytes + 1023) / 1024));
    Put16(out, static_cast<uint32_t>(info.frame_bytes));
    Put16(out, 0);   // bits per sample
    Put16(out, 14);  // extension size
    Put16(out, 1);
    Put32(out, 0x1000);  // bytes of one decoded frame: 1024 samples x 2 channels x 2 bytes
    Put16(out, info.joint_stereo ? 1 : 0);
    Put16(out, info.joint_stereo ? 1 : 0);
    Put16(out, 1);  // frame factor
    Put16(out, 0);
    PutTag(out, "fact");
    Put32(out, 8);
    Put32(out, static_cast<uint32_t>(std::min<uint64_t>(info.source_samples, 0xFFFFFFFFu)));
    Put32(out, static_cast<uint32_t>(std::max(0, info.delay_samples - kImplicitSkip)));
    PutTag(out, "data");
    Put32(out, data_size);
    // Sized once and copied: growing the vector by insert trips GCC 12's
    // false -Wstringop-overflow in optimised builds.
    const size_t header = out.size();
    out.resize(header + frames.size() + (data_size & 1), 0);
    if (!frames.empty()) std::memcpy(out.data() + header, frames.data(), frames.size());
    return out;
}

}  // namespace medialib::atrac3
