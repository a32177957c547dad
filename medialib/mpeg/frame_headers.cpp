#include "medialib/mpeg/frame_headers.h"

#include <algorithm>
#include <cstring>

namespace medialib::mpeg {
namespace {

// FFmpeg's mp3 demuxer counts time in units of 1/14112000 s (divisible by every
// MPEG audio rate); its lengths are rounded there first, then to milliseconds.
constexpr int64_t kTimeBase = 14112000;

// FFmpeg's analysis averages the frame bit rates over about the first fifty
// frames it reads; every frame in twice that window must agree for the
// average to be exactly the frames' rate.
constexpr int kScanFrames = 100;

// The header bits FFmpeg requires to repeat from one frame to the next when
// it looks for the first frame (sync, version, layer, sample rate, channel
// mode, copyright, original, emphasis): where they differ it searches on and
// starts the stream elsewhere. The quick path requires them throughout.
constexpr uint32_t kSameFrameMask = 0xFFFE0CCF;

// At most this many ID3v2 tags in a row before the audio.
constexpr int kMaxLeadingTags = 16;

constexpr int kBitRates[2][3][15] = {
    // MPEG-1: Layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // MPEG-2 and 2.5: Layer I, II, III
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
constexpr int kRates[3] = {44100, 48000, 32000};

// a * b / c rounded to the nearest, halves away from zero (FFmpeg's rescaling
// for non-negative values); c > 0.
int64_t Rescale(int64_t a, int64_t b, int64_t c) {
    const unsigned __int128 n = static_cast<unsigned __int128>(a) * static_cast<unsigned __int128>(b);
    return static_cast<int64_t>((n + static_cast<unsigned __int128>(c / 2)) /
                                static_cast<unsigned __int128>(c));
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Reads the source in blocks through one buffer on the stack, so walking a
// few hundred frame headers costs a handful of reads and no allocation.
class BlockReader {
  public:
    explicit BlockReader(const ByteSource& src) : src_(src), size_(src.Size()) {}

    uint64_t size() const { return size_; }

    // Pointer to `n` bytes at `offset` (n <= kBlock), or null when the source
    // holds fewer.
    const uint8_t* At(uint64_t offset, size_t n) {
        if (offset > size_ || size_ - offset < n) return nullptr;
        if (offset < base_ || offset + n > base_ + length_) {
            base_ = offset;
            length_ = src_.ReadAt(offset, block_, kBlock);
            if (length_ < n) {
                length_ = 0;
                return nullptr;
            }
        }
        return block_ + (offset - base_);
    }

    static constexpr size_t kBlock = 16 * 1024;

  private:
    const ByteSource& src_;
    uint64_t size_;
    uint64_t base_ = 0;
    size_t length_ = 0;
    uint8_t block_[kBlock];
};

// The offset of the first byte after the ID3v2 tags at the start, or -1 when
// a tag is one the fast path does not take for granted.
int64_t SkipLeadingTags(BlockReader& in) {
    uint64_t pos = 0;
    for (int tags = 0; tags <= kMaxLeadingTags; ++tags) {
        const uint8_t* h = in.At(pos, 10);
        if (!h || h[0] != 'I' || h[1] != 'D' || h[2] != '3') return static_cast<int64_t>(pos);
        if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80)) return -1;
        const uint64_t body = (uint64_t{h[6]} << 21) | (uint64_t{h[7]} << 14) | (uint64_t{h[8]} << 7) | h[9];
        pos += 10 + body + ((h[5] & 0x10) ? 10 : 0);
        if (pos > in.size()) return -1;
    }
    return -1;
}

// Fields that must stay the same from frame to frame for the stream to be
// plain: version, layer, sample rate and channel count.
bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sample_rate == b.sample_rate &&
           a.channels == b.channels;
}

// Whether any 4 bytes from `from` to the end read as a frame header.
bool HoldsFrameHeader(BlockReader& in, uint64_t from) {
    constexpr size_t kStep = BlockReader::kBlock / 2;
    for (uint64_t at = from; at < in.size() && in.size() - at >= 4; at += kStep) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kStep + 3, in.size() - at));
        const uint8_t* bytes = in.At(at, n);
        if (!bytes) return true;
        FrameHeader h;
        for (size_t i = 0; i + 4 <= n; ++i) {
            if (bytes[i] == 0xFF && ParseFrameHeader(bytes + i, h)) return true;
        }
    }
    return false;
}

