#include "medialib/mp4/mp4_file.h"

#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>

#include <cstring>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/property_mapping.h"
#include "medialib/core/snapshot_file.h"
#include "medialib/core/taglib_stream.h"
#include "medialib/core/technical.h"
#include "medialib/ffmpeg/packet_compare.h"
#include "medialib/ffmpeg/probe.h"
#include "medialib/mp4/asset_boxes.h"

namespace medialib {
namespace {

constexpr size_t kListSlots = 5;
// Pictures without a standard item: freeform items holding the picture bytes,
// one data atom per list position. The MIME type is found from the bytes again.
const char* const kFreeformPrefix = "----:com.apple.iTunes:";
const char* const kAltKey = "----:com.apple.iTunes:JacketAlt";
const char* const kLyricsKey = "----:com.apple.iTunes:LyricsPicture";
const char* const kLinerKey = "----:com.apple.iTunes:LinerNotesPicture";

bool Is3gpBrand(std::span<const uint8_t> head) {
    return head.size() >= 12 && head[8] == '3' && head[9] == 'g';
}

std::shared_ptr<PictureData> ToPicture(const TagLib::ByteVector& data, const char* fallback_mime) {
    auto pic = std::make_shared<PictureData>();
    pic->bytes.assign(data.begin(), data.end());
    pic->mime = SniffImageMime(pic->bytes.data(), pic->bytes.size());
    if (pic->mime.empty()) pic->mime = fallback_mime;
    return pic;
}

TagLib::ByteVector ToBytes(const PictureData& p) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(p.bytes.data()),
                              static_cast<unsigned int>(p.bytes.size()));
}

void ReadPictures(const TagLib::MP4::Tag& tag, const std::set<uint32_t>& storable, AttributeSet& out) {
    const TagLib::MP4::ItemMap& items = tag.itemMap();
    if (auto it = items.find("covr"); it != items.end() && storable.count(attr::Jacket)) {
        ValueList list;
        for (const TagLib::MP4::CoverArt& art : it->second.toCoverArtList()) {
            if (list.size() < kListSlots && !art.data().isEmpty())
                list.emplace_back(ToPicture(art.data(), ""));
        }
        if (!list.empty()) out[attr::Jacket] = std::move(list);
    }
    auto binary = [&](const char* key, uint32_t id, size_t limit, const char* fallback) {
        auto it = items.find(key);
        if (it == items.end() || !storable.count(id)) return;
        ValueList list;
        for (const TagLib::ByteVector& data : it->second.toByteVectorList()) {
            if (list.size() < limit && !data.isEmpty()) list.emplace_back(ToPicture(data, fallback));
        }
        if (!list.empty()) out[id] = std::move(list);
    };
    binary(kAltKey, attr::JacketAlt, kListSlots, "");
    // Lyrics and liner notes may be held as plain text objects.
    binary(kLyricsKey, attr::LyricsPicture, 1, "text/plain");
    binary(kLinerKey, attr::LinerNotesPicture, 1, "text/plain");
}

// The jacket list stands for the first five covers only. While it still
// reads as the covers the file holds, the covr item is left as it is, so
// covers past the fifth (which other taggers add) survive a save that
// changes something else.
bool JacketsAsStored(const AttributeSet& tags, const TagLib::MP4::Tag& tag) {
    AttributeSet stored;
    ReadPictures(tag, {attr::Jacket}, stored);
    return SamePictures(tags, stored, attr::Jacket, kListSlots);
}

void WritePictures(const AttributeSet& tags, const std::set<uint32_t>& storable, TagLib::MP4::Tag& tag) {
    if (storable.count(attr::Jacket) && !JacketsAsStored(tags, tag)) {
        TagLib::MP4::CoverArtList covers;
        for (const auto& p : PicturesOf(tags, attr::Jacket, kListSlots)) {
            TagLib::MP4::CoverArt::Format format = p->mime == "image/png"    ? TagLib::MP4::CoverArt::PNG
                                                   : p->mime == "image/gif"  ? TagLib::MP4::CoverArt::GIF
                                                   : p->mime == "image/bmp"  ? TagLib::MP4::CoverArt::BMP
                                                   : p->mime == "image/jpeg" ? TagLib::MP4::CoverArt::JPEG
                                                                             : TagLib::MP4::CoverArt::Unknown;
            covers.append(TagLib::MP4::CoverArt(format, ToBytes(*p)));
        }
        if (covers.isEmpty()) {
            tag.removeItem("covr");
        } else {
            tag.setItem("covr", TagLib::MP4::Item(covers));
        }
    }
    auto binary = [&](const char* key, uint32_t id, size_t limit) {
        if (!storable.count(id)) return;
        TagLib::ByteVectorList list;
        for (const auto& p : PicturesOf(tags, id, limit)) list.append(ToBytes(*p));
        if (list.isEmpty()) {
            tag.removeItem(key);
        } else {
            TagLib::MP4::Item item(list);
            item.setAtomDataType(TagLib::MP4::TypeImplicit);
            tag.setItem(key, item);
        }
    };
    binary(kAltKey, attr::JacketAlt, kListSlots);
    binary(kLyricsKey, attr::LyricsPicture, 1);
    binary(kLinerKey, attr::LinerNotesPicture, 1);
}

