#include "medialib/openmg/openmg_package.h"

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "medialib/core/text_utf.h"

namespace medialib::openmg {
namespace {

constexpr int kMaxDepth = 8;
constexpr int kMaxElements = 4096;
constexpr uint64_t kMaxXml = 1 << 20;
constexpr char kUserXmlName[] = "OMG:FRINGE:USR:user.xml";

struct Element {
    uint8_t tag = 0;
    bool constructed = false;
    bool indefinite = false;
    uint64_t offset = 0;
    uint64_t header = 0;
    uint64_t length = 0;  // content length of a definite element
    uint64_t content() const { return offset + header; }
    bool end_of_contents() const { return tag == 0 && !indefinite && length == 0; }
};

class BerReader {
  public:
    explicit BerReader(const ByteSource& src) : src_(src), size_(src.Size()) {}

    std::optional<Element> Read(uint64_t offset, uint64_t limit) {
        if (--budget_ < 0 || offset >= limit) return std::nullopt;
        uint8_t b[10] = {};
        const size_t got = src_.ReadAt(offset, b, sizeof(b));
        if (got < 2 || (b[0] & 0x1F) == 0x1F) return std::nullopt;  // multi-byte tags are not used here
        Element e;
        e.tag = b[0];
        e.constructed = b[0] & 0x20;
        e.offset = offset;
        if (b[1] < 0x80) {
            e.header = 2;
            e.length = b[1];
        } else if (b[1] == 0x80) {
            if (!e.constructed) return std::nullopt;
            e.header = 2;
            e.indefinite = true;
        } else {
            const size_t n = b[1] & 0x7F;
            if (n > 8 || got < 2 + n) return std::nullopt;
            e.header = 2 + n;
            for (size_t i = 0; i < n; ++i) {
                if (e.length >> 56) return std::nullopt;
                e.length = e.length << 8 | b[2 + i];
            }
        }
        if (!e.indefinite && (e.length > limit - offset || e.header > limit - offset - e.length))
            return std::nullopt;
        return e;
    }

    // Calls `child` for each element inside `parent` (stopping early when it
    // returns false); returns the offset just past `parent`.
    std::optional<uint64_t> Children(const Element& parent, uint64_t limit, int depth,
                                     const std::function<bool(const Element&)>& child) {
        if (depth > kMaxDepth) return std::nullopt;
        const uint64_t end = parent.indefinite ? limit : parent.content() + parent.length;
        uint64_t pos = parent.content();
        bool want = true;
        while (true) {
            if (!parent.indefinite && pos == end) return end;
            const auto e = Read(pos, end);
            if (!e) return std::nullopt;
            if (e->end_of_contents()) {
                if (!parent.indefinite) return std::nullopt;
                return pos + 2;
            }
            if (want && child) want = child(*e);
            const auto next = Skip(*e, end, depth + 1);
            if (!next) return std::nullopt;
            pos = *next;
        }
    }

    std::optional<uint64_t> Skip(const Element& e, uint64_t limit, int depth) {
        if (!e.indefinite) return e.content() + e.length;
        return Children(e, limit, depth, nullptr);
    }

    std::optional<std::vector<uint8_t>> Content(const Element& e, uint64_t max) {
        if (e.indefinite || e.length > max) return std::nullopt;
        std::vector<uint8_t> out(e.length);
        if (src_.ReadAt(e.content(), out.data(), out.size()) != out.size()) return std::nullopt;
        return out;
    }

    uint64_t size() const { return size_; }

  private:
    const ByteSource& src_;
    uint64_t size_;
    int budget_ = kMaxElements;
};

// A tolerant reader for the small, flat XML of the package: records the text
// and attributes of the first element on each path ("package/album/caption/title").
class MiniXml {
  public:
    explicit MiniXml(const std::string& xml) { Parse(xml); }

    std::string Text(const std::string& path) const {
        auto it = values_.find(path);
        return it == values_.end() ? std::string() : it->second;
    }

