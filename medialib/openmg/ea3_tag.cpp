#include "medialib/openmg/ea3_tag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/generalencapsulatedobjectframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/urllinkframe.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "library/media_ids.h"
#include "medialib/core/dates.h"
#include "medialib/core/text_utf.h"
#include "medialib/openmg/byte_order.h"
#include "platform/not_reached.h"

namespace medialib::openmg {
namespace {

using TagLib::ByteVector;
using TagLib::String;
namespace id3 = TagLib::ID3v2;

// Limits that keep damaged or hostile tags cheap to read.
constexpr size_t kMaxFrames = 4096;
constexpr uint32_t kMaxTagBody = (1u << 28) - 1;  // largest syncsafe size

enum class Kind { Text, UserText, Number, Date, TrackTotal, Url, Lyrics, Comment, Object, Jackets };

// The single mapping between attribute ids and frames, in the order in which
// the frames are written (SonicStage's order first, then the frames Sony has
// no name for).
struct Row {
    uint32_t id;
    uint32_t alt;  // second id carrying the same value, 0 for none
    Kind kind;
    const char* frame;
    const char* description;  // TXXX / GEOB description
};

constexpr Row kRows[] = {
    {attr::Title, 0, Kind::Text, "TIT2", ""},
    {attr::Artist, 0, Kind::Text, "TPE1", ""},
    {attr::Album, attr::AlbumAlt, Kind::Text, "TALB", ""},
    {attr::Genre, 0, Kind::Text, "TCON", ""},
    {attr::SortArtist, 0, Kind::UserText, "TXXX", "OMG_TPE1S"},
    {attr::TrackNumber, attr::TrackNumberAlt, Kind::Number, "TXXX", "OMG_TRACK"},
    {attr::ReleaseYear, 0, Kind::Text, "TYER", ""},
    {attr::SortAlbum, 0, Kind::UserText, "TXXX", "OMG_ALBMS"},
    {attr::SortAlbumArtist, 0, Kind::UserText, "TXXX", "OMG_ATP1S"},
    {attr::AlbumArtist, 0, Kind::UserText, "TXXX", "OMG_ATPE1"},
    {attr::SortTitle, 0, Kind::UserText, "TXXX", "OMG_TIT2S"},
    {attr::Release, 0, Kind::Date, "TXXX", "OMG_TRLDA"},
    {attr::Composer, 0, Kind::Text, "TCOM", ""},
    {attr::Subtitle, 0, Kind::Text, "TIT3", ""},
    {attr::SortSubtitle, 0, Kind::UserText, "TXXX", "SUBTITLESORT"},
    {attr::Lyricist, 0, Kind::Text, "TEXT", ""},
    {attr::TotalTracks, 0, Kind::TrackTotal, "TRCK", ""},
    {attr::ArtistURL, 0, Kind::Url, "WOAR", ""},
    {attr::Import, 0, Kind::Date, "TXXX", "IMPORTDATE"},
    {attr::LyricsText, 0, Kind::Lyrics, "USLT", ""},
    {attr::LinerNotesText, 0, Kind::Comment, "COMM", ""},
    {attr::LyricsPicture, 0, Kind::Object, "GEOB", "LYRICS_PICTURE"},
    {attr::LinerNotesPicture, 0, Kind::Object, "GEOB", "LINER_NOTES_PICTURE"},
    {attr::Jacket, 0, Kind::Jackets, "GEOB", ""},
    {attr::JacketAlt, 0, Kind::Jackets, "GEOB", ""},
};

// GEOB descriptions of the jacket list positions. Position 0 of the first
// list is Sony's cover object, position 0 of the second list Sony's second
// cover object.
constexpr const char* kJacketNames[2][kMaxJacketPictures] = {
    {"OMG_TDFCA", "JACKET_1", "JACKET_2", "JACKET_3", "JACKET_4"},
    {"OMG_FENCA1", "JACKET_ALT_1", "JACKET_ALT_2", "JACKET_ALT_3", "JACKET_ALT_4"},
};

std::u16string ToU16(const String& s) {
    const ByteVector v = s.data(String::UTF16BE);
    std::u16string out;
    out.reserve(v.size() / 2);
    for (unsigned i = 0; i + 1 < v.size(); i += 2) {
        out.push_back(
            static_cast<char16_t>(static_cast<uint8_t>(v[i]) << 8 | static_cast<uint8_t>(v[i + 1])));
    }
    return out;
}

String FromU16(std::u16string_view s) {
    ByteVector v;
    for (char16_t c : s) {
        v.append(static_cast<char>(c >> 8));
        v.append(static_cast<char>(c & 0xFF));
    }
    return String(v, String::UTF16BE);
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::optional<int32_t> ParseNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    int64_t n = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
        n = n * 10 + (text[i] - u'0');
        if (n > INT32_MAX) return std::nullopt;
    }
    while (i < text.size() && text[i] == u' ') ++i;
    if (digits == 0 || i != text.size()) return std::nullopt;
    return static_cast<int32_t>(n);
}

std::u16string FirstField(const id3::TextIdentificationFrame& frame) {
    const TagLib::StringList fields = frame.fieldList();
    return fields.isEmpty() ? std::u16string() : ToU16(fields.front());
}

// URL frames hold Latin-1 only: other characters are written as UTF-8
// percent escapes, the way a URI carries them.
String UrlText(std::u16string_view url) {
    bool latin1 = true;
    for (char16_t c : url) latin1 = latin1 && c < 0x100;
    if (latin1) return FromU16(url);
    const std::string utf8 = Utf16ToUtf8(url);
    std::string out;
    for (unsigned char c : utf8) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[4];
            std::snprintf(buf, sizeof(buf), "%%%02X", c);
            out += buf;
        }
    }
    return String(out, String::Latin1);
}

