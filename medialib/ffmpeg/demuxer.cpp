#include "medialib/ffmpeg/demuxer.h"

#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace medialib::ff {
namespace {

constexpr int kIoBufferSize = 32 * 1024;

struct QuietLog {
    // The engine reports damage through its own results; FFmpeg's console
    // warnings about damaged input would only clutter the programs' output.
    QuietLog() { av_log_set_level(AV_LOG_QUIET); }
};

bool HeaderIsComplete(const AVFormatContext* fmt) {
    if (fmt->nb_streams == 0) return false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) return false;
        if (par->codec_id == AV_CODEC_ID_NONE || par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 ||
            par->bit_rate <= 0 || st->duration <= 0 || (par->codec_id == AV_CODEC_ID_AAC && !par->extradata))
            return false;
    }
    return true;
}

// One spare I/O buffer per thread: a demuxer takes it instead of allocating
// 32 KiB, and leaves its own for the next, so a scan opening file after file
// allocates none. FFmpeg may have replaced the buffer it was given; one it
// grew is not kept, since avio reads as much as the buffer holds.
struct SpareBuffer {
    unsigned char* data = nullptr;
    SpareBuffer() = default;
    SpareBuffer(const SpareBuffer&) = delete;
    SpareBuffer& operator=(const SpareBuffer&) = delete;
    ~SpareBuffer() { av_free(data); }
};

SpareBuffer& Spare() {
    thread_local SpareBuffer spare;
    return spare;
}

unsigned char* TakeIoBuffer() {
    SpareBuffer& spare = Spare();
    if (spare.data) return std::exchange(spare.data, nullptr);
    return static_cast<unsigned char*>(av_malloc(kIoBufferSize));
}

void KeepIoBuffer(AVIOContext* io) {
    SpareBuffer& spare = Spare();
    if (!io || !io->buffer || spare.data || io->buffer_size != kIoBufferSize) return;
    spare.data = std::exchange(io->buffer, nullptr);
}

// The demuxer of a name. FFmpeg finds it by comparing the name with every
// demuxer it has, a good part of a quick open; the answer never changes.
const AVInputFormat* FindFormat(const char* name) {
    static std::mutex mutex;
    static std::map<std::string, const AVInputFormat*, std::less<>> known;
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = known.find(std::string_view(name));
    if (it != known.end()) return it->second;
    const AVInputFormat* format = av_find_input_format(name);
    known.emplace(name, format);
    return format;
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// FFmpeg's RIFF INFO reader bounds each item by the LIST chunk's declared
// size, not by the file's, and allocates and zeroes the item's declared size
// before reading it: a LIST chunk claiming more than the file holds made a
// few hundred bytes cost gigabytes and seconds. Such a size field reads as
// the bytes that are really there; nothing else of the file changes.
std::vector<Demuxer::Patch> Demuxer::ClampRiffLists(const ByteSource& source) {
    std::vector<Patch> patches;
    uint8_t head[12];
    if (source.ReadAt(0, head, sizeof(head)) != sizeof(head) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return patches;
    const uint64_t end = source.Size();
    uint64_t pos = 12;
    for (int chunks = 0; chunks < 4096 && pos <= end && end - pos >= 8; ++chunks) {
        uint8_t chunk[8];
        if (source.ReadAt(pos, chunk, sizeof(chunk)) != sizeof(chunk)) break;
        const uint64_t size = ReadLe32(chunk + 4);
        const uint64_t room = end - pos - 8;
        if (std::memcmp(chunk, "LIST", 4) == 0 && size > room) {
            Patch p{pos + 4, {}};
            const auto clamped = static_cast<uint32_t>(room);
            for (int i = 0; i < 4; ++i) p.bytes[i] = static_cast<uint8_t>(clamped >> (8 * i));
            patches.push_back(p);
        }
        if (size > room) break;
        pos += 8 + size + (size & 1);
    }
    return patches;
}

Demuxer::~Demuxer() {
    format_.reset();
    KeepIoBuffer(io_.get());
    io_.reset();
}

std::unique_ptr<Demuxer> Demuxer::Open(const ByteSource& source, const char* format_name) {
    static QuietLog quiet;
    std::unique_ptr<Demuxer> d(new Demuxer());
    d->cursor_ = std::make_unique<Cursor>(Cursor{&source, 0, ClampRiffLists(source)});

    unsigned char* buffer = TakeIoBuffer();
    if (!buffer) return nullptr;
    auto read = [](void* opaque, uint8_t* buf, int size) -> int {
        auto* c = static_cast<Cursor*>(opaque);
        const size_t got = c->source->ReadAt(c->pos, buf, static_cast<size_t>(size));
        if (got == 0) return AVERROR_EOF;
        for (const Patch& p : c->patches) {
            for (uint64_t i = 0; i < 4; ++i) {
                if (p.offset + i >= c->pos && p.offset + i < c->pos + got)
                    buf[p.offset + i - c->pos] = p.bytes[i];
            }
        }
        c->pos += got;
        return static_cast<int>(got);
    };
    auto seek = [](void* opaque, int64_t offset, int whence) -> int64_t {
        auto* c = static_cast<Cursor*>(opaque);
        const auto size = static_cast<int64_t>(c->source->Size());
        if (whence & AVSEEK_SIZE) return size;
        int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                base = 0;
                break;
            case SEEK_CUR:
                base = static_cast<int64_t>(c->pos);
                break;
            case SEEK_END:
                base = size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
            return AVERROR(EINVAL);
        c->pos = static_cast<uint64_t>(base + offset);
        return base + offset;
    };
    d->io_.reset(avio_alloc_context(buffer, kIoBufferSize, 0, d->cursor_.get(), read, nullptr, seek));
    if (!d->io_) {
        av_free(buffer);
        return nullptr;
    }

    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt) return nullptr;
    fmt->pb = d->io_.get();
    fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    const AVInputFormat* forced = format_name ? FindFormat(format_name) : nullptr;
    if (avformat_open_input(&fmt, nullptr, forced, nullptr) < 0) return nullptr;  // frees fmt on failure
    d->format_.reset(fmt);
    // Stream analysis decodes packets; skip it when the header already gave
    // everything the engine reports (RIFF and ISO files usually do), and bound
    // it otherwise: the engine needs parameters, not a full scan.
    if (!HeaderIsComplete(fmt)) {
        fmt->probesize = 1 << 20;
        fmt->max_analyze_duration = 5 * AV_TIME_BASE;
        if (avformat_find_stream_info(fmt, nullptr) < 0) return nullptr;
    }
    d->audio_stream_ = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (d->audio_stream_ < 0) return nullptr;
    return d;
}

}  // namespace medialib::ff