  private:
    static std::string Decode(std::string_view s) {
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '&') {
                out.push_back(s[i]);
                continue;
            }
            const size_t semi = s.find(';', i);
            if (semi == std::string_view::npos || semi - i > 10) {
                out.push_back('&');
                continue;
            }
            const std::string_view name = s.substr(i + 1, semi - i - 1);
            uint32_t cp = 0;
            if (name == "amp")
                cp = '&';
            else if (name == "lt")
                cp = '<';
            else if (name == "gt")
                cp = '>';
            else if (name == "quot")
                cp = '"';
            else if (name == "apos")
                cp = '\'';
            else if (name.size() > 1 && name[0] == '#') {
                const bool hex = name[1] == 'x' || name[1] == 'X';
                for (char c : name.substr(hex ? 2 : 1)) {
                    const int d = c >= '0' && c <= '9'          ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                : -1;
                    if (d < 0 || cp > 0x10FFFF) {
                        cp = 0;
                        break;
                    }
                    cp = cp * (hex ? 16 : 10) + d;
                }
            }
            if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                out.push_back('&');
                continue;
            }
            AppendUtf8(out, cp);
            i = semi;
        }
        return out;
    }

    static std::string Trim(const std::string& s) {
        const size_t a = s.find_first_not_of(" \t\r\n");
        if (a == std::string::npos) return {};
        return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
    }

    void Record(const std::string& key, const std::string& value) {
        if (!values_.count(key)) values_[key] = value;
    }

    void Parse(const std::string& xml) {
        std::vector<std::string> stack;
        std::vector<std::string> texts;
        size_t i = 0;
        while (i < xml.size() && stack.size() < 32) {
            const size_t lt = xml.find('<', i);
            if (!stack.empty())
                texts.back() += xml.substr(i, (lt == std::string::npos ? xml.size() : lt) - i);
            if (lt == std::string::npos) break;
            if (xml.compare(lt, 4, "<!--") == 0) {
                const size_t e = xml.find("-->", lt);
                i = e == std::string::npos ? xml.size() : e + 3;
                continue;
            }
            const size_t gt = xml.find('>', lt);
            if (gt == std::string::npos) break;
            std::string inside = xml.substr(lt + 1, gt - lt - 1);
            i = gt + 1;
            if (inside.empty() || inside[0] == '?' || inside[0] == '!') continue;
            if (inside[0] == '/') {
                if (stack.empty()) continue;
                Record(Path(stack), Trim(Decode(texts.back())));
                stack.pop_back();
                texts.pop_back();
                continue;
            }
            const bool self_closing = inside.back() == '/';
            if (self_closing) inside.pop_back();
            size_t p = inside.find_first_of(" \t\r\n");
            stack.push_back(inside.substr(0, p));
            texts.emplace_back();
            const std::string path = Path(stack);
            // Attributes: name = "value" (spaces around '=' allowed).
            while (p != std::string::npos && p < inside.size()) {
                p = inside.find_first_not_of(" \t\r\n", p);
                if (p == std::string::npos) break;
                const size_t eq = inside.find('=', p);
                if (eq == std::string::npos) break;
                const std::string name = Trim(inside.substr(p, eq - p));
                const size_t q = inside.find_first_of("\"'", eq);
                if (q == std::string::npos) break;
                const size_t q2 = inside.find(inside[q], q + 1);
                if (q2 == std::string::npos) break;
                Record(path + "@" + name, Decode(inside.substr(q + 1, q2 - q - 1)));
                p = q2 + 1;
            }
            if (self_closing) {
                Record(path, "");
                stack.pop_back();
                texts.pop_back();
            }
        }
    }

    static std::string Path(const std::vector<std::string>& stack) {
        std::string out;
        for (const auto& s : stack) out += (out.empty() ? "" : "/") + s;
        return out;
    }

    std::map<std::string, std::string> values_;
};

bool EndsWithOpenMg(const std::vector<uint8_t>& oid) {
    return oid.size() >= 6 && std::memcmp(oid.data() + oid.size() - 6, "openMG", 6) == 0;
}

}  // namespace

bool LooksLikeOpenMgPackage(std::span<const uint8_t> head) {
    static constexpr uint8_t kStart[] = {0x30, 0x80, 0x30, 0x80, 0x06};
    return head.size() >= 13 && std::memcmp(head.data(), kStart, sizeof(kStart)) == 0 && head[5] >= 6 &&
           head[5] < 0x80 && head.size() >= 6u + head[5] &&
           std::memcmp(head.data() + 6 + head[5] - 6, "openMG", 6) == 0;
}

std::optional<PackageInfo> ParseOpenMgPackage(const ByteSource& src) {
    BerReader ber(src);
    const uint64_t size = ber.size();
    const auto top = ber.Read(0, size);
    if (!top || top->tag != 0x30 || !top->constructed) return std::nullopt;

    PackageInfo info;
    bool have_header = false;
    bool valid_header = false;
    std::optional<std::string> xml;
    std::vector<uint64_t> integers;

    const auto end = ber.Children(*top, size, 0, [&](const Element& child) {
        if (!have_header) {
            have_header = true;
            if (child.tag != 0x30) return false;
            bool first = true;
            ber.Children(child, size, 1, [&](const Element& e) {
                if (first) {
                    first = false;
                    const auto oid = ber.Content(e, 64);
                    valid_header = e.tag == 0x06 && oid && EndsWithOpenMg(*oid);
                    return valid_header;
                }
                if (e.tag == 0x02) {
                    const auto value = ber.Content(e, 8);
                    uint64_t n = 0;
                    if (value) {
                        for (uint8_t b : *value) n = n << 8 | b;
                    }
                    integers.push_back(n);
                }
                return integers.size() < 64;
            });
            return valid_header;
        }
        if (child.tag == 0x30 && !xml) {
            bool named = false;
            ber.Children(child, size, 1, [&](const Element& e) {
                if (e.tag != 0x04) return false;
                if (!named) {
                    const auto name = ber.Content(e, 64);
                    named = name && name->size() == sizeof(kUserXmlName) - 1 &&
                            std::memcmp(name->data(), kUserXmlName, name->size()) == 0;
                    return named;
                }
                if (const auto text = ber.Content(e, kMaxXml)) xml.emplace(text->begin(), text->end());
                return false;
            });
        }
        return true;
    });
    if (!valid_header || (!end && !xml)) return std::nullopt;

    // Header integers: version, key info, audio length, 0, codec info, frame size, 0.
    if (integers.size() >= 6) {
        info.audio_length = integers[2];
        info.frame_size = integers[5] <= 0xFFFF ? static_cast<uint32_t>(integers[5]) : 0;
    }
    if (xml) {
        const MiniXml doc(*xml);
        info.album = Utf8ToUtf16(doc.Text("package/album/caption/title"));
        info.title = Utf8ToUtf16(doc.Text("package/tracklist/track/caption/title"));
        info.artist = Utf8ToUtf16(doc.Text("package/tracklist/track/caption/artist"));
        info.genre = Utf8ToUtf16(doc.Text("package/tracklist/track/description/genre"));
        info.rendition_format = doc.Text("package/tracklist/track/renditionlist/rendition@format");
        const std::string number = doc.Text("package/tracklist/track@number");
        int64_t n = 0;
        bool digits = !number.empty() && number.size() <= 9;
        for (char c : number) digits = digits && c >= '0' && c <= '9';
        if (digits) n = std::stoll(number);
        info.track_number = static_cast<int32_t>(n);
    }
    return info;
}

}  // namespace medialib::openmg
