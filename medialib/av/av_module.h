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

#include "medialib/convert/converter.h"
#include "medialib/ffmpeg/packet_compare.h"
#include "medialib/ffmpeg/probe.h"
#include "medialib/playback/chain.h"

namespace medialib::av {

// Raised with every change of the table or of a type that crosses it.
inline constexpr uint32_t kEntryPointsVersion = 2;

// The members take their types from the declarations they stand for; a
// changed signature also needs its forwarder (forward.cpp) and a new version.
struct EntryPoints {
    uint32_t version;
    uint32_t size;  // sizeof(EntryPoints)
    decltype(&ff::ProbeStream) probe_stream;
    decltype(&ff::SameAudioPackets) same_audio_packets;
    decltype(&conversion::Convert) convert;
    decltype(&playback::CreateChain) create_chain;
};

// The module's file name and its one exported function.
inline constexpr char16_t kModuleName[] = u"medialib_av.so";
inline constexpr char kEntryPointsSymbol[] = "MediaLibAvEntryPoints";
using EntryPointsFn = const EntryPoints*();

}  // namespace medialib::av
