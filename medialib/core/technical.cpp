#include "medialib/core/technical.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "library/media_ids.h"
#include "medialib/core/text_utf.h"

namespace medialib {
namespace {

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

void Put(AttributeSet& attrs, uint32_t id, Value v) { attrs[id] = ValueList{std::move(v)}; }

}  // namespace

int32_t CodecNumber(const StreamInfo& info) {
    switch (info.codec) {
        case AudioCodec::Pcm:
            return codec::Pcm;
        case AudioCodec::Mp3:
            return codec::Mp3;
        case AudioCodec::MpegLayer12:
            return codec::Mpeg;
        case AudioCodec::Aac:
            return info.he_aac ? codec::HeAac : codec::AacLc;
        case AudioCodec::Atrac3:
            return codec::Atrac3;
        case AudioCodec::Atrac3Plus:
            return codec::Atrac3Plus;
        case AudioCodec::Atrac3Al:
            return codec::AalAtrac3;
        case AudioCodec::Atrac3PlusAl:
            return codec::AalAtrac3Plus;
        case AudioCodec::Unknown:
            break;
    }
    return -1;
}

void AddTechnicalAttributes(AttributeSet& attrs, const StreamInfo& info, int32_t container, int32_t codec,
                            uint64_t file_size, const std::filesystem::path& path) {
    if (info.duration_ms > 0) {
        Put(attrs, attr::MilliSecond, Clamp32(info.duration_ms));
        Put(attrs, attr::Duration, Clamp32((info.duration_ms + 500) / 1000));
    }
    Put(attrs, attr::Format, container);
    if (codec >= 0) Put(attrs, attr::Codec, codec);
    int64_t bit_rate = info.bit_rate;
    if (bit_rate <= 0 && info.duration_ms > 0)
        bit_rate = static_cast<int64_t>(file_size) * 8000 / info.duration_ms;
    if (bit_rate > 0) {
        Put(attrs, attr::BitRate, Clamp32(bit_rate));
        Put(attrs, attr::BitRateAlt, Clamp32(bit_rate));
    }
    Put(attrs, attr::Size, Clamp32(static_cast<int64_t>(std::min<uint64_t>(file_size, INT64_MAX))));
    if (info.sample_rate > 0) Put(attrs, attr::Frequency, info.sample_rate);
    if (info.bits_per_sample > 0) {
        Put(attrs, attr::BitDepth, info.bits_per_sample);
        Put(attrs, attr::BitDepthAlt, info.bits_per_sample);
    }
    if (info.channels > 0) Put(attrs, attr::Channel, info.channels);
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::path full = std::filesystem::absolute(path, ec);
        if (ec) full = path;
        Put(attrs, attr::Location, Utf8ToUtf16(full.lexically_normal().string()));
        const std::string ext = path.extension().string();
        if (!ext.empty()) Put(attrs, attr::Extension, Utf8ToUtf16(ext));
    }
}

bool IsTechnicalAttribute(uint32_t id) {
    switch (id) {
        case attr::Duration:
        case attr::MilliSecond:
        case attr::Format:
        case attr::Codec:
        case attr::BitRate:
        case attr::BitRateAlt:
        case attr::Size:
        case attr::Frequency:
        case attr::BitDepth:
        case attr::BitDepthAlt:
        case attr::Channel:
        case attr::Location:
        case attr::Extension:
            return true;
        default:
            return false;
    }
}

const std::set<uint32_t>& AllTagAttributes() {
    static const std::set<uint32_t> kAll = {attr::Title,
                                            attr::SortTitle,
                                            attr::Subtitle,
                                            attr::SortSubtitle,
                                            attr::Artist,
                                            attr::SortArtist,
                                            attr::ArtistURL,
                                            attr::Album,
                                            attr::AlbumAlt,
                                            attr::SortAlbum,
                                            attr::AlbumArtist,
                                            attr::SortAlbumArtist,
                                            attr::Genre,
                                            attr::Composer,
                                            attr::Lyricist,
                                            attr::TrackNumber,
                                            attr::TrackNumberAlt,
                                            attr::TotalTracks,
                                            attr::ReleaseYear,
                                            attr::Release,
                                            attr::Import,
                                            attr::LyricsText,
                                            attr::LinerNotesText,
                                            attr::LyricsPicture,
                                            attr::LinerNotesPicture,
                                            attr::Jacket,
                                            attr::JacketAlt};
    return kAll;
}

std::string SniffImageMime(const uint8_t* d, size_t n) {
    if (!d) return {};
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return "image/png";
    if (n >= 6 && std::memcmp(d, "GIF8", 4) == 0) return "image/gif";
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return "image/jpeg";
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return "image/bmp";
    if (n >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0)) return "image/tiff";
    return {};
}

}  // namespace medialib
