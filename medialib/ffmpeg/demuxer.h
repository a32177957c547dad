// An FFmpeg demuxer reading through a ByteSource.
//
// A custom AVIOContext pulls bytes from the ByteSource (read at a cursor kept
// here, seek including AVSEEK_SIZE), so files, memory buffers and fuzz inputs all
// go through the same path and FFmpeg never opens a file by name. The Demuxer
// owns the AVIO context and the format context; the ByteSource is borrowed and
// must outlive it.
#pragma once

#include <memory>

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
    struct Cursor {
        const ByteSource* source;
        uint64_t pos;
    };
    Demuxer() = default;
    std::unique_ptr<Cursor> cursor_;
    IoContextPtr io_;  // must outlive format_: declared first, destroyed last
    FormatContextPtr format_;
    int audio_stream_ = -1;
};

}  // namespace medialib::ff
