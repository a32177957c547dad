#include "medialib/riff/wav_file.h"

#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <cstring>

#include "library/media_ids.h"
#include "medialib/core/property_mapping.h"
#include "medialib/core/snapshot_file.h"
#include "medialib/core/taglib_stream.h"
#include "medialib/core/technical.h"
#include "medialib/ffmpeg/probe.h"
#include "medialib/mpeg/id3v2_mapping.h"
#include "medialib/riff/pcm_facts.h"

namespace medialib {
namespace {

bool Save(const std::filesystem::path& copy, const AttributeSet& tags) {
    TagLib::RIFF::WAV::File file(copy.c_str(), false);
    if (!file.isValid() || file.readOnly()) return false;
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag();
    WriteId3v2(tags, WavStorable(), *id3);
    TagLib::RIFF::Info::Tag* info = file.InfoTag();
    info->setTitle(id3->title());
    info->setArtist(id3->artist());
    info->setAlbum(id3->album());
    info->setGenre(id3->genre());
    info->setComment(id3->comment());
    info->setYear(id3->year());
    info->setTrack(id3->track());
    return file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4);
}

std::unique_ptr<OpenedFile> Reopen(const std::filesystem::path& path) {
    auto src = OpenFileSource(path);
    return src ? OpenWav(*src, path) : nullptr;
}

}  // namespace

bool LooksLikeWav(std::span<const uint8_t> head) {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WAVE", 4) == 0;
}

const std::set<uint32_t>& WavStorable() { return AllTagAttributes(); }

std::unique_ptr<OpenedFile> OpenWav(const ByteSource& src, const std::filesystem::path& path) {
    // Plain PCM is measured from its chunks; everything else by FFmpeg.
    StreamInfo info;
    if (!riff::ReadPcmFacts(src, info) && !ff::ProbeStream(src, info, "wav")) return nullptr;

    AttributeSet attrs;
    auto stream = MakeTagLibStream(src);
    TagLib::RIFF::WAV::File file(stream.get(), false);
    if (file.isValid()) {
        if (file.hasID3v2Tag()) {
            ReadId3v2(*file.ID3v2Tag(), WavStorable(), attrs);
        } else if (file.hasInfoTag()) {
            ReadProperties(file.InfoTag()->properties(), WavStorable(), attrs);
        }
    }
    const int32_t codec = CodecNumber(info);
    AddTechnicalAttributes(attrs, info, container::Wav, codec, src.Size(), path);
    return std::make_unique<SnapshotFile>(container::Wav, codec, std::move(attrs), WavStorable(), codec >= 0,
                                          Save, Reopen);
}

}  // namespace medialib