// A frame rendered as ID3v2.3 bytes. The frame must carry a v2.4 frame
// header (new frames do, and so do frames parsed from v2.4 tags): TagLib then
// keeps encoding 2 (UTF-16BE), which SonicStage uses inside its v2.3 tags.
// The body is identical in both versions; only the header is rebuilt with a
// plain 32-bit size and no flags.
std::vector<uint8_t> RenderFrame(id3::Frame& frame) {
    const ByteVector v = frame.render();
    if (v.size() < kTagHeaderSize) return {};
    std::vector<uint8_t> out(kTagHeaderSize);
    std::memcpy(out.data(), v.data(), 4);
    WriteBe32(out.data() + 4, v.size() - kTagHeaderSize);
    out.insert(out.end(), v.begin() + kTagHeaderSize, v.end());
    return out;
}

std::vector<uint8_t> TextFrame(const char* id, std::u16string_view text) {
    id3::TextIdentificationFrame frame(ByteVector(id, 4), String::UTF16BE);
    frame.setText(FromU16(text));
    return RenderFrame(frame);
}

std::vector<uint8_t> UserTextFrame(const char* description, std::u16string_view text) {
    id3::UserTextIdentificationFrame frame(String(description), TagLib::StringList(FromU16(text)),
                                           String::UTF16BE);
    return RenderFrame(frame);
}

// A USLT or COMM frame (`Frame`) holding `text`: language "und", no
// description, UTF-16BE.
template <typename Frame>
std::vector<uint8_t> UndeterminedLanguageFrame(std::u16string_view text) {
    Frame frame(String::UTF16BE);
    frame.setLanguage(ByteVector("und", 3));
    frame.setText(FromU16(text));
    return RenderFrame(frame);
}

std::vector<uint8_t> ObjectFrame(const char* description, const PictureData& picture) {
    id3::GeneralEncapsulatedObjectFrame frame;
    frame.setTextEncoding(String::UTF16BE);
    frame.setMimeType(String(picture.mime, String::Latin1));
    frame.setDescription(String(description));
    frame.setObject(ByteVector(reinterpret_cast<const char*>(picture.bytes.data()),
                               static_cast<unsigned>(picture.bytes.size())));
    return RenderFrame(frame);
}

