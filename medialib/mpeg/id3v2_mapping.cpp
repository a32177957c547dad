#include "medialib/mpeg/id3v2_mapping.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/tpropertymap.h>

#include <array>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/property_mapping.h"
#include "medialib/core/technical.h"

namespace medialib {
namespace {

using TagLib::ID3v2::AttachedPictureFrame;
using PictureType = AttachedPictureFrame::Type;

constexpr size_t kListSlots = 5;
constexpr std::array<PictureType, kListSlots> kSlotTypes = {
    AttachedPictureFrame::FrontCover, AttachedPictureFrame::BackCover, AttachedPictureFrame::Media,
    AttachedPictureFrame::OtherFileIcon, AttachedPictureFrame::Artist};
constexpr std::array<const char*, kListSlots> kSlotNames = {"", "Back", "Disc", "Icon", "Artist"};
const TagLib::String kAltPrefix = "JacketAlt";
const TagLib::String kLyricsDesc = "LyricsPicture";
const TagLib::String kLinerDesc = "LinerNotesPicture";

int SlotOfType(PictureType t) {
    if (t == AttachedPictureFrame::FileIcon) return 3;
    for (size_t i = 0; i < kListSlots; ++i) {
        if (kSlotTypes[i] == t) return static_cast<int>(i);
    }
    return -1;
}

std::shared_ptr<PictureData> ToPicture(const AttachedPictureFrame& f) {
    auto pic = std::make_shared<PictureData>();
    const TagLib::ByteVector data = f.picture();
    pic->bytes.assign(data.begin(), data.end());
    pic->mime = f.mimeType().to8Bit(true);
    if (pic->mime.empty()) pic->mime = SniffImageMime(pic->bytes.data(), pic->bytes.size());
    return pic;
}

ValueList Compact(const std::array<std::shared_ptr<PictureData>, kListSlots>& slots) {
    // Lists are positional without holes: a missing kind moves later ones up.
    ValueList out;
    for (const auto& p : slots) {
        if (p) out.emplace_back(p);
    }
    return out;
}

// The APIC frames that the attributes stand for, and so are replaced on
// writing: our descriptions, the jacket kinds, and the first "Other" or
// leaflet picture only when reading took it as the front cover or the liner
// notes (the tag had none of its own). Any other picture was not shown to
// the user and stays as it is.
std::vector<TagLib::ID3v2::Frame*> OurPictureFrames(const TagLib::ID3v2::Tag& tag) {
    std::vector<TagLib::ID3v2::Frame*> ours;
    bool front = false, liner = false;
    TagLib::ID3v2::Frame* first_other = nullptr;
    TagLib::ID3v2::Frame* first_leaflet = nullptr;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("APIC")) {
        const auto* apic = dynamic_cast<const AttachedPictureFrame*>(frame);
        if (!apic) continue;
        const TagLib::String d = apic->description();
        const bool mapped_description = d.startsWith(kAltPrefix) || d == kLyricsDesc || d == kLinerDesc;
        if (mapped_description || SlotOfType(apic->type()) >= 0) {
            ours.push_back(frame);
            if (apic->picture().isEmpty()) continue;
            front = front || (!mapped_description && SlotOfType(apic->type()) == 0);
            liner = liner || d == kLinerDesc;
        } else if (!apic->picture().isEmpty()) {
            if (apic->type() == AttachedPictureFrame::Other && !first_other) first_other = frame;
            if (apic->type() == AttachedPictureFrame::LeafletPage && !first_leaflet) first_leaflet = frame;
        }
    }
    if (first_other && !front) ours.push_back(first_other);
    if (first_leaflet && !liner) ours.push_back(first_leaflet);
    return ours;
}

void AddPicture(TagLib::ID3v2::Tag& tag, const PictureData& pic, PictureType type,
                const TagLib::String& desc) {
    auto* frame = new AttachedPictureFrame();
    frame->setTextEncoding(TagLib::String::UTF8);
    frame->setType(type);
    frame->setDescription(desc);
    frame->setMimeType(TagLib::String(pic.mime, TagLib::String::UTF8));
    frame->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(pic.bytes.data()),
                                         static_cast<unsigned int>(pic.bytes.size())));
    tag.addFrame(frame);  // the tag owns the frame
}

