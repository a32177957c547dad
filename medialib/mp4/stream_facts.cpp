#include "medialib/mp4/stream_facts.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace medialib::mp4 {
namespace {

// A movie box larger than this is no plain audio file; FFmpeg reads it.
constexpr uint64_t kMaxMovieBox = 32u << 20;
// Implicit SBR can only double a core rate up to this one.
constexpr int kMaxSbrCoreRate = 24000;

using Bytes = std::span<const uint8_t>;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint64_t Be64(const uint8_t* p) { return (uint64_t{Be32(p)} << 32) | Be32(p + 4); }
bool Is(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

struct Box {
    const uint8_t* type;
    Bytes body;
};

// The child boxes of `parent`, in order; nothing when one of them does not
// fit (a damaged tree is left to FFmpeg whole).
std::optional<std::vector<Box>> Children(Bytes parent) {
    std::vector<Box> boxes;
    size_t at = 0;
    while (at < parent.size()) {
        if (parent.size() - at < 8) return std::nullopt;
        const uint8_t* p = parent.data() + at;
        uint64_t size = Be32(p);
        size_t header = 8;
        if (size == 1) {
            if (parent.size() - at < 16) return std::nullopt;
            size = Be64(p + 8);
            header = 16;
        }
        if (size < header || size > parent.size() - at) return std::nullopt;
        boxes.push_back({p + 4, parent.subspan(at + header, static_cast<size_t>(size) - header)});
        at += static_cast<size_t>(size);
    }
    return boxes;
}

// The one child of a type; nothing when it is absent or repeated.
std::optional<Bytes> Only(const std::vector<Box>& boxes, const char* name) {
    std::optional<Bytes> found;
    for (const Box& b : boxes) {
        if (!Is(b.type, name)) continue;
        if (found) return std::nullopt;
        found = b.body;
    }
    return found;
}

size_t Count(const std::vector<Box>& boxes, const char* name) {
    size_t n = 0;
    for (const Box& b : boxes) n += Is(b.type, name);
    return n;
}

std::optional<Bytes> Path(Bytes from, std::initializer_list<const char*> names) {
    std::optional<Bytes> at = from;
    for (const char* name : names) {
        auto kids = Children(*at);
        if (!kids) return std::nullopt;
        at = Only(*kids, name);
        if (!at) return std::nullopt;
    }
    return at;
}

// value x mul / div, rounded to nearest with halves up (FFmpeg's time rescaling)
// or down (its bit rate arithmetic); nothing when it does not fit in 63 bits.
std::optional<uint64_t> Rescale(uint64_t value, uint64_t mul, uint64_t div, bool nearest = true) {
    if (div == 0) return std::nullopt;
    const unsigned __int128 product = static_cast<unsigned __int128>(value) * mul;
    if (product > static_cast<unsigned __int128>(INT64_MAX)) return std::nullopt;
    const unsigned __int128 r = (product + (nearest ? div / 2 : 0)) / div;
    if (r > static_cast<unsigned __int128>(INT64_MAX)) return std::nullopt;
    return static_cast<uint64_t>(r);
}

// Time scale and duration of an mvhd or mdhd box.
std::optional<std::pair<uint64_t, uint64_t>> ScaleAndDuration(Bytes b) {
    if (b.size() < 4) return std::nullopt;
    if (b[0] == 0 && b.size() >= 20) return std::make_pair(uint64_t{Be32(&b[12])}, uint64_t{Be32(&b[16])});
    if (b[0] == 1 && b.size() >= 32) return std::make_pair(uint64_t{Be32(&b[20])}, Be64(&b[24]));
    return std::nullopt;
}

class Bits {
  public:
    explicit Bits(Bytes b) : b_(b) {}
    size_t Left() const { return b_.size() * 8 - pos_; }
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_) v = (v << 1) | ((b_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
        return v;
    }

  private:
    Bytes b_;
    size_t pos_ = 0;
};

// An MPEG-4 descriptor: tag, then a length of up to four 7-bit groups.
std::optional<std::pair<uint8_t, Bytes>> Descriptor(Bytes& in) {
    if (in.empty()) return std::nullopt;
    const uint8_t tag = in[0];
    size_t at = 1, length = 0;
    for (int i = 0;; ++i) {
        if (i == 4 || at >= in.size()) return std::nullopt;
        const uint8_t byte = in[at++];
        length = (length << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) break;
    }
    if (length > in.size() - at) return std::nullopt;
    Bytes body = in.subspan(at, length);
    in = in.subspan(at + length);
    return std::make_pair(tag, body);
}

constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                          22050, 16000, 12000, 11025, 8000,  7350};

struct AacConfig {
    int rate = 0;
    int channels = 0;
};

// The esds box: ES descriptor, decoder config, AudioSpecificConfig of AAC-LC.
std::optional<AacConfig> ReadEsds(Bytes esds) {
    if (esds.size() < 4 || Be32(esds.data()) != 0) return std::nullopt;
    Bytes rest = esds.subspan(4);
    auto es = Descriptor(rest);
    if (!es || es->first != 0x03 || es->second.size() < 3) return std::nullopt;
    if (es->second[2] != 0) return std::nullopt;  // no dependence, URL or OCR fields
    Bytes inner = es->second.subspan(3);
    auto dcd = Descriptor(inner);
    if (!dcd || dcd->first != 0x04 || dcd->second.size() < 13) return std::nullopt;
    const Bytes d = dcd->second;
    if (d[0] != 0x40 || (d[1] >> 2) != 0x05) return std::nullopt;  // MPEG-4 audio stream
    AacConfig out;
    Bytes after = d.subspan(13);
    auto dsi = Descriptor(after);
    if (!dsi || dsi->first != 0x05 || dsi->second.size() < 2) return std::nullopt;

    Bits asc(dsi->second);
    if (asc.Get(5) != 2) return std::nullopt;  // AAC-LC only
    const uint32_t index = asc.Get(4);
    if (index == 15) {
        if (asc.Left() < 24 + 4 + 3) return std::nullopt;
        out.rate = static_cast<int>(asc.Get(24));
    } else if (index < std::size(kRates)) {
        out.rate = kRates[index];
    } else {
        return std::nullopt;
    }
    if (asc.Left() < 4 + 3) return std::nullopt;
    const uint32_t config = asc.Get(4);
    if (config < 1 || config > 6) return std::nullopt;
    out.channels = static_cast<int>(config);
    // 1024-sample frames, no core coder, no extension fields.
    if (asc.Get(3) != 0) return std::nullopt;
    // A trailing extension may only say that SBR is absent.
    if (asc.Left() >= 16) {
        if (asc.Get(11) != 0x2B7) return std::nullopt;
        if (asc.Get(5) != 5) return std::nullopt;
        if (asc.Left() < 1 || asc.Get(1) != 0) return std::nullopt;  // SBR present
    }
    // At a core rate low enough for implicit SBR the engine decodes frames to
    // look for it, and what the decoder makes of them (even of a stream whose
    // config says SBR is absent, when its frames are damaged) decides the
    // rate and channels; only FFmpeg can answer that.
    if (out.rate <= kMaxSbrCoreRate) return std::nullopt;
    return out;
}

// Sum of the sample durations and the sample count of an stts box.
std::optional<std::pair<uint64_t, uint64_t>> SampleTimes(Bytes stts) {
    if (stts.size() < 8 || Be32(stts.data()) != 0) return std::nullopt;
    const uint32_t entries = Be32(&stts[4]);
    if (entries == 0 || entries > (stts.size() - 8) / 8) return std::nullopt;
    uint64_t total = 0, samples = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t count = Be32(&stts[8 + 8 * i]);
        const uint32_t delta = Be32(&stts[12 + 8 * i]);
        if (count == 0 || delta == 0 || delta > INT32_MAX) return std::nullopt;
        total += uint64_t{count} * delta;
        samples += count;
    }
    return std::make_pair(total, samples);
}