const Value* FirstValue(const AttributeSet& tags, uint32_t id, uint32_t alt) {
    auto it = tags.find(id);
    if (it != tags.end() && !it->second.empty()) return &it->second.front();
    if (alt != 0) {
        it = tags.find(alt);
        if (it != tags.end() && !it->second.empty()) return &it->second.front();
    }
    return nullptr;
}

std::optional<std::u16string> AsText(const Value* v) {
    if (v == nullptr) return std::nullopt;
    if (auto* s = std::get_if<std::u16string>(v)) return *s;
    if (auto* n = std::get_if<int32_t>(v)) return Ascii(std::to_string(*n));
    if (auto* d = std::get_if<DateValue>(v)) return FormatOmgDate(*d);
    return std::nullopt;
}

// Numbers and dates are written only in a form that reads back: a frame the
// reader cannot parse is not owned by its attribute, so it would be kept as a
// foreign frame beside the next value written, one more with every save.
std::optional<int32_t> AsNumber(const Value* v) {
    if (v == nullptr) return std::nullopt;
    if (auto* n = std::get_if<int32_t>(v)) return *n >= 0 ? std::optional<int32_t>(*n) : std::nullopt;
    if (auto* s = std::get_if<std::u16string>(v)) return ParseNumber(*s);
    return std::nullopt;
}

// The OMG_TRLDA form of a date value; nullopt outside years 1..9999.
std::optional<std::u16string> AsDateText(const Value* v) {
    if (v == nullptr) return std::nullopt;
    std::optional<DateValue> date;
    if (auto* d = std::get_if<DateValue>(v)) date = *d;
    if (auto* s = std::get_if<std::u16string>(v)) date = ParseOmgDate(*s);
    if (!date) return std::nullopt;
    std::u16string text = FormatOmgDate(*date);
    if (text.empty()) return std::nullopt;
    return text;
}

std::shared_ptr<PictureData> AsPicture(const Value& v) {
    if (auto* p = std::get_if<std::shared_ptr<PictureData>>(&v)) return *p;
    return nullptr;
}

const Row* FindTextRow(const std::string& id) {
    const std::string wanted = id == "TDRC" ? "TYER" : id;  // v2.4 tags carry the year as TDRC
    for (const Row& row : kRows) {
        if ((row.kind == Kind::Text || row.kind == Kind::TrackTotal) && wanted == row.frame) return &row;
    }
    return nullptr;
}

const Row& RowFor(uint32_t id) {
    for (const Row& row : kRows) {
        if (row.id == id) return row;
    }
    platform::NotReached("RowFor: every caller names an id of the table");
}

