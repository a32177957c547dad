#include "medialib/mpeg/mp3_file.h"

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>

#include "library/media_ids.h"
#include "medialib/core/property_mapping.h"
#include "medialib/core/snapshot_file.h"
#include "medialib/core/taglib_stream.h"
#include "medialib/core/technical.h"
#include "medialib/ffmpeg/probe.h"
#include "medialib/mpeg/frame_headers.h"
#include "medialib/mpeg/id3v2_mapping.h"

namespace medialib {
namespace {

// A plausible MPEG audio frame header: sync, a defined version and layer, a
// bit-rate index other than "free"/"bad" and a defined sample rate.
bool IsFrameHeader(std::span<const uint8_t> h) {
    if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const int version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
    const int bitrate = h[2] >> 4, rate = (h[2] >> 2) & 3;
    return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3;
}

bool Save(const std::filesystem::path& copy, const AttributeSet& tags) {
    TagLib::MPEG::File file(copy.c_str(), false);
    if (!file.isValid() || file.readOnly()) return false;
    WriteId3v2(tags, Mp3Storable(), *file.ID3v2Tag(true));
    int which = TagLib::MPEG::File::ID3v2;
    if (file.hasID3v1Tag()) {
        TagLib::Tag::duplicate(file.ID3v2Tag(), file.ID3v1Tag(), true);
        which |= TagLib::MPEG::File::ID3v1;
    }
    return file.save(which, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate);
}

std::unique_ptr<OpenedFile> Reopen(const std::filesystem::path& path) {
    auto src = OpenFileSource(path);
    return src ? OpenMp3(*src, path) : nullptr;
}

}  // namespace

bool LooksLikeMp3(std::span<const uint8_t> head) {
    if (head.size() >= 10 && head[0] == 'I' && head[1] == 'D' && head[2] == '3' && head[3] >= 2 &&
        head[3] <= 4 && head[4] != 0xFF && (head[6] | head[7] | head[8] | head[9]) < 0x80)
        return true;
    return IsFrameHeader(head);
}

const std::set<uint32_t>& Mp3Storable() { return AllTagAttributes(); }

std::unique_ptr<OpenedFile> OpenMp3(const ByteSource& src, const std::filesystem::path& path) {
    // The frame headers give the stream facts of a plain MP3 without FFmpeg;
    // FFmpeg measures the rest, told the format when the headers leave no
    // doubt, left to detect it where they do.
    StreamInfo info;
    switch (mpeg::ReadStreamFacts(src, info)) {
        case mpeg::HeaderFacts::Complete:
            break;
        case mpeg::HeaderFacts::MpegAudio:
            if (!ff::ProbeStream(src, info, "mp3")) return nullptr;
            break;
        case mpeg::HeaderFacts::NotPlainMpeg:
            if (!ff::ProbeStream(src, info)) return nullptr;
            break;
    }
    if (info.codec != AudioCodec::Mp3 && info.codec != AudioCodec::MpegLayer12) return nullptr;

    AttributeSet attrs;
    auto stream = MakeTagLibStream(src);
    TagLib::MPEG::File file(stream.get(), TagLib::ID3v2::FrameFactory::instance(), false);
    if (file.isValid()) {
        if (file.hasID3v2Tag()) {
            ReadId3v2(*file.ID3v2Tag(), Mp3Storable(), attrs);
        } else if (file.hasID3v1Tag()) {
            // Only the old fixed fields exist; map them through the same table.
            ReadProperties(file.ID3v1Tag()->properties(), Mp3Storable(), attrs);
        }
    }
    const int32_t codec = CodecNumber(info);
    AddTechnicalAttributes(attrs, info, container::Mp3, codec, src.Size(), path);
    return std::make_unique<SnapshotFile>(container::Mp3, codec, std::move(attrs), Mp3Storable(), true, Save,
                                          Reopen);
}

}  // namespace medialib
