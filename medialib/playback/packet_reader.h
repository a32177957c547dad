// Where the player's source gets its compressed packets from.
//
// OpenMG streams (ATRAC3, ATRAC3plus, LPCM and MP3 in EA3, and the BLK packets
// of ATRAC Advanced Lossless) are cut into codec frames by the engine itself
// from the EA3 header it already reads: the frames are fixed-size (or, for AAL
// and MP3, self-describing), so reading and seeking are offset arithmetic and
// the decoder is set up from the header's parameters. Every other container
// (RIFF, MP4/3GP, MP3, WAV) goes through FFmpeg's demuxer.
#pragma once

#include <cstdint>
#include <memory>

#include "medialib/core/container.h"

struct AVCodecParameters;
struct AVPacket;
struct AVRational;

namespace medialib::playback {

class PacketReader {
  public:
    virtual ~PacketReader() = default;
    // The stream's codec parameters (owned by the reader, valid for its life)
    // and the time base of the packets' timestamps.
    virtual const AVCodecParameters* Parameters() const = 0;
    virtual AVRational TimeBase() const = 0;
    // Timestamp of the first sample the stream presents (0 unless the
    // container says that priming audio comes before it).
    virtual int64_t StartPts() const = 0;
    // The next packet of the audio stream into `packet` (unreferenced by the
    // caller before); false at the end of the stream or at damage that ends it.
    virtual bool Read(AVPacket* packet) = 0;
    // Duration in milliseconds, 0 when unknown.
    virtual int64_t DurationMs() const = 0;
    // Repositions so that decoding from the next packet on gives exact audio
    // from `ms` (0: the very first packet). Packets before `ms` may follow
    // (the decoder drops their audio by timestamp); false when the position
    // cannot be reached, which ends the stream.
    virtual bool Seek(int64_t ms) = 0;
};

// The engine's reader for an OpenMG stream it can cut itself; null for other
// content (the caller then uses FFmpeg). `bytes` is borrowed and must outlive
// the reader.
std::unique_ptr<PacketReader> OpenOpenMgReader(const ByteSource& bytes);

// FFmpeg's demuxer over `bytes` (borrowed); null when FFmpeg cannot read it
// or it has no audio stream.
std::unique_ptr<PacketReader> OpenFfmpegReader(const ByteSource& bytes);

}  // namespace medialib::playback
