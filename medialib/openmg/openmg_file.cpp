#include "medialib/openmg/openmg_file.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/atomic_save.h"
#include "medialib/core/text_utf.h"
#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_tag.h"
#include "medialib/openmg/openmg_package.h"

namespace medialib {
namespace openmg {
namespace {

// Tags larger than this are treated as damaged: no OpenMG writer comes close,
// and reading one must not cost unbounded memory.
constexpr uint64_t kMaxTagRead = 64ull << 20;

struct Layout {
    bool tagged = false;
    std::vector<TagFrame> frames;
    Ea3Header header;
    uint64_t header_offset = 0;  // of the EA3 header; the payload follows it
};

std::optional<Layout> ReadLayout(const ByteSource& src) {
    const uint64_t size = src.Size();
    uint8_t head[kEa3HeaderSize] = {};
    const size_t got = src.ReadAt(0, head, sizeof(head));
    Layout layout;
    if (const auto total = Ea3TagTotalSize(std::span(head, got))) {
        if (*total > kMaxTagRead || *total > size || size - *total < kEa3HeaderSize) return std::nullopt;
        std::vector<uint8_t> tag(*total);
        if (src.ReadAt(0, tag.data(), tag.size()) != tag.size()) return std::nullopt;
        layout.tagged = true;
        layout.frames = SplitEa3Tag(tag);
        layout.header_offset = *total;
    } else if (!IsEa3Header(std::span(head, got))) {
        return std::nullopt;
    }
    uint8_t header[kEa3HeaderSize];
    if (src.ReadAt(layout.header_offset, header, sizeof(header)) != sizeof(header)) return std::nullopt;
    const auto parsed = ParseEa3Header(header);
    if (!parsed) return std::nullopt;
    layout.header = *parsed;
    return layout;
}

std::string LowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

// What each container number can store. .omg and .kdr files lack the fields
// that the player keeps in side tags for them; the legacy package stores
// nothing.
std::set<uint32_t> StorableFor(int32_t container) {
    std::set<uint32_t> ids = AllTagAttributeIds();
    static constexpr uint32_t kOmgLacks[] = {
        attr::SortAlbum,      attr::TotalTracks,   attr::Import,           attr::LyricsText,
        attr::LinerNotesText, attr::LyricsPicture, attr::LinerNotesPicture};
    static constexpr uint32_t kKdrLacks[] = {
        attr::Subtitle,         attr::SortSubtitle, attr::ArtistURL,      attr::AlbumArtist,
        attr::SortAlbumArtist,  attr::Composer,     attr::Lyricist,       attr::Release,
        attr::ReleaseYear,      attr::LyricsText,   attr::LinerNotesText, attr::LyricsPicture,
        attr::LinerNotesPicture};
    if (container == container::Omg) {
        for (uint32_t id : kOmgLacks) ids.erase(id);
    } else if (container == container::Kdr) {
        for (uint32_t id : kKdrLacks) ids.erase(id);
    }
    return ids;
}

int32_t ContainerFor(const std::filesystem::path& path, bool protected_content) {
    const std::string ext = LowerExtension(path);
    if (ext == ".omg") return container::Omg;
    if (ext == ".kdr") return container::Kdr;
    return protected_content ? container::ProtectedOma : container::Oma;
}

int32_t ClampToInt32(double v) {
    if (!(v > 0)) return 0;
    return v >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(std::llround(v));
}

void SetFileAttributes(AttributeSet& a, uint64_t size, const std::filesystem::path& path) {
    a[attr::Size] = {static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX))};
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    // File names are bytes: one that is not UTF-8 shows U+FFFD rather than
    // failing the open.
    a[attr::Location] = {Utf8ToUtf16((ec ? path : full).lexically_normal().string())};
    a[attr::Extension] = {Utf8ToUtf16(LowerExtension(path))};
}

void SetStreamAttributes(AttributeSet& a, const StreamInfo& s) {
    if (s.seconds > 0) {
        a[attr::Duration] = {ClampToInt32(s.seconds)};
        a[attr::MilliSecond] = {ClampToInt32(s.seconds * 1000.0)};
    }
    if (s.codec >= 0) a[attr::Codec] = {s.codec};
    if (s.bit_rate > 0) a[attr::BitRate] = {s.bit_rate};
    if (s.base_bit_rate > 0) a[attr::BitRateAlt] = {s.base_bit_rate};
    if (s.sample_rate > 0) a[attr::Frequency] = {s.sample_rate};
    if (s.bits_per_sample > 0) {
        a[attr::BitDepth] = {s.bits_per_sample};
        a[attr::BitDepthAlt] = {s.bits_per_sample};
    }
    if (s.channels > 0) a[attr::Channel] = {s.channels};
}

void SetText(AttributeSet& a, uint32_t id, const std::u16string& text, uint32_t alt = 0) {
    if (text.empty()) return;
    a[id] = {text};
    if (alt != 0) a[alt] = {text};
}

class OpenMgFile final : public OpenedFile {
  public:
    int32_t Container() const override { return container_; }
    int32_t Codec() const override { return codec_; }
    const AttributeSet& Attributes() const override { return attributes_; }
    bool CanStore(uint32_t id) const override { return storable_.count(id) != 0; }
    bool Decodable() const override { return decodable_; }
    bool Save(const std::filesystem::path& path, const AttributeSet& tags) override;