const Row* FindUserRow(const std::string& description) {
    for (const Row& row : kRows) {
        if ((row.kind == Kind::UserText || row.kind == Kind::Number || row.kind == Kind::Date) &&
            description == row.description) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<uint64_t> Ea3TagTotalSize(std::span<const uint8_t> head) {
    if (head.size() < kTagHeaderSize || std::memcmp(head.data(), "ea3", 3) != 0) return std::nullopt;
    if (head[3] != 3 && head[3] != 4) return std::nullopt;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return std::nullopt;
    }
    uint64_t total = kTagHeaderSize + ReadSyncsafe(head.data() + 6);
    if (head[3] == 4 && (head[5] & 0x10)) total += kTagHeaderSize;  // footer
    return total;
}

std::vector<TagFrame> SplitEa3Tag(std::span<const uint8_t> tag) {
    std::vector<TagFrame> frames;
    const auto total = Ea3TagTotalSize(tag);
    if (!total) return frames;
    const uint8_t major = tag[3];
    const uint8_t flags = tag[5];
    const size_t body_size = std::min<uint64_t>(ReadSyncsafe(tag.data() + 6), tag.size() - kTagHeaderSize);
    ByteVector body(reinterpret_cast<const char*>(tag.data() + kTagHeaderSize),
                    static_cast<unsigned>(body_size));
    if (major == 3 && (flags & 0x80)) body = id3::SynchData::decode(body);  // whole-tag unsynchronisation

    size_t pos = 0;
    if (flags & 0x40) {  // extended header: skip it
        if (body.size() < 4) return frames;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(body.data());
        const uint64_t ext = major == 3 ? 4 + static_cast<uint64_t>(ReadBe32(p)) : ReadSyncsafe(p);
        if (ext > body.size()) return frames;
        pos = static_cast<size_t>(ext);
    }

    // Tag header as TagLib's frame factory needs it (v2.4 frames may be
    // unsynchronised individually).
    ByteVector header_bytes("ID3", 3);
    header_bytes.append(static_cast<char>(major));
    header_bytes.append(ByteVector(6, '\0'));
    if (major == 4) header_bytes[5] = static_cast<char>(flags & 0x80);
    const id3::Header tag_header(header_bytes);

    const uint8_t* data = reinterpret_cast<const uint8_t*>(body.data());
    const size_t n = body.size();
    while (pos + kTagHeaderSize <= n && frames.size() < kMaxFrames) {
        const uint8_t* f = data + pos;
        if (f[0] == 0) break;  // padding
        bool valid_id = true;
        for (int i = 0; i < 4; ++i) {
            valid_id = valid_id && ((f[i] >= 'A' && f[i] <= 'Z') || (f[i] >= '0' && f[i] <= '9'));
        }
        if (!valid_id) break;
        const uint64_t size = major == 4 ? ReadSyncsafe(f + 4) : ReadBe32(f + 4);
        if (size > n - pos - kTagHeaderSize) break;
        const size_t frame_total = kTagHeaderSize + static_cast<size_t>(size);
        TagFrame frame;
        frame.id.assign(reinterpret_cast<const char*>(f), 4);
        if (size == 0) {
            // An empty frame carries nothing and TagLib refuses it: drop it.
        } else if (major == 3) {
            frame.bytes.assign(f, f + frame_total);
            frames.push_back(std::move(frame));
        } else {
            // v2.4 frames have syncsafe sizes and other flag meanings: let
            // TagLib decode the frame and render it again as v2.3.
            std::unique_ptr<id3::Frame> parsed(id3::FrameFactory::instance()->createFrame(
                ByteVector(reinterpret_cast<const char*>(f), static_cast<unsigned>(frame_total)),
                &tag_header));
            if (parsed) {
                frame.bytes = RenderFrame(*parsed);
                if (frame.bytes.size() >= 4) {
                    frame.id.assign(reinterpret_cast<const char*>(frame.bytes.data()), 4);
                    frames.push_back(std::move(frame));
                }
            }
        }
        pos += frame_total;
    }
    return frames;
}

const std::set<uint32_t>& AllTagAttributeIds() {
    static const std::set<uint32_t> ids = [] {
        std::set<uint32_t> s;
        for (const Row& row : kRows) {
            s.insert(row.id);
            if (row.alt != 0) s.insert(row.alt);
        }
        return s;
    }();
    return ids;
}

void ReadTagAttributes(const std::vector<TagFrame>& frames, const std::set<uint32_t>& storable,
                       AttributeSet& out, std::vector<bool>& owned) {
    owned.assign(frames.size(), false);
    ByteVector header_bytes("ID3\x03\0\0\0\0\0\0", 10);
    const id3::Header tag_header(header_bytes);
    const auto can = [&](uint32_t id) { return storable.count(id) != 0; };
    std::optional<int32_t> trck_track;
    // Writers that know no GEOB covers use APIC: its front cover (or first
    // picture) stands in for Sony's cover object when that is missing.
    std::optional<size_t> apic_index;
    std::shared_ptr<PictureData> apic;
    bool apic_front = false;
    std::array<std::array<std::shared_ptr<PictureData>, kMaxJacketPictures>, 2> jackets;

    for (size_t i = 0; i < frames.size(); ++i) {
        const TagFrame& raw = frames[i];
        std::unique_ptr<id3::Frame> frame(id3::FrameFactory::instance()->createFrame(
            ByteVector(reinterpret_cast<const char*>(raw.bytes.data()),
                       static_cast<unsigned>(raw.bytes.size())),
            &tag_header));
        if (!frame) continue;

        // Takes frame i for `row`: the first frame of a field gives the value;
        // later duplicates are owned too, so that writing leaves one.
        const auto claim = [&](const Row& row, std::optional<Value> value) {
            if (!can(row.id) || !value) return;
            owned[i] = true;
            if (out.count(row.id)) return;
            out[row.id] = {*value};
            if (row.alt != 0 && can(row.alt)) out[row.alt] = {*value};
        };

        if (auto* user = dynamic_cast<id3::UserTextIdentificationFrame*>(frame.get())) {
            const Row* row = FindUserRow(user->description().to8Bit(true));
            if (row == nullptr) continue;
            // TagLib lists the description as the first field, the value second.
            const TagLib::StringList fields = user->fieldList();
            const std::u16string text = fields.size() < 2 ? std::u16string() : ToU16(fields[1]);
            if (row->kind == Kind::Number) {
                // Track 0 is no track number, as in the other formats (and in
                // TRCK): the frame is owned (replaced on save) but not read.
                std::optional<int32_t> number = ParseNumber(text);
                if (number && *number == 0) {
                    if (can(row->id)) owned[i] = true;
                    number.reset();
                }
                claim(*row, number);
            } else if (row->kind == Kind::Date) {
                claim(*row, ParseOmgDate(text));
            } else {
                claim(*row, text);
            }
        } else if (auto* text_frame = dynamic_cast<id3::TextIdentificationFrame*>(frame.get())) {
            const Row* row = FindTextRow(raw.id);
            if (row == nullptr) continue;
            std::u16string text = FirstField(*text_frame);
            if (row->kind == Kind::TrackTotal) {
                const size_t slash = text.find(u'/');
                const auto track = ParseNumber(text.substr(0, slash));
                if (track && *track > 0 && !trck_track) trck_track = track;
                std::optional<Value> total;
                if (slash != std::u16string::npos) {
                    if (auto n = ParseNumber(text.substr(slash + 1)); n && *n > 0) total = *n;
                }
                // The frame also stands for the track number: a format that
                // cannot store the total still replaces it, or a kept TRCK
                // would bring back a track number the user changed or removed.
                if (can(row->id) || can(attr::TrackNumber)) owned[i] = true;
                if (can(row->id) && total && !out.count(row->id)) out[row->id] = {*total};
                continue;
            }
            if (row->id == attr::Genre && ParseNumber(text) &&
                std::find(raw.bytes.begin() + kTagHeaderSize, raw.bytes.end(), '(') != raw.bytes.end()) {
                // TagLib turns the ID3v1 reference "(17)" into "17": show its name.
                const String name = TagLib::ID3v1::genre(*ParseNumber(text));
                if (!name.isEmpty()) text = ToU16(name);
            }
            claim(*row, text);
        } else if (auto* url = dynamic_cast<id3::UrlLinkFrame*>(frame.get())) {
            if (raw.id == "WOAR") claim(RowFor(attr::ArtistURL), ToU16(url->url()));
        } else if (auto* comment = dynamic_cast<id3::CommentsFrame*>(frame.get())) {
            if (comment->description().isEmpty()) claim(RowFor(attr::LinerNotesText), ToU16(comment->text()));
        } else if (auto* lyrics = dynamic_cast<id3::UnsynchronizedLyricsFrame*>(frame.get())) {
            if (lyrics->description().isEmpty()) claim(RowFor(attr::LyricsText), ToU16(lyrics->text()));
        } else if (auto* attached = dynamic_cast<id3::AttachedPictureFrame*>(frame.get())) {
            const bool front = attached->type() == id3::AttachedPictureFrame::FrontCover;
            if (!apic || (front && !apic_front)) {
                apic = std::make_shared<PictureData>();
                apic->mime = attached->mimeType().to8Bit(true);
                const ByteVector data = attached->picture();
                apic->bytes.assign(data.begin(), data.end());
                apic_index = i;
                apic_front = front;
            }
        } else if (auto* object = dynamic_cast<id3::GeneralEncapsulatedObjectFrame*>(frame.get())) {
            const std::string description = object->description().to8Bit(true);
            auto picture = std::make_shared<PictureData>();
            picture->mime = object->mimeType().to8Bit(true);
            const ByteVector data = object->object();
            picture->bytes.assign(data.begin(), data.end());
            for (const Row& row : kRows) {
                if (row.kind == Kind::Object && description == row.description) claim(row, Value(picture));
            }
            for (size_t list = 0; list < 2; ++list) {
                const uint32_t id = list == 0 ? attr::Jacket : attr::JacketAlt;
                for (size_t slot = 0; slot < kMaxJacketPictures; ++slot) {
                    if (description != kJacketNames[list][slot] || !can(id)) continue;
                    owned[i] = true;
                    if (!jackets[list][slot]) jackets[list][slot] = picture;
                }
            }
        }
    }

    if (apic && can(attr::Jacket) &&
        std::none_of(jackets[0].begin(), jackets[0].end(), [](const auto& p) { return p; })) {
        jackets[0][0] = apic;
        owned[*apic_index] = true;  // written back as the cover object
    }
    if (trck_track && can(attr::TrackNumber) && !out.count(attr::TrackNumber)) {
        out[attr::TrackNumber] = {*trck_track};
        if (can(attr::TrackNumberAlt)) out[attr::TrackNumberAlt] = {*trck_track};
    }
    for (size_t list = 0; list < 2; ++list) {
        ValueList pictures;
        for (const auto& picture : jackets[list]) {
            if (picture) pictures.emplace_back(picture);
        }
        if (!pictures.empty()) out[list == 0 ? attr::Jacket : attr::JacketAlt] = std::move(pictures);
    }
}

std::optional<std::vector<uint8_t>> RenderEa3Tag(const AttributeSet& tags, const std::set<uint32_t>& storable,
                                                 const std::vector<TagFrame>& kept) {
    std::vector<std::vector<uint8_t>> text_frames;
    std::vector<std::vector<uint8_t>> object_frames;
    const auto can = [&](uint32_t id) { return storable.count(id) != 0; };

    for (const Row& row : kRows) {
        if (!can(row.id)) continue;
        const Value* value = FirstValue(tags, row.id, row.alt);
        switch (row.kind) {
            case Kind::Text:
                if (auto text = AsText(value)) text_frames.push_back(TextFrame(row.frame, *text));
                break;
            case Kind::UserText:
                if (auto text = AsText(value)) text_frames.push_back(UserTextFrame(row.description, *text));
                break;
            case Kind::Number:
                if (auto n = AsNumber(value); n && *n > 0)  // track 0 is no track number
                    text_frames.push_back(UserTextFrame(row.description, Ascii(std::to_string(*n))));
                break;
            case Kind::Date:
                if (auto date = AsDateText(value))
                    text_frames.push_back(UserTextFrame(row.description, *date));
                break;
            case Kind::TrackTotal: {
                const auto total = AsNumber(value);
                const auto track = AsNumber(FirstValue(tags, attr::TrackNumber, attr::TrackNumberAlt));
                if (!total && !track) break;
                std::string text = std::to_string(track.value_or(0));
                if (total) text += "/" + std::to_string(*total);
                text_frames.push_back(TextFrame(row.frame, Ascii(text)));
                break;
            }
            case Kind::Url:
                if (auto text = AsText(value)) {
                    id3::UrlLinkFrame frame(ByteVector(row.frame, 4));
                    frame.setUrl(UrlText(*text));
                    text_frames.push_back(RenderFrame(frame));
                }
                break;
            case Kind::Lyrics:
                if (auto text = AsText(value))
                    text_frames.push_back(UndeterminedLanguageFrame<id3::UnsynchronizedLyricsFrame>(*text));
                break;
            case Kind::Comment:
                if (auto text = AsText(value))
                    text_frames.push_back(UndeterminedLanguageFrame<id3::CommentsFrame>(*text));
                break;
            case Kind::Object:
                if (value != nullptr) {
                    if (auto picture = AsPicture(*value))
                        object_frames.push_back(ObjectFrame(row.description, *picture));
                }
                break;
            case Kind::Jackets: {
                const size_t list = row.id == attr::Jacket ? 0 : 1;
                const auto pictures = PicturesOf(tags, row.id, kMaxJacketPictures);
                for (size_t slot = 0; slot < pictures.size(); ++slot)
                    object_frames.push_back(ObjectFrame(kJacketNames[list][slot], *pictures[slot]));
                break;
            }
        }
    }

    std::vector<uint8_t> body;
    for (const auto& f : text_frames) body.insert(body.end(), f.begin(), f.end());
    for (const auto& f : kept) body.insert(body.end(), f.bytes.begin(), f.bytes.end());
    for (const auto& f : object_frames) body.insert(body.end(), f.begin(), f.end());

    // SonicStage's fixed 3072-byte tag when everything fits; otherwise room
    // to grow, so that the next small edit does not move the audio again.
    uint64_t size = kSonicStageTagSize;
    if (body.size() > size) size = (body.size() + 2048 + 15) / 16 * 16;
    if (size > kMaxTagBody) return std::nullopt;

    // Allocated once at its final size (header, body, zero padding).
    std::vector<uint8_t> tag(kTagHeaderSize + size, 0);
    std::memcpy(tag.data(), "ea3", 3);
    tag[3] = 3;
    WriteSyncsafe(tag.data() + 6, static_cast<uint32_t>(size));
    std::copy(body.begin(), body.end(), tag.begin() + kTagHeaderSize);
    return tag;
}

std::optional<DateValue> ParseOmgDate(std::u16string_view text) {
    // Fields: numbers separated by '/', '-', ' ', ':' (and 'T').
    int fields[6] = {0, 1, 1, 0, 0, 0};
    size_t digits[6] = {0, 0, 0, 0, 0, 0};
    size_t count = 0;
    size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    while (i < text.size() && count < 6) {
        if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
        int value = 0;
        size_t d = 0;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && d < 5) {
            value = value * 10 + (text[i] - u'0');
            ++i;
            ++d;
        }
        fields[count] = value;
        digits[count] = d;
        ++count;
        if (i == text.size()) break;
        const char16_t sep = text[i];
        const bool date_sep = count < 3 && (sep == u'/' || sep == u'-');
        const bool mid_sep = count == 3 && (sep == u' ' || sep == u'T');
        const bool time_sep = count > 3 && sep == u':';
        if (!date_sep && !mid_sep && !time_sep) break;
        ++i;
    }
    while (i < text.size() && text[i] == u' ') ++i;
    if (i != text.size() || count == 0 || count == 2 || count == 4) return std::nullopt;
    if (digits[0] <= 2 && count >= 3) fields[0] += fields[0] < 50 ? 2000 : 1900;
    if (fields[0] < 1 || fields[0] > 9999 || !IsCivilDate(fields[0], fields[1], fields[2]) ||
        fields[3] > 23 || fields[4] > 59 || fields[5] > 59)
        return std::nullopt;
    const CivilTime t{.year = fields[0],
                      .month = fields[1],
                      .day = fields[2],
                      .hour = fields[3],
                      .minute = fields[4],
                      .second = fields[5]};
    // Sony's dates are OLE dates: before the epoch the day counts backwards but
    // the time forwards.
    return ToDateValue(t, BeforeEpoch::OleTimeOfDay);
}

std::u16string FormatOmgDate(DateValue date) {
    const CivilTime t = FromDateValue(date, BeforeEpoch::OleTimeOfDay);
    if (t.year < 1 || t.year > 9999) return {};
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return Ascii(buf);
}

}  // namespace medialib::openmg