// Sum of the sample sizes and the sample count of an stsz box.
std::optional<std::pair<uint64_t, uint64_t>> SampleBytes(Bytes stsz) {
    if (stsz.size() < 12 || Be32(stsz.data()) != 0) return std::nullopt;
    const uint32_t uniform = Be32(&stsz[4]);
    const uint32_t count = Be32(&stsz[8]);
    if (count == 0 || uniform > INT32_MAX) return std::nullopt;
    if (uniform != 0) return std::make_pair(uint64_t{uniform} * count, uint64_t{count});
    if (count > (stsz.size() - 12) / 4) return std::nullopt;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t size = Be32(&stsz[12 + 4 * i]);
        if (size > INT32_MAX) return std::nullopt;
        total += size;
    }
    if (total == 0 || total > (uint64_t{1} << 56)) return std::nullopt;
    return std::make_pair(total, uint64_t{count});
}

// Whether the sample-to-chunk table maps every sample, in chunks of the one
// sample description, and every chunk's bytes lie inside the file. FFmpeg
// builds its index from these tables; when they disagree its reading of the
// track changes, so such a file is left to it.
bool ChunksHoldSamples(Bytes stsc, Bytes offsets, bool wide, Bytes stsz, uint64_t file_size) {
    if (stsc.size() < 8 || Be32(stsc.data()) != 0 || offsets.size() < 8 || Be32(offsets.data()) != 0)
        return false;
    const uint32_t entries = Be32(&stsc[4]);
    const uint32_t chunks = Be32(&offsets[4]);
    const size_t width = wide ? 8 : 4;
    if (entries == 0 || entries > (stsc.size() - 8) / 12 || chunks == 0 ||
        chunks > (offsets.size() - 8) / width)
        return false;
    const uint32_t uniform = Be32(&stsz[4]);
    const uint32_t samples = Be32(&stsz[8]);
    uint32_t sample = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = &stsc[8 + 12 * i];
        const uint32_t first = Be32(e);
        const uint32_t per_chunk = Be32(e + 4);
        const uint32_t end = i + 1 < entries ? Be32(e + 12) : chunks + 1;
        if (Be32(e + 8) != 1 || per_chunk == 0 || (i == 0 && first != 1) || end <= first || end > chunks + 1)
            return false;
        for (uint32_t chunk = first; chunk < end; ++chunk) {
            if (per_chunk > samples - sample) return false;
            const uint8_t* o = &offsets[8 + width * (chunk - 1)];
            uint64_t at = wide ? Be64(o) : Be32(o);
            for (uint32_t k = 0; k < per_chunk; ++k, ++sample) {
                const uint64_t size = uniform ? uniform : Be32(&stsz[12 + 4 * sample]);
                if (at > file_size || size > file_size - at) return false;
                at += size;
            }
        }
    }
    return sample == samples;
}