    // Fills this object from a file with the ea3/EA3 layout; false when the
    // stream description fails.
    bool LoadEa3(const ByteSource& src, const Layout& layout, const std::filesystem::path& path);
    // Fills this object from a legacy package.
    void LoadPackage(const ByteSource& src, const PackageInfo& info, const std::filesystem::path& path);

  private:
    int32_t container_ = container::Oma;
    int32_t codec_ = -1;
    bool decodable_ = false;
    bool read_only_ = false;
    std::set<uint32_t> storable_;
    AttributeSet attributes_;
};

bool OpenMgFile::LoadEa3(const ByteSource& src, const Layout& layout, const std::filesystem::path& path) {
    const auto stream = DescribeStream(src, layout.header_offset + kEa3HeaderSize, layout.header);
    if (!stream) return false;
    const bool protected_content = !IsPlainEid(layout.header.eid);
    container_ = ContainerFor(path, protected_content);
    codec_ = stream->codec;
    decodable_ = stream->decodable;
    storable_ = StorableFor(container_);
    AttributeSet a;
    std::vector<bool> owned;
    ReadTagAttributes(layout.frames, storable_, a, owned);
    SetStreamAttributes(a, *stream);
    a[attr::Format] = {container_};
    SetFileAttributes(a, src.Size(), path);
    attributes_ = std::move(a);
    return true;
}

void OpenMgFile::LoadPackage(const ByteSource& src, const PackageInfo& info,
                             const std::filesystem::path& path) {
    container_ = container::Omg;
    decodable_ = false;
    read_only_ = true;
    AttributeSet a;
    SetText(a, attr::Title, info.title);
    SetText(a, attr::Artist, info.artist);
    SetText(a, attr::Album, info.album, attr::AlbumAlt);
    SetText(a, attr::Genre, info.genre);
    if (info.track_number > 0) {
        a[attr::TrackNumber] = {info.track_number};
        a[attr::TrackNumberAlt] = {info.track_number};
    }
    if (info.rendition_format == "audio/atrac3") {
        // The header sequence gives the ATRAC3 payload length and frame size;
        // packages carry 44.1 kHz stereo ATRAC3 (1024 samples per frame).
        codec_ = codec::Atrac3;
        StreamInfo s;
        s.codec = codec_;
        s.bits_per_sample = 16;
        if (info.frame_size > 0 && info.frame_size <= 0x3FF * 8) {
            s.sample_rate = 44100;
            s.channels = 2;
            // The length is an untrusted 64-bit integer; the payload lies
            // inside the file, so the file's size bounds it.
            const uint64_t payload = std::min<uint64_t>(info.audio_length, src.Size());
            s.total_samples = static_cast<int64_t>(payload / info.frame_size) * 1024;
            s.seconds = static_cast<double>(s.total_samples) / s.sample_rate;
            s.bit_rate = static_cast<int32_t>(44100LL * info.frame_size * 8 / 1024);
        }
        SetStreamAttributes(a, s);
    }
    a[attr::Format] = {container_};
    SetFileAttributes(a, src.Size(), path);
    attributes_ = std::move(a);
}

bool IsPictureId(uint32_t id) {
    return id == attr::Jacket || id == attr::JacketAlt || id == attr::LyricsPicture ||
           id == attr::LinerNotesPicture;
}

std::set<uint32_t> PictureIds(const std::set<uint32_t>& storable) {
    std::set<uint32_t> out;
    for (uint32_t id : storable) {
        if (IsPictureId(id)) out.insert(id);
    }
    return out;
}

// Whether `tags` differs from `stored` in pictures and in nothing else among
// the storable ids.
bool OnlyPicturesChange(const AttributeSet& tags, const AttributeSet& stored,
                        const std::set<uint32_t>& storable) {
    static const ValueList kNone;
    const auto same = [&](uint32_t id) {
        const auto a = tags.find(id);
        const auto b = stored.find(id);
        const ValueList& x = a == tags.end() ? kNone : a->second;
        const ValueList& y = b == stored.end() ? kNone : b->second;
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i) {
            if (!SameValue(x[i], y[i])) return false;
        }
        return true;
    };
    bool pictures_change = false;
    for (uint32_t id : storable) {
        if (!IsPictureId(id)) {
            if (!same(id)) return false;
        } else if (!same(id)) {
            pictures_change = true;
        }
    }
    return pictures_change;
}

