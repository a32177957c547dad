#include "plugin/tags/info_reader.h"

#include <cstdint>
#include <optional>

#include "host/sdk/exceptions.h"
#include "library/attribute_read.h"
#include "library/media_ids.h"
#include "platform/text/text.h"
#include "plugin/tags/side_tags.h"

namespace attr = medialib::attr;
namespace container = medialib::container;
namespace codec = medialib::codec;

namespace corvina {
namespace {

// File types for which a missing library value keeps the side tag's value:
// their formats cannot hold the attribute.
enum KeepOn : unsigned { kKeepNone = 0, kKeepKdr = 1, kKeepOmg = 2, kKeep3gp = 4 };

struct MetaRow {
    const char* field;
    ULONG id;
    ULONG fallback_id;  // 0: none
    unsigned keep_on;
};

// Read in this order; "lyrics" and "comment" come after the technical fields.
constexpr MetaRow kMetaRows[] = {
    {"title", attr::Title, 0, kKeepNone},
    {"title sort", attr::SortTitle, 0, kKeepNone},
    {"subtitle", attr::Subtitle, 0, kKeepKdr | kKeep3gp},
    {"subtitle sort", attr::SortSubtitle, 0, kKeepKdr | kKeep3gp},
    {"artist", attr::Artist, 0, kKeepNone},
    {"artist sort", attr::SortArtist, 0, kKeepNone},
    {"wwwartist", attr::ArtistURL, 0, kKeepKdr},
    {"album", attr::Album, attr::AlbumAlt, kKeepNone},
    {"album sort", attr::SortAlbum, 0, kKeepOmg},
    {"album artist", attr::AlbumArtist, 0, kKeepKdr},
    {"album artist sort", attr::SortAlbumArtist, 0, kKeepKdr},
    {"genre", attr::Genre, 0, kKeepNone},
    {"composer", attr::Composer, 0, kKeepKdr},
    {"lyricist", attr::Lyricist, 0, kKeepKdr},
    {"tracknumber", attr::TrackNumber, attr::TrackNumberAlt, kKeepNone},
    {"totaltracks", attr::TotalTracks, 0, kKeepOmg},
    {"date", attr::Release, attr::ReleaseYear, kKeepKdr},
    {"added", attr::Import, 0, kKeepOmg | kKeep3gp},
};
constexpr MetaRow kTextRows[] = {
    {"lyrics", attr::LyricsText, 0, kKeepOmg | kKeepKdr | kKeep3gp},
    {"comment", attr::LinerNotesText, 0, kKeepOmg | kKeepKdr | kKeep3gp},
};

struct ContainerName {
    LONG number;
    const char* format;
};
constexpr ContainerName kContainers[] = {
    {container::Omg, "OMG"},     {container::ProtectedOma, "OMA(Protected)"},
    {container::Oma, "OMA"},     {container::Kdr, "KDR"},
    {container::Mp3, "MP3"},     {container::Wav, "WAV"},
    {container::ThreeGp, "3GP"}, {container::Wma, "WMA"},
};

struct CodecName {
    LONG number;
    const char* codec;
    const char* encoding;
};
constexpr CodecName kCodecs[] = {
    {codec::Mp3, "MP3", "lossy"},
    {codec::Pcm, "PCM", "lossless"},
    {codec::AacLc, "AAC-LC", "lossy"},
    {codec::Mpeg, "MP3", "lossy"},
    {codec::Wma, "WMA", "lossy"},
    {codec::Atrac3, "ATRAC3", "lossy"},
    {codec::Atrac3Plus, "ATRAC3plus", "lossy"},
    {codec::WmaLossless, "WMA Lossless", "lossless"},
    {codec::AalAtrac3, "AAL(ATRAC3)", "hybrid"},
    {codec::AalAtrac3Plus, "AAL(ATRAC3plus)", "hybrid"},
    {codec::HeAac, "HE-AAC", "lossy"},
    {codec::WmaPro, "WMA Pro", "lossy"},
};

unsigned KeepMaskOf(const std::string& extension) {
    if (extension == ".kdr") return kKeepKdr;
    if (extension == ".omg") return kKeepOmg;
    if (extension == ".3gp") return kKeep3gp;
    return kKeepNone;
}

std::optional<LONG> ReadNumber(MediaItem* item, ULONG id, ULONG fallback_id, platform::VariantArray& values) {
    if (!library::ReadAttribute(item, id, fallback_id, values) || !library::FirstAs(values, VT_I4))
        return std::nullopt;
    return values.First()->lVal;
}

std::optional<double> ReadReal(MediaItem* item, ULONG id, platform::VariantArray& values) {
    if (!library::ReadAttribute(item, id, 0, values) || !library::FirstAs(values, VT_R8)) return std::nullopt;
    return values.First()->dblVal;
}

void ReadMetaRow(const MetaRow& row, MediaItem* item, unsigned keep_mask, platform::VariantArray& values,
                 file_info& info) {
    std::optional<std::u16string> text;
    if (library::ReadAttribute(item, row.id, row.fallback_id, values)) text = library::FirstAsText(values);
    if (text) {
        info.meta_set(row.field, platform::Utf16ToUtf8(*text).c_str());
    } else if ((row.keep_on & keep_mask) == 0) {
        info.meta_remove_field(row.field);
    }
}

void ReadLength(MediaItem* item, platform::VariantArray& values, file_info& info) {
    // "> 0" is false for NaN, so a NaN length is ignored like a missing one.
    if (const std::optional<double> ms = ReadReal(item, attr::MilliSecond, values); ms && *ms > 0) {
        info.set_length(*ms / 1000.0);
        return;
    }
    if (const std::optional<double> seconds = ReadReal(item, attr::Duration, values); seconds && *seconds > 0)
        info.set_length(*seconds);
}

void ReadTechnical(MediaItem* item, platform::VariantArray& values, file_info& info) {
    if (const std::optional<LONG> format = ReadNumber(item, attr::Format, 0, values); format && *format > 0) {
        for (const ContainerName& c : kContainers) {
            if (c.number == *format) info.info_set("format", c.format);
        }
    }
    if (const std::optional<LONG> codec = ReadNumber(item, attr::Codec, 0, values); codec && *codec >= 0) {
        for (const CodecName& c : kCodecs) {
            if (c.number != *codec) continue;
            info.info_set("codec", c.codec);
            info.info_set("encoding", c.encoding);
        }
    }
    if (const std::optional<LONG> bits = ReadNumber(item, attr::BitRate, attr::BitRateAlt, values);
        bits && *bits > 0)
        info.info_set_bitrate(*bits / 1000);
    struct IntField {
        const char* name;
        ULONG id;
        ULONG fallback_id;
    };
    constexpr IntField kIntFields[] = {
        {"samplerate", attr::Frequency, 0},
        {"bitspersample", attr::BitDepth, attr::BitDepthAlt},
        {"channels", attr::Channel, 0},
    };
    for (const IntField& field : kIntFields) {
        const std::optional<LONG> value = ReadNumber(item, field.id, field.fallback_id, values);
        if (value && *value > 0) info.info_set_int(field.name, *value);
    }
}

}  // namespace

std::string LowerExtension(const char* host_path) {
    const std::string_view path = host_path ? host_path : "";
    const size_t name_start = path.find_last_of("/\\");
    const std::string_view name = name_start == std::string_view::npos ? path : path.substr(name_start + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension(name.substr(dot));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

void ReadInfo(const InputFile& file, const SideTagSettings& settings, file_info& info,
              abort_callback& abort) {
    MediaItem* item = file.item;
    if (!file.library_path || !item || FAILED(item->Load(file.library_path, kMediaItemRead)))
        throw exception_io();
    // Reading changes nothing in the file, so the item is closed on every way out.
    try {
        LoadSideTags(info, file.host_path, file.key_path, settings, abort);

        const unsigned keep_mask = KeepMaskOf(LowerExtension(file.host_path));
        platform::VariantArray values;
        for (const MetaRow& row : kMetaRows) ReadMetaRow(row, item, keep_mask, values, info);
        ReadLength(item, values, info);
        ReadTechnical(item, values, info);
        for (const MetaRow& row : kTextRows) ReadMetaRow(row, item, keep_mask, values, info);
    } catch (...) {
        item->Close();
        throw;
    }
    item->Close();
}

}  // namespace corvina