// The track duration in media units from the media header, the sample table
// and the edit list, when they make the one plain case.
std::optional<uint64_t> TrackDuration(std::optional<Bytes> edts, uint64_t movie_scale, uint64_t media_scale,
                                      uint64_t media_duration, uint64_t sample_total) {
    if (!edts) {
        if (media_duration != sample_total) return std::nullopt;
        return media_duration;
    }
    auto elst = Path(*edts, {"elst"});
    auto kids = Children(*edts);
    if (!elst || !kids || kids->size() != 1 || elst->size() < 8) return std::nullopt;
    const Bytes e = *elst;
    if (Be32(&e[4]) != 1) return std::nullopt;
    uint64_t segment = 0;
    int64_t media_time = 0;
    size_t rate_at = 0;
    if (e[0] == 0 && e.size() >= 8 + 12) {
        segment = Be32(&e[8]);
        media_time = static_cast<int32_t>(Be32(&e[12]));
        rate_at = 16;
    } else if (e[0] == 1 && e.size() >= 8 + 20) {
        segment = Be64(&e[8]);
        media_time = static_cast<int64_t>(Be64(&e[16]));
        rate_at = 24;
    } else {
        return std::nullopt;
    }
    if (Be32(&e[rate_at]) != 0x00010000 || segment == 0 || media_time < 0) return std::nullopt;
    const auto length = Rescale(segment, media_scale, movie_scale);
    if (!length || *length == 0) return std::nullopt;
    // The edit must start inside the samples; an edit longer than the media
    // is cut to the media's duration.
    if (static_cast<uint64_t>(media_time) >= sample_total || media_duration != sample_total)
        return std::nullopt;
    return std::min(*length, media_duration);
}

std::optional<Bytes> SampleEntryEsds(Bytes stsd) {
    if (stsd.size() < 8 || Be32(stsd.data()) != 0 || Be32(&stsd[4]) != 1) return std::nullopt;
    auto entries = Children(stsd.subspan(8));
    if (!entries || entries->size() != 1 || !Is((*entries)[0].type, "mp4a")) return std::nullopt;
    return (*entries)[0].body;
}

}  // namespace

