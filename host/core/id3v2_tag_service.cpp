#include "host/core/id3v2_tag_service.h"

#include <taglib/commentsframe.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/sdk/text.h"

namespace playhost {
namespace {

using TagLib::ByteVector;
using TagLib::String;
using TagLib::StringList;

// Field names with a standard text frame of their own.
struct TextFrameName {
    const char* name;
    const char* frame_id;
};
constexpr std::array<TextFrameName, 22> kTextFrames = {{
    {"title", "TIT2"},
    {"artist", "TPE1"},
    {"album", "TALB"},
    {"album artist", "TPE2"},
    {"conductor", "TPE3"},
    {"remixed by", "TPE4"},
    {"composer", "TCOM"},
    {"lyricist", "TEXT"},
    {"original artist", "TOPE"},
    {"publisher", "TPUB"},
    {"copyright", "TCOP"},
    {"encoded by", "TENC"},
    {"bpm", "TBPM"},
    {"isrc", "TSRC"},
    {"date", "TDRC"},
    {"original release date", "TDOR"},
    {"genre", "TCON"},
    {"grouping", "TIT1"},
    {"subtitle", "TIT3"},
    {"language", "TLAN"},
    {"titlesort", "TSOT"},
    {"artistsort", "TSOP"},
}};

// Frames of older tag versions that only reading knows.
constexpr std::array<TextFrameName, 2> kReadOnlyFrames = {{
    {"date", "TYER"},
    {"original release date", "TORY"},
}};

// A number and its total share one frame ("3/12").
struct NumberPair {
    const char* number;
    const char* total;
    const char* frame_id;
};
constexpr std::array<NumberPair, 2> kNumberPairs = {{
    {"tracknumber", "totaltracks", "TRCK"},
    {"discnumber", "totaldiscs", "TPOS"},
}};

constexpr const char* kComment = "comment";
constexpr const char* kLyrics = "lyrics";
constexpr const char* kLanguage = "eng";

constexpr const char* kTrackGain = "REPLAYGAIN_TRACK_GAIN";
constexpr const char* kTrackPeak = "REPLAYGAIN_TRACK_PEAK";
constexpr const char* kAlbumGain = "REPLAYGAIN_ALBUM_GAIN";
constexpr const char* kAlbumPeak = "REPLAYGAIN_ALBUM_PEAK";
constexpr std::array<const char*, 4> kReplayGainNames = {kTrackGain, kTrackPeak, kAlbumGain, kAlbumPeak};

constexpr size_t kHeaderSize = 10;

bool SameName(const char* a, const char* b) { return stricmp_utf8(a, b) == 0; }

bool IsReplayGainName(const char* name) {
    for (const char* rg : kReplayGainNames) {
        if (SameName(name, rg)) return true;
    }
    return false;
}

String ToTagString(const char* utf8) { return String(std::string(utf8), String::UTF8); }
std::string FromTagString(const String& text) { return text.to8Bit(true); }

// Every non-empty value of field `index` (ID3v2 keeps no empty strings in a
// multi-string frame, so an empty value could not come back).
StringList ValuesOf(const file_info& info, size_t index) {
    StringList out;
    for (size_t v = 0; v < info.meta_enum_value_count(index); ++v) {
        const char* value = info.meta_enum_value(index, v);
        if (value && *value) out.append(ToTagString(value));
    }
    return out;
}

// The single value of field `name` when it can share a "n/m" frame: present
// once, not empty and without a "/" of its own.
std::optional<std::string> PairPart(const file_info& info, const char* name) {
    const size_t index = info.meta_find(name);
    if (index == file_info::npos || info.meta_enum_value_count(index) != 1) return std::nullopt;
    std::string value = info.meta_enum_value(index, 0);
    if (value.empty() || value.find('/') != std::string::npos) return std::nullopt;
    return value;
}

bool PairFits(const file_info& info, const NumberPair& pair) {
    if (!PairPart(info, pair.number)) return false;
    return !info.meta_exists(pair.total) || PairPart(info, pair.total).has_value();
}

void AddTextFrame(TagLib::ID3v2::Tag& tag, const char* frame_id, const StringList& values) {
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(ByteVector(frame_id), String::UTF8);
    frame->setText(values);
    tag.addFrame(frame.release());
}

void AddUserFrame(TagLib::ID3v2::Tag& tag, const char* name, const StringList& values) {
    tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(ToTagString(name), values, String::UTF8));
}

std::string FormatNumber(float value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

void AddReplayGain(TagLib::ID3v2::Tag& tag, const replaygain_info& rg) {
    auto add = [&](const char* name, const std::string& text) {
        AddUserFrame(tag, name, StringList(String(text, String::UTF8)));
    };
    if (rg.is_track_gain_present()) add(kTrackGain, FormatNumber(rg.m_track_gain, 2) + " dB");
    if (rg.is_track_peak_present()) add(kTrackPeak, FormatNumber(rg.m_track_peak, 6));
    if (rg.is_album_gain_present()) add(kAlbumGain, FormatNumber(rg.m_album_gain, 2) + " dB");
    if (rg.is_album_peak_present()) add(kAlbumPeak, FormatNumber(rg.m_album_peak, 6));
}

// The leading number of a ReplayGain text ("-6.50 dB", "+1.2dB", " 0.98").
std::optional<float> ParseReplayGainNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

void ReadReplayGain(const std::string& name, const std::string& text, replaygain_info& rg) {
    const std::optional<float> value = ParseReplayGainNumber(text);
    if (!value) return;
    if (SameName(name.c_str(), kTrackGain)) rg.m_track_gain = *value;
    if (SameName(name.c_str(), kTrackPeak)) rg.m_track_peak = *value;
    if (SameName(name.c_str(), kAlbumGain)) rg.m_album_gain = *value;
    if (SameName(name.c_str(), kAlbumPeak)) rg.m_album_peak = *value;
}

std::unique_ptr<TagLib::ID3v2::Tag> BuildTag(const file_info& info) {
    auto owned = std::make_unique<TagLib::ID3v2::Tag>();
    TagLib::ID3v2::Tag& tag = *owned;
    for (size_t i = 0; i < info.meta_get_count(); ++i) {
        const char* name = info.meta_enum_name(i);
        if (!name || !*name || IsReplayGainName(name)) continue;  // the values come from get_replaygain()
        const StringList values = ValuesOf(info, i);
        if (values.isEmpty()) continue;

        bool done = false;
        for (const TextFrameName& row : kTextFrames) {
            if (!SameName(name, row.name)) continue;
            AddTextFrame(tag, row.frame_id, values);
            done = true;
            break;
        }
        for (const NumberPair& pair : kNumberPairs) {
            if (done) break;
            if (SameName(name, pair.total) && PairFits(info, pair)) {
                done = true;  // written with its number
            } else if (SameName(name, pair.number) && PairFits(info, pair)) {
                std::string text = *PairPart(info, pair.number);
                if (const auto total = PairPart(info, pair.total)) text += "/" + *total;
                AddTextFrame(tag, pair.frame_id, StringList(String(text, String::UTF8)));
                done = true;
            }
        }
        if (done) continue;
        if (SameName(name, kComment)) {
            for (const String& value : values) {
                auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(String::UTF8);
                frame->setLanguage(kLanguage);
                frame->setText(value);
                tag.addFrame(frame.release());
            }
        } else if (SameName(name, kLyrics)) {
            for (const String& value : values) {
                auto frame = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(String::UTF8);
                frame->setLanguage(kLanguage);
                frame->setText(value);
                tag.addFrame(frame.release());
            }
        } else {
            AddUserFrame(tag, name, values);
        }
    }
    AddReplayGain(tag, info.get_replaygain());
    return owned;
}

const char* NameOfTextFrame(const ByteVector& id) {
    for (const TextFrameName& row : kTextFrames) {
        if (id == ByteVector(row.frame_id)) return row.name;
    }
    for (const TextFrameName& row : kReadOnlyFrames) {
        if (id == ByteVector(row.frame_id)) return row.name;
    }
    return nullptr;
}

void AddValues(file_info& info, const char* name, const StringList& values) {
    for (const String& value : values) {
        const std::string text = FromTagString(value);
        if (!text.empty()) info.meta_add(name, text.c_str());
    }
}

void ReadNumberPair(file_info& info, const NumberPair& pair, const StringList& values) {
    bool first = true;
    for (const String& value : values) {
        const std::string text = FromTagString(value);
        const size_t slash = first ? text.find('/') : std::string::npos;
        const std::string number = text.substr(0, slash);
        if (!number.empty()) info.meta_add(pair.number, number.c_str());
        if (slash != std::string::npos && slash + 1 < text.size()) {
            info.meta_add(pair.total, text.substr(slash + 1).c_str());
        }
        first = false;
    }
}

void ReadFrame(const TagLib::ID3v2::Frame& frame, file_info& info, replaygain_info& rg) {
    using namespace TagLib::ID3v2;
    if (const auto* user = dynamic_cast<const UserTextIdentificationFrame*>(&frame)) {
        const std::string name = FromTagString(user->description());
        StringList values = user->fieldList();
        if (!values.isEmpty()) values.erase(values.begin());  // the description
        if (name.empty()) return;
        if (IsReplayGainName(name.c_str())) {
            if (!values.isEmpty()) ReadReplayGain(name, FromTagString(values.front()), rg);
            return;
        }
        AddValues(info, name.c_str(), values);
        return;
    }
    if (const auto* text = dynamic_cast<const TextIdentificationFrame*>(&frame)) {
        const ByteVector id = frame.frameID();
        if (const char* name = NameOfTextFrame(id)) {
            AddValues(info, name, text->fieldList());
            return;
        }
        for (const NumberPair& pair : kNumberPairs) {
            if (id == ByteVector(pair.frame_id)) ReadNumberPair(info, pair, text->fieldList());
        }
        return;
    }
    if (const auto* comment = dynamic_cast<const CommentsFrame*>(&frame)) {
        // Described comments are other programs' private data (iTunNORM and
        // the like), not the user's comment.
        if (comment->description().isEmpty()) AddValues(info, kComment, StringList(comment->text()));
        return;
    }
    if (const auto* lyrics = dynamic_cast<const UnsynchronizedLyricsFrame*>(&frame)) {
        AddValues(info, kLyrics, StringList(lyrics->text()));
    }
}

// TagLib reads tags from File objects; this one is a memory stream holding
// just the tag's bytes.
class TagBytesFile final : public TagLib::File {
  public:
    explicit TagBytesFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

// Size of the complete ID3v2 tag whose first bytes are `head` (10 bytes), or
// nothing when they do not start a tag.
std::optional<uint64_t> TagSizeOf(const uint8_t* head) {
    if (head[0] != 'I' || head[1] != 'D' || head[2] != '3') return std::nullopt;
    if (head[3] < 2 || head[3] > 4 || head[4] == 0xFF) return std::nullopt;
    for (size_t i = 6; i < kHeaderSize; ++i) {
        if (head[i] & 0x80) return std::nullopt;  // sizes are 7 bits per byte
    }
    const TagLib::ID3v2::Header header(ByteVector(reinterpret_cast<const char*>(head), kHeaderSize));
    return header.completeTagSize();
}

class Id3v2TagService : public tag_processor_id3v2 {
  public:
    void read(const file_ptr& file, file_info& info, abort_callback& abort) override {
        abort.check();
        if (!file.is_valid()) throw exception_io_data();
        file->seek(0, abort);
        uint8_t head[kHeaderSize];
        if (file->read(head, sizeof(head), abort) != sizeof(head)) throw exception_io_data();
        const std::optional<uint64_t> size = TagSizeOf(head);
        // A size beyond the end of the file is a damaged tag, not a reason to
        // allocate whatever the header claims.
        if (!size || *size > file->get_size(abort)) throw exception_io_data();

        ByteVector bytes(static_cast<unsigned int>(*size), 0);
        std::memcpy(bytes.data(), head, kHeaderSize);
        file->read_object(bytes.data() + kHeaderSize, *size - kHeaderSize, abort);

        TagLib::ByteVectorStream stream(bytes);
        TagBytesFile tag_file(&stream);
        const TagLib::ID3v2::Tag tag(&tag_file, 0);

        file_info_impl result;
        replaygain_info rg;
        for (const TagLib::ID3v2::Frame* frame : tag.frameList()) ReadFrame(*frame, result, rg);

        info.meta_remove_all();
        for (size_t i = 0; i < result.meta_get_count(); ++i) {
            for (size_t v = 0; v < result.meta_enum_value_count(i); ++v) {
                info.meta_add(result.meta_enum_name(i), result.meta_enum_value(i, v));
            }
        }
        info.set_replaygain(rg);
    }

    void write(const file_ptr& file, const file_info& info, tag_write_callback&,
               abort_callback& abort) override {
        abort.check();
        if (!file.is_valid()) throw exception_io();
        const ByteVector rendered = BuildTag(info)->render(TagLib::ID3v2::v4);

        // Whatever follows an old tag (or the whole content when there is
        // none) stays behind the new tag.
        const uint64_t file_size = file->get_size(abort);
        uint64_t old_tag = 0;
        if (file_size >= kHeaderSize) {
            uint8_t head[kHeaderSize];
            file->seek(0, abort);
            file->read_object(head, sizeof(head), abort);
            if (const auto size = TagSizeOf(head)) old_tag = std::min(*size, file_size);
        }
        std::vector<uint8_t> rest;
        if (old_tag < file_size) {
            file->seek(old_tag, abort);
            rest = file->read_till_eof(abort);
        }
        file->seek(0, abort);
        file->write(rendered.data(), rendered.size(), abort);
        if (!rest.empty()) file->write(rest.data(), rest.size(), abort);
        file->truncate_here(abort);
        file->seek(rendered.size(), abort);
    }
};

}  // namespace

service_ptr_t<tag_processor_id3v2> CreateId3v2TagService() {
    return service_ptr_t<tag_processor_id3v2>(fb2k::service_new<Id3v2TagService>().get_ptr());
}

}  // namespace playhost
