// Owning handles for the FFmpeg objects the engine uses. Each C object is
// wrapped once here: a deleter that calls the matching FFmpeg free function and
// a std::unique_ptr alias. The FFmpeg headers stay in the .cpp files; callers
// that need the structures' fields include them themselves.
#pragma once

#include <memory>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct AVIOContext;

namespace medialib::ff {

struct FormatContextDeleter {
    void operator()(AVFormatContext* p) const;  // avformat_close_input
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const;  // avcodec_free_context
};
struct PacketDeleter {
    void operator()(AVPacket* p) const;  // av_packet_free
};
struct FrameDeleter {
    void operator()(AVFrame* p) const;  // av_frame_free
};
struct SwrDeleter {
    void operator()(SwrContext* p) const;  // swr_free
};
struct IoContextDeleter {
    void operator()(AVIOContext* p) const;  // av_freep of its buffer, then avio_context_free
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

PacketPtr MakePacket();  // null only when out of memory
FramePtr MakeFrame();

}  // namespace medialib::ff