struct XingHeader {
    bool found = false;
    bool is_info = false;  // "Info": written for constant bit rate streams
    uint32_t frames = 0;   // 0: no frame count
    uint32_t bytes = 0;    // 0: no byte count
    uint64_t flags_end = 0;
};

}  // namespace

bool ParseFrameHeader(const uint8_t* p, FrameHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version_bits = (p[1] >> 3) & 3, layer_bits = (p[1] >> 1) & 3;
    const int rate_index = p[2] >> 4, freq_index = (p[2] >> 2) & 3;
    if (version_bits == 1 || layer_bits == 0 || rate_index == 15 || freq_index == 3) return false;
    h.version = version_bits == 3 ? 1 : version_bits == 2 ? 2 : 25;
    h.layer = 4 - layer_bits;
    h.crc = (p[1] & 1) == 0;
    const bool lsf = h.version != 1;
    h.bit_rate = kBitRates[lsf ? 1 : 0][h.layer - 1][rate_index] * 1000;
    h.sample_rate = kRates[freq_index] >> (h.version == 1 ? 0 : h.version == 2 ? 1 : 2);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int padding = (p[2] >> 1) & 1;
    switch (h.layer) {
        case 1:
            h.samples = 384;
            h.bytes = h.bit_rate ? (12 * h.bit_rate / h.sample_rate + padding) * 4 : 0;
            break;
        case 2:
            h.samples = 1152;
            h.bytes = h.bit_rate ? 144 * h.bit_rate / h.sample_rate + padding : 0;
            break;
        default:
            h.samples = lsf ? 576 : 1152;
            h.bytes = h.bit_rate ? (lsf ? 72 : 144) * h.bit_rate / h.sample_rate + padding : 0;
            break;
    }
    return true;
}