// Writes all of `src` from `offset` to the end into `fd`.
bool CopyRange(const ByteSource& src, uint64_t offset, int fd) {
    std::vector<uint8_t> buffer(1 << 20);
    const uint64_t size = src.Size();
    while (offset < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - offset));
        if (src.ReadAt(offset, buffer.data(), want) != want || !WriteAll(fd, buffer.data(), want))
            return false;
        offset += want;
    }
    return true;
}

bool OpenMgFile::Save(const std::filesystem::path& path, const AttributeSet& tags) {
    if (read_only_) return false;
    try {
        std::error_code ec;
        std::filesystem::path target = std::filesystem::canonical(path, ec);
        if (ec) return false;
        if (::access(target.c_str(), W_OK) != 0) return false;  // a read-only file stays as it is
        {
            // Saving re-reads the file rather than trusting what Open saw, so a
            // file changed in between is handled by its current content.
            const std::unique_ptr<ByteSource> src = OpenFileSource(target);
            if (!src) return false;
            const auto layout = ReadLayout(*src);
            if (!layout) return false;
            AttributeSet current;
            std::vector<bool> owned;
            ReadTagAttributes(layout->frames, storable_, current, owned);
            // A save that changes pictures only (a cover set or removed)
            // rewrites the picture objects alone: every other frame stays
            // byte for byte and in its place, so other readers see the
            // file's text exactly as before.
            std::set<uint32_t> rendered = storable_;
            if (OnlyPicturesChange(tags, current, storable_)) {
                rendered = PictureIds(storable_);
                current.clear();
                ReadTagAttributes(layout->frames, rendered, current, owned);
            }
            std::vector<TagFrame> kept;
            for (size_t i = 0; i < layout->frames.size(); ++i) {
                if (!owned[i]) kept.push_back(layout->frames[i]);
            }
            const auto tag = RenderEa3Tag(tags, rendered, kept);
            // A tag larger than the reader takes would leave a file that no
            // longer opens (pictures of 20 MB and more add up quickly): such
            // a save is refused and the file stays as it was.
            if (!tag || tag->size() > kMaxTagRead) return false;
            const bool written = WriteAtomically(target, [&](int fd) {
                return WriteAll(fd, tag->data(), tag->size()) && CopyRange(*src, layout->header_offset, fd);
            });
            if (!written) return false;
        }
        // Show what the file now holds.
        if (const std::unique_ptr<ByteSource> written = OpenFileSource(target)) {
            if (const auto layout = ReadLayout(*written)) LoadEa3(*written, *layout, path);
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool WriteDemoOma(const std::filesystem::path& path, double seconds, const DemoOmaOptions& options) {
    if (!(seconds >= 0) || seconds > 3600) return false;
    const auto tag = RenderEa3Tag(options.tags, AllTagAttributeIds(), {});
    if (!tag) return false;
    Ea3Header header;
    header.codec_id = static_cast<uint8_t>(OmaCodec::Lpcm);
    const auto header_bytes = RenderEa3Header(header);

    const int64_t frames = std::llround(seconds * 44100);
    std::vector<uint8_t> pcm(static_cast<size_t>(frames) * 4);
    const double step = 2 * std::numbers::pi * options.frequency / 44100;
    const double scale = std::clamp(options.amplitude, 0.0, 1.0) * 32767;
    for (int64_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(std::lround(std::sin(step * static_cast<double>(i)) * scale));
        WriteBe16(&pcm[static_cast<size_t>(i) * 4], static_cast<uint16_t>(v));
        WriteBe16(&pcm[static_cast<size_t>(i) * 4 + 2], static_cast<uint16_t>(v));
    }

    const auto write = [&](int fd) {
        return WriteAll(fd, tag->data(), tag->size()) &&
               WriteAll(fd, header_bytes.data(), header_bytes.size()) && WriteAll(fd, pcm.data(), pcm.size());
    };
    return WriteWholeFile(path, write);
}

}  // namespace openmg

namespace openmg {

std::optional<Ea3Stream> LocateEa3Stream(const ByteSource& src) {
    try {
        const auto layout = ReadLayout(src);
        if (!layout) return std::nullopt;
        Ea3Stream stream;
        stream.header = layout->header;
        stream.audio_start = layout->header_offset + kEa3HeaderSize;
        const auto info = DescribeStream(src, stream.audio_start, layout->header);
        if (!info) return std::nullopt;
        stream.info = *info;
        return stream;
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // absurd sizes in the content
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace openmg

bool LooksLikeOpenMg(std::span<const uint8_t> head) {
    if (head.size() >= openmg::kTagHeaderSize && openmg::Ea3TagTotalSize(head)) return true;
    if (head.size() >= 6 && std::memcmp(head.data(), "EA3", 3) == 0 && head[4] == 0 && head[5] == 0x60)
        return true;
    return openmg::LooksLikeOpenMgPackage(head);
}

std::unique_ptr<OpenedFile> OpenOpenMg(const ByteSource& src, const std::filesystem::path& path) {
    try {
        uint8_t head[64] = {};
        const size_t got = src.ReadAt(0, head, sizeof(head));
        auto file = std::make_unique<openmg::OpenMgFile>();
        if (openmg::LooksLikeOpenMgPackage(std::span(head, got))) {
            const auto info = openmg::ParseOpenMgPackage(src);
            if (!info) return nullptr;
            file->LoadPackage(src, *info, path);
            return file;
        }
        const auto layout = openmg::ReadLayout(src);
        if (!layout || !file->LoadEa3(src, *layout, path)) return nullptr;
        return file;
    } catch (const std::bad_alloc&) {
        return nullptr;  // absurd sizes in the content
    } catch (const std::length_error&) {
        return nullptr;
    }
}

}  // namespace medialib
