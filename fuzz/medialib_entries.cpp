// Entries over the media engine. Every one reads through a MemorySource, the
// ByteSource that the engine's file reads share with it.
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/entries.h"
#include "fuzz/open_entry.h"
#include "medialib/codecs/atrac3/atrac3_encoder.h"
#include "medialib/ffmpeg/decoder.h"
#include "medialib/mp4/asset_boxes.h"
#include "medialib/mp4/mp4_file.h"
#include "medialib/mpeg/mp3_file.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_tag.h"
#include "medialib/openmg/openmg_package.h"
#include "medialib/riff/wav_file.h"

namespace cqfuzz {
namespace {

using namespace medialib;

// Visits every attribute value as a reader of the opened file would.
int Visit(const std::unique_ptr<OpenedFile>& f) {
    if (!f) return 0;
    size_t values = 0;
    for (const auto& [id, list] : f->Attributes()) values += list.size() + (f->CanStore(id) ? 1 : 0);
    (void)f->Container();
    (void)f->Codec();
    (void)f->Decodable();
    return 1 + (values > 0 ? 1 : 0);
}

}  // namespace

int Open(const uint8_t* data, size_t size) { return OpenEverything(data, size); }

int Ea3Tag(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    int got = openmg::Ea3TagTotalSize(bytes.first(std::min<size_t>(size, openmg::kTagHeaderSize))) ? 1 : 0;
    const std::vector<openmg::TagFrame> frames = openmg::SplitEa3Tag(bytes);
    if (frames.empty()) return got;
    AttributeSet attributes;
    std::vector<bool> owned;
    openmg::ReadTagAttributes(frames, openmg::AllTagAttributeIds(), attributes, owned);
    // Writing back what was read: the owned frames rendered anew, the others
    // verbatim, as a tag save does; the result must read again.
    std::vector<openmg::TagFrame> kept;
    for (size_t i = 0; i < frames.size() && i < owned.size(); ++i)
        if (!owned[i]) kept.push_back(frames[i]);
    const auto rendered = openmg::RenderEa3Tag(attributes, openmg::AllTagAttributeIds(), kept);
    if (!rendered) return got + 2;
    AttributeSet again;
    std::vector<bool> owned_again;
    openmg::ReadTagAttributes(openmg::SplitEa3Tag(*rendered), openmg::AllTagAttributeIds(), again,
                              owned_again);
    return got + 4;
}

int Ea3Header(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const std::optional<openmg::Ea3Header> header = openmg::ParseEa3Header(bytes);
    if (!header) return 0;
    (void)openmg::RenderEa3Header(*header);
    auto src = MemorySource(bytes);
    const auto stream = openmg::DescribeStream(*src, openmg::kEa3HeaderSize, *header);
    return stream ? 2 : 1;
}

int OmgPackage(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const bool looks = openmg::LooksLikeOpenMgPackage(bytes);
    auto src = MemorySource(bytes);
    const auto info = openmg::ParseOpenMgPackage(*src);
    return (looks ? 1 : 0) + (info ? 2 : 0);
}

int Mp4Boxes(const uint8_t* data, size_t size) {
    auto src = MemorySource(std::span<const uint8_t>(data, size));
    const std::vector<AssetBox> boxes = ReadAssetBoxes(*src);
    AttributeSet attributes;
    AddAssetAttributes(boxes, attributes);
    return (boxes.empty() ? 0 : 1) + Visit(OpenMp4(*src, "fuzz.3gp")) * 2;
}

int Riff(const uint8_t* data, size_t size) {
    auto src = MemorySource(std::span<const uint8_t>(data, size));
    return Visit(OpenWav(*src, "fuzz.wav"));
}

int Mpeg(const uint8_t* data, size_t size) {
    auto src = MemorySource(std::span<const uint8_t>(data, size));
    const int opened = Visit(OpenMp3(*src, "fuzz.mp3"));
    if (opened) (void)ff::DecodeAll(*src, 8192);
    return opened;
}

int Atrac3Encode(const uint8_t* data, size_t size) {
    using medialib::atrac3::Encoder;
    using medialib::atrac3::Mode;
    if (size < 1) return 0;
    const uint8_t control = data[0];
    const Mode modes[3] = {Mode::Lp2, Mode::Kbps105, Mode::Lp4};
    const int channels = 1 + (control >> 2) % 8;
    const size_t chunk = 1 + (control >> 5) * 157;
    Encoder encoder(modes[(control & 3) % 3], channels);
    std::vector<int16_t> pcm((size - 1) / 2);
    if (!pcm.empty()) std::memcpy(pcm.data(), data + 1, pcm.size() * 2);
    const size_t frames = pcm.size() / static_cast<size_t>(channels);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < frames; at += chunk) {
        const size_t n = frames - at < chunk ? frames - at : chunk;
        encoder.Encode(pcm.data() + at * channels, n, out);
    }
    encoder.Finish(out);
    const size_t expected = frames == 0 ? 0 : (frames + Encoder::kDelaySamples + 1023) / 1024;
    if (out.size() != expected * static_cast<size_t>(encoder.frame_bytes())) std::abort();
    return static_cast<int>(expected > 0);
}

}  // namespace cqfuzz