HeaderFacts ReadStreamFacts(const ByteSource& src, StreamInfo& info) {
    BlockReader in(src);
    const int64_t start = SkipLeadingTags(in);
    if (start < 0) return HeaderFacts::NotPlainMpeg;
    const auto first_at = static_cast<uint64_t>(start);
    FrameHeader first;
    const uint8_t* p = in.At(first_at, 4);
    if (!p || !ParseFrameHeader(p, first) || first.bytes == 0) return HeaderFacts::NotPlainMpeg;
    const uint32_t first_word = Be32(p) & kSameFrameMask;
    FrameHeader second;
    p = in.At(first_at + static_cast<uint64_t>(first.bytes), 4);
    if (!p || !ParseFrameHeader(p, second) || !SameStream(first, second)) return HeaderFacts::NotPlainMpeg;
    const bool same_bits = (Be32(p) & kSameFrameMask) == first_word;
    // From here on the content is MPEG audio without doubt; what follows only
    // decides whether the headers alone give FFmpeg's numbers.
    if (first.layer != 3 || first.crc) return HeaderFacts::MpegAudio;

    // Xing/Info sits after the side information of the first frame.
    const int side_info =
        first.version == 1 ? (first.channels == 1 ? 17 : 32) : (first.channels == 1 ? 9 : 17);
    XingHeader xing;
    if (const uint8_t* x = in.At(first_at + 4 + static_cast<uint64_t>(side_info), 16)) {
        if (std::memcmp(x, "Xing", 4) == 0 || std::memcmp(x, "Info", 4) == 0) {
            xing.found = true;
            xing.is_info = x[0] == 'I';
            const uint32_t flags = Be32(x + 4);
            uint64_t at = first_at + 4 + static_cast<uint64_t>(side_info) + 8;
            if (flags & 1) {
                const uint8_t* f = in.At(at, 4);
                if (!f) return HeaderFacts::MpegAudio;
                xing.frames = Be32(f);
                at += 4;
            }
            if (flags & 2) {
                const uint8_t* b = in.At(at, 4);
                if (!b) return HeaderFacts::MpegAudio;
                xing.bytes = Be32(b);
                at += 4;
            }
            xing.flags_end = at;
        }
    }
    if (const uint8_t* v = in.At(first_at + 36, 4); v && std::memcmp(v, "VBRI", 4) == 0)
        return HeaderFacts::MpegAudio;
    // Without an Xing frame the first two frames are the pair FFmpeg checks
    // before it takes the stream to start there.
    if (!xing.found && !same_bits) return HeaderFacts::NotPlainMpeg;
    if (xing.found) {
        if (xing.frames == 0) return HeaderFacts::MpegAudio;
        if (!xing.is_info && xing.bytes == 0) return HeaderFacts::MpegAudio;
        if (xing.bytes != 0) {
            // FFmpeg drops the frame count of a header whose byte count is
            // far from what the file holds (concatenated files) and estimates
            // instead; take the count only well inside that margin.
            const uint64_t held = in.size() - xing.flags_end;
            const uint64_t declared = xing.bytes;
            const uint64_t low = held < declared ? held : declared;
            const uint64_t delta = held < declared ? declared - held : held - declared;
            if (low < 4096 || delta > (low >> 5)) return HeaderFacts::MpegAudio;
        }
    }

    // Walk the frames the analysis reads: same stream throughout, and the
    // same bit rate where the rate comes from the frames.
    const bool rate_from_frames = !xing.found || xing.is_info;
    uint64_t pos = first_at + (xing.found ? static_cast<uint64_t>(first.bytes) : 0);
    int bit_rate = 0;
    uint32_t audio_word = 0;
    int seen = 0;
    for (; seen < kScanFrames; ++seen) {
        if (in.size() - pos < 4) break;  // the end (or a few stray bytes)
        const uint8_t* h = in.At(pos, 4);
        FrameHeader frame;
        if (!h || !ParseFrameHeader(h, frame)) {
            // The end of the audio before the window is full: whatever is
            // left (tags) must hold nothing the analysis could take for a
            // frame header.
            if (HoldsFrameHeader(in, pos)) return HeaderFacts::MpegAudio;
            break;
        }
        // The Xing frame may differ from the audio frames in the bits FFmpeg
        // compares (encoders write it with their own mode and flags); the
        // audio frames after it may not.
        if (seen == 0) audio_word = Be32(h) & kSameFrameMask;
        if (!SameStream(first, frame) || frame.bytes == 0 || (Be32(h) & kSameFrameMask) != audio_word)
            return HeaderFacts::MpegAudio;
        if (rate_from_frames) {
            if (bit_rate == 0) bit_rate = frame.bit_rate;
            if (frame.bit_rate != bit_rate) return HeaderFacts::MpegAudio;
        }
        pos += static_cast<uint64_t>(frame.bytes);
        if (pos >= in.size()) {  // a last frame cut short still counts
            ++seen;
            break;
        }
    }
    if (seen == 0) return HeaderFacts::MpegAudio;

    info = StreamInfo{};
    info.codec = AudioCodec::Mp3;
    info.codec_name = "mp3";
    info.format_name = "mp3";
    info.sample_rate = first.sample_rate;
    info.channels = first.channels;
    int64_t duration = 0;  // in kTimeBase units
    if (xing.found) {
        duration = Rescale(int64_t{xing.frames} * first.samples, kTimeBase, first.sample_rate);
        info.bit_rate = xing.is_info ? bit_rate
                                     : Rescale(xing.bytes, int64_t{8} * first.sample_rate,
                                               int64_t{xing.frames} * first.samples);
    } else {
        info.bit_rate = bit_rate;
        duration = Rescale(static_cast<int64_t>(in.size() - first_at), 8 * kTimeBase, bit_rate);
    }
    info.duration_ms = Rescale(duration, 1000, kTimeBase);
    return info.bit_rate > 0 ? HeaderFacts::Complete : HeaderFacts::MpegAudio;
}

}  // namespace medialib::mpeg