void ReadPictures(const TagLib::ID3v2::Tag& tag, const std::set<uint32_t>& storable, AttributeSet& out) {
    std::array<std::shared_ptr<PictureData>, kListSlots> primary{}, alternative{};
    std::shared_ptr<PictureData> lyrics, liner, other, leaflet;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("APIC")) {
        const auto* apic = dynamic_cast<const AttachedPictureFrame*>(frame);
        if (!apic || apic->picture().isEmpty()) continue;
        const TagLib::String desc = apic->description();
        const int slot = SlotOfType(apic->type());
        if (desc == kLyricsDesc) {
            if (!lyrics) lyrics = ToPicture(*apic);
        } else if (desc == kLinerDesc) {
            if (!liner) liner = ToPicture(*apic);
        } else if (desc.startsWith(kAltPrefix)) {
            if (slot >= 0 && !alternative[slot]) alternative[slot] = ToPicture(*apic);
        } else if (slot >= 0) {
            if (!primary[slot]) primary[slot] = ToPicture(*apic);
        } else if (apic->type() == AttachedPictureFrame::Other) {
            if (!other) other = ToPicture(*apic);
        } else if (apic->type() == AttachedPictureFrame::LeafletPage) {
            if (!leaflet) leaflet = ToPicture(*apic);
        }
    }
    // Tools that do not set a picture type write "Other": treat it as the cover.
    if (!primary[0]) primary[0] = other;
    if (!liner) liner = leaflet;
    if (storable.count(attr::Jacket)) {
        if (ValueList v = Compact(primary); !v.empty()) out[attr::Jacket] = std::move(v);
    }
    if (storable.count(attr::JacketAlt)) {
        if (ValueList v = Compact(alternative); !v.empty()) out[attr::JacketAlt] = std::move(v);
    }
    if (lyrics && storable.count(attr::LyricsPicture)) out[attr::LyricsPicture] = {lyrics};
    if (liner && storable.count(attr::LinerNotesPicture)) out[attr::LinerNotesPicture] = {liner};
}

// Whether the picture attributes of `tags` are what `tag` reads as now. A
// save that leaves them so keeps every APIC frame as it is: reading moves
// later kinds up and takes one picture of each, so writing them anew would
// turn a lone back cover into a front cover and drop a second front cover
// although the user changed no picture.
bool PicturesAsStored(const AttributeSet& tags, const std::set<uint32_t>& storable,
                      const TagLib::ID3v2::Tag& tag) {
    AttributeSet stored;
    ReadPictures(tag, storable, stored);
    return SamePictures(tags, stored, attr::Jacket, kListSlots) &&
           SamePictures(tags, stored, attr::JacketAlt, kListSlots) &&
           SamePictures(tags, stored, attr::LyricsPicture, 1) &&
           SamePictures(tags, stored, attr::LinerNotesPicture, 1);
}

}  // namespace

void ReadId3v2(const TagLib::ID3v2::Tag& tag, const std::set<uint32_t>& storable, AttributeSet& out) {
    ReadProperties(tag.properties(), storable, out);
    ReadPictures(tag, storable, out);
}

void WriteId3v2(const AttributeSet& tags, const std::set<uint32_t>& storable, TagLib::ID3v2::Tag& tag) {
    TagLib::PropertyMap props = tag.properties();
    WriteProperties(tags, storable, props);
    tag.setProperties(props);

    if (PicturesAsStored(tags, storable, tag)) return;
    for (TagLib::ID3v2::Frame* frame : OurPictureFrames(tag)) tag.removeFrame(frame, true);
    const auto primary = PicturesOf(tags, attr::Jacket, kListSlots);
    for (size_t i = 0; i < primary.size(); ++i) AddPicture(tag, *primary[i], kSlotTypes[i], kSlotNames[i]);
    const auto alternative = PicturesOf(tags, attr::JacketAlt, kListSlots);
    for (size_t i = 0; i < alternative.size(); ++i) {
        TagLib::String desc = kAltPrefix;
        if (i > 0) desc += TagLib::String(" ") + kSlotNames[i];
        AddPicture(tag, *alternative[i], kSlotTypes[i], desc);
    }
    if (auto p = PicturesOf(tags, attr::LyricsPicture, 1); !p.empty())
        AddPicture(tag, *p[0], AttachedPictureFrame::Other, kLyricsDesc);
    if (auto p = PicturesOf(tags, attr::LinerNotesPicture, 1); !p.empty())
        AddPicture(tag, *p[0], AttachedPictureFrame::LeafletPage, kLinerDesc);
}

}  // namespace medialib
