#include "plugin/tags/info_reader.h"

#include <cstdint>
#include <optional>

#include "host/sdk/exceptions.h"
#include "library/attribute_read.h"
#include "platform/text/text.h"
#include "plugin/tags/side_tags.h"

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
    {"title", 0x1207, 0, kKeepNone},
    {"title sort", 0x1607, 0, kKeepNone},
    {"subtitle", 0x1230, 0, kKeepKdr | kKeep3gp},
    {"subtitle sort", 0x1630, 0, kKeepKdr | kKeep3gp},
    {"artist", 0x1210, 0, kKeepNone},
    {"artist sort", 0x1610, 0, kKeepNone},
    {"wwwartist", 0x1510, 0, kKeepKdr},
    {"album", 0x120C, 0x0207, kKeepNone},
    {"album sort", 0x160C, 0, kKeepOmg},
    {"album artist", 0x0210, 0, kKeepKdr},
    {"album artist sort", 0x0251, 0, kKeepKdr},
    {"genre", 0x1208, 0, kKeepNone},
    {"composer", 0x1213, 0, kKeepKdr},
    {"lyricist", 0x1212, 0, kKeepKdr},
    {"tracknumber", 0x1105, 0x110F, kKeepNone},
    {"totaltracks", 0x112D, 0, kKeepOmg},
    {"date", 0x1400, 0x1236, kKeepKdr},
    {"added", 0x1404, 0, kKeepOmg | kKeep3gp},
};
constexpr MetaRow kTextRows[] = {
    {"lyrics", 0x122C, 0, kKeepOmg | kKeepKdr | kKeep3gp},
    {"comment", 0x122D, 0, kKeepOmg | kKeepKdr | kKeep3gp},
};

constexpr ULONG kMilliSecond = 0x111A;
constexpr ULONG kDuration = 0x1100;
constexpr ULONG kFormat = 0x1101;
constexpr ULONG kCodec = 0x1102;
constexpr ULONG kBitRate = 0x1103;
constexpr ULONG kBitRateAlt = 0x1129;
constexpr ULONG kFrequency = 0x1110;
constexpr ULONG kBitDepth = 0x1112;
constexpr ULONG kBitDepthAlt = 0x111C;
constexpr ULONG kChannel = 0x110C;

struct ContainerName {
    LONG number;
    const char* format;
};
constexpr ContainerName kContainers[] = {
    {1, "OMG"},      {6, "OMA(Protected)"}, {9, "OMA"},      {10, "KDR"},
    {0x1001, "MP3"}, {0x1002, "WAV"},       {0x1004, "3GP"}, {0x2001, "WMA"},
};

struct CodecName {
    LONG number;
    const char* codec;
    const char* encoding;
};
constexpr CodecName kCodecs[] = {
    {0, "MP3", "lossy"},           {1, "PCM", "lossless"},
    {2, "AAC-LC", "lossy"},        {8, "MP3", "lossy"},
    {14, "WMA", "lossy"},          {16, "ATRAC3", "lossy"},
    {18, "ATRAC3plus", "lossy"},   {19, "WMA Lossless", "lossless"},
    {22, "AAL(ATRAC3)", "hybrid"}, {23, "AAL(ATRAC3plus)", "hybrid"},
    {24, "HE-AAC", "lossy"},       {28, "WMA Pro", "lossy"},
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
    if (const std::optional<double> ms = ReadReal(item, kMilliSecond, values); ms && *ms > 0) {
        info.set_length(*ms / 1000.0);
        return;
    }
    if (const std::optional<double> seconds = ReadReal(item, kDuration, values); seconds && *seconds > 0)
        info.set_length(*seconds);
}

void ReadTechnical(MediaItem* item, platform::VariantArray& values, file_info& info) {
    if (const std::optional<LONG> format = ReadNumber(item, kFormat, 0, values); format && *format > 0) {
        for (const ContainerName& c : kContainers) {
            if (c.number == *format) info.info_set("format", c.format);
        }
    }
    if (const std::optional<LONG> codec = ReadNumber(item, kCodec, 0, values); codec && *codec >= 0) {
        for (const CodecName& c : kCodecs) {
            if (c.number != *codec) continue;
            info.info_set("codec", c.codec);
            info.info_set("encoding", c.encoding);
        }
    }
    if (const std::optional<LONG> bits = ReadNumber(item, kBitRate, kBitRateAlt, values); bits && *bits > 0)
        info.info_set_bitrate(*bits / 1000);
    struct IntField {
        const char* name;
        ULONG id;
        ULONG fallback_id;
    };
    constexpr IntField kIntFields[] = {
        {"samplerate", kFrequency, 0},
        {"bitspersample", kBitDepth, kBitDepthAlt},
        {"channels", kChannel, 0},
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
