// OpenMG content (.oma, .omg, .aa3, .kdr): detection, opening and tag writing.
//
// Three layouts share the handler: an "ea3" tag followed by the 96-byte "EA3"
// audio header and the payload (SonicStage and most writers), the bare "EA3"
// header at offset 0 (encoders that write no tag), and the legacy OpenMG
// package (a BER structure with trailing XML, read-only). Detection is by
// content; the file name's extension only chooses between the container
// numbers that share one layout (OMA 9 or protected OMA 6, OMG 1, KDR 10).
//
// Technical values are computed from the real stream (see ea3_header.h).
// Saving rewrites the tag only: it re-reads the file at save time, keeps the
// frames that no attribute owns, writes tag + original EA3 header + original
// payload bytes to a temporary file in the same folder, and renames it over
// the original; any failure leaves the original untouched.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>

#include "medialib/core/attributes.h"
#include "medialib/core/container.h"
#include "medialib/openmg/ea3_header.h"

namespace medialib {

// Cheap check on the first bytes of a file (pass at least 16 bytes when the
// file has them): an "ea3" tag header, a bare "EA3" header, or the start of a
// legacy OpenMG package. Never reads beyond `head`.
bool LooksLikeOpenMg(std::span<const uint8_t> head);

// Parses OpenMG content read through `src` (borrowed for the call only; the
// result keeps no reference to it). `path` gives the Location and Extension
// attributes and picks the container number. Returns null for content that
// is not OpenMG or is damaged beyond reading; never throws.
std::unique_ptr<OpenedFile> OpenOpenMg(const ByteSource& src, const std::filesystem::path& path);

namespace openmg {

// Where the audio stream of an ea3/EA3 file lies and what it holds: what the
// player's source needs to cut the payload into codec frames itself.
struct Ea3Stream {
    Ea3Header header;
    StreamInfo info;
    uint64_t audio_start = 0;  // first payload byte, right after the EA3 header
};

// Reads the layout of ea3/EA3 content through `src` (borrowed for the call).
// nullopt for anything else (the legacy package included) and for a header
// whose codec or parameters cannot be described; never throws.
std::optional<Ea3Stream> LocateEa3Stream(const ByteSource& src);

// Options of the demo writer.
struct DemoOmaOptions {
    double frequency = 440.0;  // sine tone in Hz
    double amplitude = 0.5;    // of full scale
    AttributeSet tags;         // stored in the ea3 tag (OMA capabilities)
};

// Writes a plain OMA file: "ea3" tag, EA3 header with codec 4 (LPCM,
// 44.1 kHz, stereo, 16-bit big-endian) and `seconds` of a sine tone.
// Replaces `path` only with a complete file; returns false, leaving an
// existing file as it was and no partial new one, when it cannot be written.
bool WriteDemoOma(const std::filesystem::path& path, double seconds, const DemoOmaOptions& options = {});

}  // namespace openmg
}  // namespace medialib
