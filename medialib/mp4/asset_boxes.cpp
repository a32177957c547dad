#include "medialib/mp4/asset_boxes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "library/media_ids.h"
#include "medialib/core/dates.h"
#include "medialib/core/text_utf.h"
#include "medialib/core/unique_fd.h"

namespace medialib {
namespace {

constexpr int kMaxBoxes = 4096;
constexpr uint64_t kMaxPayload = 1 << 20;  // an asset box larger than this is not read

struct Walker {
    const ByteSource& src;
    int budget = kMaxBoxes;
    std::vector<AssetBox> found;

    bool ReadHeader(uint64_t pos, uint64_t end, uint64_t& size, uint64_t& header, char type[4]) {
        uint8_t h[16];
        if (end - pos < 8 || src.ReadAt(pos, h, 8) != 8) return false;
        size = (uint64_t{h[0]} << 24) | (uint64_t{h[1]} << 16) | (uint64_t{h[2]} << 8) | h[3];
        std::memcpy(type, h + 4, 4);
        header = 8;
        if (size == 1) {
            if (end - pos < 16 || src.ReadAt(pos + 8, h + 8, 8) != 8) return false;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | h[i];
            header = 16;
        } else if (size == 0) {
            size = end - pos;
        }
        return size >= header && size <= end - pos;
    }

    void Walk(uint64_t begin, uint64_t end, int depth) {
        for (uint64_t pos = begin; pos < end && budget-- > 0;) {
            uint64_t size = 0, header = 0;
            char type[4];
            if (!ReadHeader(pos, end, size, header, type)) return;
            const bool container = std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "trak", 4) == 0 ||
                                   std::memcmp(type, "udta", 4) == 0;
            if (container && depth < 4) {
                Walk(pos + header, pos + size, depth + 1);
            } else if (depth > 0 && IsAsset(type)) {
                ReadAsset(pos, header, size, type);
            }
            pos += size;
        }
    }

    static bool IsAsset(const char t[4]) {
        static const char* kTypes[] = {"titl", "perf", "auth", "albm", "gnre", "yrrc", "dscp", "cprt"};
        for (const char* k : kTypes) {
            if (std::memcmp(t, k, 4) == 0) return true;
        }
        return false;
    }

    void ReadAsset(uint64_t pos, uint64_t header, uint64_t size, const char type[4]) {
        const uint64_t payload = size - header;
        if (payload < 6 || payload > kMaxPayload) return;
        std::vector<uint8_t> p(static_cast<size_t>(payload));
        if (src.ReadAt(pos + header, p.data(), p.size()) != p.size()) return;
        AssetBox box;
        std::memcpy(box.type, type, 4);
        box.offset = pos;
        if (std::memcmp(type, "yrrc", 4) == 0) {
            box.number = (p[4] << 8) | p[5];
        } else {
            size_t end = 0;
            box.text = ReadString(p, 6, end);  // after version/flags and language
            if (std::memcmp(type, "albm", 4) == 0 && end < p.size()) box.number = p[end];
        }
        found.push_back(std::move(box));
    }

    // A NUL-terminated UTF-8 string, or UTF-16BE when it starts with FE FF.
    // `end` receives the offset after the terminator.
    static std::u16string ReadString(const std::vector<uint8_t>& p, size_t at, size_t& end) {
        if (at + 1 < p.size() && p[at] == 0xFE && p[at + 1] == 0xFF) {
            std::u16string s;
            size_t i = at + 2;
            for (; i + 1 < p.size(); i += 2) {
                const char16_t c = static_cast<char16_t>((p[i] << 8) | p[i + 1]);
                if (c == 0) {
                    i += 2;
                    break;
                }
                s.push_back(c);
            }
            end = i;
            return s;
        }
        size_t i = at;
        while (i < p.size() && p[i] != 0) ++i;
        std::u16string s =
            Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p.data()) + at, i - at));
        end = i < p.size() ? i + 1 : i;
        return s;
    }
};

bool Mapped(const char* t) {
    static const char* kMapped[] = {"titl", "perf", "auth", "albm", "gnre", "yrrc"};
    for (const char* k : kMapped) {
        if (std::strcmp(t, k) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<AssetBox> ReadAssetBoxes(const ByteSource& src) {
    Walker w{src, kMaxBoxes, {}};
    w.Walk(0, src.Size(), 0);
    return std::move(w.found);
}

void AddAssetAttributes(const std::vector<AssetBox>& boxes, AttributeSet& out) {
    auto text = [&](uint32_t id, const AssetBox& b) {
        if (!b.text.empty() && !out.count(id)) out[id] = {b.text};
    };
    for (const AssetBox& b : boxes) {
        const std::string t = b.type;
        if (t == "titl") text(attr::Title, b);
        if (t == "perf") text(attr::Artist, b);
        if (t == "auth") text(attr::Composer, b);
        if (t == "gnre") text(attr::Genre, b);
        if (t == "albm") {
            if (!b.text.empty() && !out.count(attr::Album)) {
                out[attr::Album] = {b.text};
                out[attr::AlbumAlt] = {b.text};
            }
            if (b.number > 0 && !out.count(attr::TrackNumber)) {
                out[attr::TrackNumber] = {int32_t{b.number}};
                out[attr::TrackNumberAlt] = {int32_t{b.number}};
            }
        }
        if (t == "yrrc" && b.number > 0 && !out.count(attr::ReleaseYear) && !out.count(attr::Release)) {
            CivilTime ct;
            ct.year = b.number;
            const std::string year = std::to_string(b.number);
            out[attr::ReleaseYear] = {std::u16string(year.begin(), year.end())};
            out[attr::Release] = {ToDateValue(ct)};
        }
    }
}

bool RetireAssetBoxes(const std::filesystem::path& file) {
    auto src = OpenFileSource(file);
    if (!src) return false;
    const std::vector<AssetBox> boxes = ReadAssetBoxes(*src);
    src.reset();
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    bool ok = true;
    for (const AssetBox& b : boxes) {
        if (Mapped(b.type)) ok = ok && ::pwrite(fd.get(), "free", 4, static_cast<off_t>(b.offset + 4)) == 4;
    }
    return fd.Close() && ok;
}

}  // namespace medialib
