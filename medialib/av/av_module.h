// The seam between the media library module and its FFmpeg part.
//
// Debian's FFmpeg pulls some 130 shared libraries into a process; binding
// them is most of the start-up time of a program that loads the library,
// while most runs (tag listings, OpenMG files) never call FFmpeg. So the
// engine's FFmpeg work lives in a module of its own, medialib_av.so beside
// medialib.so, which exports one function: MediaLibAvEntryPoints, the table
// below. medialib.so links forwarders (forward.cpp) in place of the FFmpeg
// code; each loads the module on first use and calls through the table. The
// static builds of the engine (cq_medialib_core: tests, benchmarks, fuzzers)
// link the FFmpeg code itself and no forwarder.
//
// The interfaces crossing the seam carry no FFmpeg type; both modules are
// built from one tree with one compiler, so they share the C++ types of the
// engine. A table of another build (version or size differs) is not used.
#pragma once

#include <cstdint>
#include <memory>

#include "medialib/convert/converter.h"
#include "medialib/core/container.h"
#include "medialib/core/stream_info.h"
#include "medialib/playback/chain.h"

namespace medialib::av {

// Raised with every change of the table or of a type that crosses it.
inline constexpr uint32_t kEntryPointsVersion = 1;

struct EntryPoints {
    uint32_t version;
    uint32_t size;  // sizeof(EntryPoints)
    // ff::ProbeStream (ffmpeg/probe.h).
    bool (*probe_stream)(const ByteSource& source, StreamInfo& info, const char* format_name);
    // ff::SameAudioPackets (ffmpeg/packet_compare.h).
    bool (*same_audio_packets)(const ByteSource& a, const ByteSource& b, const char* format_name);
    // conversion::Convert (convert/converter.h).
    conversion::Result (*convert)(const conversion::Request& request, const conversion::ProgressFn& progress);
    // playback::CreateChain (playback/chain.h).
    std::unique_ptr<playback::Chain> (*create_chain)(std::unique_ptr<ByteSource> bytes, int rate,
                                                     int channels);
};

// The module's file name and its one exported function.
inline constexpr char16_t kModuleName[] = u"medialib_av.so";
inline constexpr char kEntryPointsSymbol[] = "MediaLibAvEntryPoints";
using EntryPointsFn = const EntryPoints*();

}  // namespace medialib::av