// TagLib's property map plus the freeform text items of our keys that it
// leaves out.
TagLib::PropertyMap PropertiesWithFreeform(const TagLib::MP4::Tag& tag) {
    // The keys and their item names, made once rather than on every open.
    struct Freeform {
        TagLib::String key, item;
    };
    static const std::vector<Freeform> kFreeform = [] {
        std::vector<Freeform> list;
        for (const std::string& key : MappedPropertyKeys())
            list.push_back({TagLib::String(key), kFreeformPrefix + TagLib::String(key)});
        return list;
    }();
    TagLib::PropertyMap props = tag.properties();
    const TagLib::MP4::ItemMap& items = tag.itemMap();
    for (const Freeform& f : kFreeform) {
        if (props.contains(f.key)) continue;
        auto it = items.find(f.item);
        if (it != items.end() && !it->second.toStringList().isEmpty())
            props.insert(f.key, it->second.toStringList());
    }
    return props;
}

bool SaveWith(const std::filesystem::path& copy, const AttributeSet& tags, const std::set<uint32_t>& storable,
              bool is_3gp) {
    if (is_3gp && !RetireAssetBoxes(copy)) return false;
    TagLib::MP4::File file(copy.c_str(), false);
    if (!file.isValid() || file.readOnly() || !file.tag()) return false;
    TagLib::MP4::Tag& tag = *file.tag();
    TagLib::PropertyMap props = tag.properties();
    WriteProperties(tags, storable, props);
    // TagLib has no standard atom for some keys and refuses them; those are
    // stored as freeform items, the usual place for such fields in MP4.
    const TagLib::PropertyMap refused = tag.setProperties(props);
    for (const std::string& key : MappedPropertyKeys()) {
        const TagLib::String freeform = kFreeformPrefix + TagLib::String(key);
        auto it = refused.find(key);
        if (it != refused.end()) {
            tag.setItem(freeform, TagLib::MP4::Item(it->second));
        } else if (!props.contains(key)) {
            tag.removeItem(freeform);
        }
    }
    WritePictures(tags, storable, tag);
    return file.save();
}

std::unique_ptr<OpenedFile> Reopen(const std::filesystem::path& path) {
    auto src = OpenFileSource(path);
    return src ? OpenMp4(*src, path) : nullptr;
}

// The non-empty texts among `values`, in order.
std::vector<std::u16string> TextsOf(const ValueList& values) {
    std::vector<std::u16string> texts;
    for (const Value& v : values) {
        if (const auto* text = std::get_if<std::u16string>(&v); text && !text->empty())
            texts.push_back(*text);
    }
    return texts;
}

// TagLib rewrites the box tree and moves the sample offsets by what it
// believes the sizes and counts to be; in a damaged file those may be wrong,
// and the save then reports success over a copy whose tags or audio are not
// what was meant (a count trusted too far zeroes the box after it, a size
// read wrong leaves the tags unwritten). So the copy must open again, read
// back every text it was given, and carry the original's audio packets.
bool VerifyCopy(const std::filesystem::path& original, const std::filesystem::path& copy,
                const AttributeSet& tags) {
    const std::unique_ptr<ByteSource> copy_src = OpenFileSource(copy);
    const std::unique_ptr<ByteSource> original_src = OpenFileSource(original);
    if (!copy_src || !original_src) return false;
    const std::unique_ptr<OpenedFile> reopened = OpenMp4(*copy_src, copy);
    if (!reopened) return false;
    const AttributeSet& stored = reopened->Attributes();
    for (const auto& [id, values] : tags) {
        const std::vector<std::u16string> meant = TextsOf(values);
        if (meant.empty()) continue;
        const auto it = stored.find(id);
        if (it == stored.end() || TextsOf(it->second) != meant) return false;
    }
    return ff::SameAudioPackets(*original_src, *copy_src, "mov");
}

std::set<uint32_t> Without(std::initializer_list<uint32_t> ids) {
    std::set<uint32_t> s = AllTagAttributes();
    for (uint32_t id : ids) s.erase(id);
    return s;
}

}  // namespace

bool LooksLikeIsoBmff(std::span<const uint8_t> head) {
    if (head.size() < 12 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return false;
    const uint32_t size =
        (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    return size >= 12;
}

const std::set<uint32_t>& Mp4Storable() { return AllTagAttributes(); }

const std::set<uint32_t>& ThreeGpStorable() {
    static const std::set<uint32_t> kSet =
        Without({attr::Subtitle, attr::SortSubtitle, attr::Import, attr::LyricsText, attr::LinerNotesText});
    return kSet;
}

std::unique_ptr<OpenedFile> OpenMp4(const ByteSource& src, const std::filesystem::path& path) {
    uint8_t head[12] = {};
    const size_t got = src.ReadAt(0, head, sizeof head);
    if (!LooksLikeIsoBmff({head, got})) return nullptr;
    const bool is_3gp = Is3gpBrand({head, got});
    const std::set<uint32_t>& storable = is_3gp ? ThreeGpStorable() : Mp4Storable();

    StreamInfo info;
    if (!ff::ProbeStream(src, info, "mov")) return nullptr;

    AttributeSet attrs;
    {
        auto stream = MakeTagLibStream(src);
        TagLib::MP4::File file(stream.get(), false);
        if (file.isValid() && file.tag()) {
            ReadProperties(PropertiesWithFreeform(*file.tag()), storable, attrs);
            ReadPictures(*file.tag(), storable, attrs);
        }
    }
    if (is_3gp) AddAssetAttributes(ReadAssetBoxes(src), attrs);

    const int32_t codec = CodecNumber(info);
    AddTechnicalAttributes(attrs, info, container::ThreeGp, codec, src.Size(), path);
    auto writer = [&storable, is_3gp](const std::filesystem::path& copy, const AttributeSet& tags) {
        return SaveWith(copy, tags, storable, is_3gp);
    };
    return std::make_unique<SnapshotFile>(container::ThreeGp, codec, std::move(attrs), storable, codec >= 0,
                                          writer, Reopen, VerifyCopy);
}

}  // namespace medialib
