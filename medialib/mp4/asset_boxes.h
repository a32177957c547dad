// 3GPP asset boxes (titl, perf, auth, albm, gnre, yrrc, ...) in moov/udta and
// moov/trak/udta of ISO base media files.
//
// FFmpeg's 3GP muxer writes these instead of iTunes-style items, and neither
// FFmpeg nor TagLib reads them, so the engine walks the box tree itself: only
// the boxes on the path to udta are entered, every size is checked against its
// parent, and the walk stops after a fixed number of boxes, so damaged or
// hostile files cost little and never read out of bounds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "medialib/core/attributes.h"
#include "medialib/core/container.h"

namespace medialib {

struct AssetBox {
    char type[5] = {};    // "titl", ...
    uint64_t offset = 0;  // of the box header in the file
    std::u16string text;  // the box's string, when it has one
    int number = 0;       // yrrc: the year; albm: the track number (0 when absent)
};

// All asset boxes found (in file order); empty when there are none or the file
// is not an ISO base media file.
std::vector<AssetBox> ReadAssetBoxes(const ByteSource& src);

// Adds the attributes that the mapped boxes give (titl Title, perf Artist, auth
// Composer, albm Album and TrackNumber, gnre Genre, yrrc ReleaseYear and Release)
// for ids that `out` does not hold yet.
void AddAssetAttributes(const std::vector<AssetBox>& boxes, AttributeSet& out);

// Turns the mapped boxes of the file into "free" boxes of the same size, so
// stale values cannot come back once the iTunes-style items hold the tags. The
// file's layout and every offset stay as they are. False on an I/O error.
bool RetireAssetBoxes(const std::filesystem::path& file);

}  // namespace medialib
