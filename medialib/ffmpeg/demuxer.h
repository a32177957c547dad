// An FFmpeg demuxer reading through a ByteSource.
//
// A custom AVIOContext pulls bytes from the ByteSource (read at a cursor kept
// here, seek including AVSEEK_SIZE), so files, memory buffers and fuzz inputs all
// go through the same path and FFmpeg never opens a file by name. The Demuxer
// owns the AVIO context and the format context; the ByteSource is borrowed and
// must outlive it.
#pragma once

#include <memory>
#include <vector>

#include "medialib/core/container.h"
#include "medialib/ffmpeg/ffmpeg_raii.h"

namespace medialib::ff {

class Demuxer {
  public:
    // Opens the source and reads its stream information. Null when FFmpeg does
    // not recognise the content or it has no audio stream. `format_name`, when
    // not null, forces one demuxer (e.g. "mp3"). Never throws.
    static std::unique_ptr<Demuxer> Open(const ByteSource& source, const char* format_name = nullptr);
    ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    AVFormatContext* format() const { return format_.get(); }
    int audio_stream() const { return audio_stream_; }

  private:
    // A 4-byte size field that reads as another value (see demuxer.cpp).
    struct Patch {
        uint64_t offset;
        uint8_t bytes[4];
    };
    struct Cursor {
        const ByteSource* source;
        uint64_t pos;
        std::vector<Patch> patches;
    };
    Demuxer() = default;
    static std::vector<Patch> ClampRiffLists(const ByteSource& source);
    std::unique_ptr<Cursor> cursor_;
    IoContextPtr io_;  // must outlive format_: declared first, destroyed last
    FormatContextPtr format_;
    int audio_stream_ = -1;
};

}  // namespace medialib::ff