bool ReadAacFacts(const ByteSource& src, StreamInfo& info) {
    const uint64_t file_size = src.Size();
    std::optional<std::pair<uint64_t, uint64_t>> movie;  // offset and size of moov's body
    uint64_t at = 0;
    while (at < file_size) {
        uint8_t head[16];
        if (file_size - at < 8 || src.ReadAt(at, head, 8) != 8) return false;
        uint64_t size = Be32(head);
        uint64_t header = 8;
        if (size == 1) {
            if (file_size - at < 16 || src.ReadAt(at + 8, head + 8, 8) != 8) return false;
            size = Be64(head + 8);
            header = 16;
        } else if (size == 0) {
            size = file_size - at;
        }
        if (size < header || size > file_size - at) return false;
        if (Is(head + 4, "moof") || Is(head + 4, "mfra")) return false;
        if (Is(head + 4, "moov")) {
            if (movie) return false;
            movie = std::make_pair(at + header, size - header);
        }
        at += size;
    }
    if (!movie || movie->second > kMaxMovieBox) return false;
    std::vector<uint8_t> moov(static_cast<size_t>(movie->second));
    if (src.ReadAt(movie->first, moov.data(), moov.size()) != moov.size()) return false;

    const auto top = Children(moov);
    if (!top || Count(*top, "trak") != 1 || Count(*top, "mvex") != 0) return false;
    const auto mvhd = Only(*top, "mvhd");
    const auto trak = Only(*top, "trak");
    if (!mvhd || !trak) return false;
    const auto movie_times = ScaleAndDuration(*mvhd);
    if (!movie_times || movie_times->first == 0) return false;

    const auto track = Children(*trak);
    if (!track || Count(*track, "edts") > 1 || !Only(*track, "tkhd")) return false;
    const auto mdia = Only(*track, "mdia");
    if (!mdia) return false;
    const auto hdlr = Path(*mdia, {"hdlr"});
    const auto mdhd = Path(*mdia, {"mdhd"});
    if (!hdlr || hdlr->size() < 12 || !Is(&(*hdlr)[8], "soun") || !mdhd) return false;
    const auto media_times = ScaleAndDuration(*mdhd);
    if (!media_times || media_times->first == 0 || media_times->first > INT32_MAX) return false;

    // The samples lie in this file: one self-contained data reference.
    const auto dref = Path(*mdia, {"minf", "dinf", "dref"});
    if (!dref || dref->size() < 8 || Be32(dref->data()) != 0 || Be32(&(*dref)[4]) != 1) return false;
    const auto refs = Children(dref->subspan(8));
    if (!refs || refs->size() != 1 || !Is((*refs)[0].type, "url ") || (*refs)[0].body.size() != 4 ||
        Be32((*refs)[0].body.data()) != 1)
        return false;

    const auto stbl = Path(*mdia, {"minf", "stbl"});
    if (!stbl) return false;
    const auto tables = Children(*stbl);
    if (!tables) return false;
    const auto stsd = Only(*tables, "stsd");
    const auto stts = Only(*tables, "stts");
    const auto stsz = Only(*tables, "stsz");
    const auto stsc = Only(*tables, "stsc");
    const auto stco = Only(*tables, "stco");
    const auto co64 = Only(*tables, "co64");
    if (!stsd || !stts || !stsz || !stsc || Count(*tables, "stco") + Count(*tables, "co64") != 1)
        return false;

    // The sound sample entry: version 0, its rate (16.16) must agree with the config.
    const auto entry = SampleEntryEsds(*stsd);
    if (!entry || entry->size() < 28 || (*entry)[6] != 0 || (*entry)[7] != 1 || (*entry)[8] != 0 ||
        (*entry)[9] != 0)
        return false;
    const uint32_t entry_rate = Be32(&(*entry)[24]) >> 16;
    const auto children = Children(entry->subspan(28));
    if (!children) return false;
    const auto esds = Only(*children, "esds");
    if (!esds) return false;
    const auto aac = ReadEsds(*esds);
    if (!aac || static_cast<uint32_t>(aac->rate) != entry_rate) return false;

    const auto times = SampleTimes(*stts);
    const auto data_size = SampleBytes(*stsz);
    if (!times || !data_size || data_size->second != times->second ||
        !ChunksHoldSamples(*stsc, stco ? *stco : *co64, !stco, *stsz, file_size))
        return false;
    // The bit rate is what the sample sizes and durations make, whatever the
    // esds says.
    const auto bit_rate = Rescale(data_size->first * 8, media_times->first, times->first, false);
    if (!bit_rate || *bit_rate == 0) return false;

    const auto length = TrackDuration(Only(*track, "edts"), movie_times->first, media_times->first,
                                      media_times->second, times->first);
    if (!length) return false;
    const auto ms = Rescale(*length, 1000, media_times->first);
    if (!ms) return false;

    info = StreamInfo{};
    info.codec = AudioCodec::Aac;
    info.codec_name = "aac";
    info.format_name = "mov,mp4,m4a,3gp,3g2,mj2";
    info.sample_rate = aac->rate;
    info.channels = aac->channels;
    info.duration_ms = static_cast<int64_t>(*ms);
    info.bit_rate = static_cast<int64_t>(*bit_rate);
    return true;
}

}  // namespace medialib::mp4
