// Fixtures shared by the container tests: audio files generated at test time
// with the ffmpeg command, a full set of tag attributes, and helpers to compare
// attribute sets.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "library/media_ids.h"
#include "medialib/core/attributes.h"
#include "medialib/core/container.h"
#include "medialib/core/dates.h"
#include "support/test_support.h"

namespace fixtures {

inline bool HaveFfmpeg() {
    static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return have;
}

// Runs ffmpeg on a generated sine tone: `ffmpeg -f lavfi -i sine... <args> <out>`.
// Returns false when the command fails.
inline bool MakeTone(const std::filesystem::path& out, const std::string& args, double seconds = 1.0) {
    const std::string cmd =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"sine=frequency=440:"
        "sample_rate=44100:duration=" +
        std::to_string(seconds) + "\" " + args + " '" + out.string() + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0 && std::filesystem::exists(out);
}

#define CQ_REQUIRE_FFMPEG()                                                           \
    if (!::fixtures::HaveFfmpeg()) {                                                  \
        GTEST_SKIP() << "the ffmpeg command is not installed; cannot generate audio"; \
    }

inline std::shared_ptr<medialib::PictureData> Picture(const std::string& mime, std::vector<uint8_t> bytes) {
    return std::make_shared<medialib::PictureData>(medialib::PictureData{mime, std::move(bytes)});
}
inline std::vector<uint8_t> PngBytes(uint8_t tag) {
    return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', tag, 1, 2, 3};
}
inline std::vector<uint8_t> JpegBytes(uint8_t tag) {
    return {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', tag, 0xFF, 0xD9};
}

inline medialib::DateValue Date(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    medialib::CivilTime t;
    t.year = y, t.month = m, t.day = d, t.hour = hh, t.minute = mm, t.second = ss;
    return medialib::ToDateValue(t);
}

// Every tag attribute with a distinctive value (non-ASCII text included).
inline medialib::AttributeSet FullTags() {
    using namespace medialib;
    AttributeSet t;
    t[attr::Title] = {u"Tītle ✓ 歌"};
    t[attr::SortTitle] = {u"Title sort"};
    t[attr::Subtitle] = {u"Subtitle"};
    t[attr::SortSubtitle] = {u"Subtitle sort"};
    t[attr::Artist] = {u"Artist One", u"Artist Two"};
    t[attr::SortArtist] = {u"One, Artist"};
    t[attr::ArtistURL] = {u"http://example.org/artist"};
    t[attr::Album] = {u"Album"};
    t[attr::AlbumAlt] = {u"Album"};
    t[attr::SortAlbum] = {u"Album sort"};
    t[attr::AlbumArtist] = {u"Album Artist"};
    t[attr::SortAlbumArtist] = {u"Artist, Album"};
    t[attr::Genre] = {u"Ambient"};
    t[attr::Composer] = {u"Composer"};
    t[attr::Lyricist] = {u"Lyricist"};
    t[attr::TrackNumber] = {int32_t{3}};
    t[attr::TrackNumberAlt] = {int32_t{3}};
    t[attr::TotalTracks] = {int32_t{12}};
    t[attr::ReleaseYear] = {u"1999"};
    t[attr::Release] = {Date(1999, 5, 6)};
    t[attr::Import] = {Date(2024, 2, 3, 10, 20, 30)};
    t[attr::LyricsText] = {u"la la\nla ♪"};
    t[attr::LinerNotesText] = {u"Liner notes"};
    t[attr::LyricsPicture] = {Picture("text/plain", {'l', 'y', 'r'})};
    t[attr::LinerNotesPicture] = {Picture("image/png", PngBytes(7))};
    t[attr::Jacket] = {Picture("image/jpeg", JpegBytes(1)), Picture("image/png", PngBytes(2))};
    t[attr::JacketAlt] = {Picture("image/png", PngBytes(3))};
    return t;
}

inline std::string Describe(const medialib::ValueList& values) {
    std::string out;
    for (const auto& v : values) {
        if (auto* s = std::get_if<std::u16string>(&v)) out += "text(" + std::to_string(s->size()) + ") ";
        if (auto* n = std::get_if<int32_t>(&v)) out += "int(" + std::to_string(*n) + ") ";
        if (auto* d = std::get_if<medialib::DateValue>(&v)) out += "date(" + std::to_string(d->days) + ") ";
        if (auto* p = std::get_if<std::shared_ptr<medialib::PictureData>>(&v))
            out += "pic(" + ((*p) ? (*p)->mime + "," + std::to_string((*p)->bytes.size()) : "null") + ") ";
    }
    return out;
}

inline bool SameList(const medialib::ValueList& a, const medialib::ValueList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!medialib::SameValue(a[i], b[i])) return false;
    }
    return true;
}

// Every attribute of `expected` that `file` can store must be read back equal;
// every one it cannot store must be absent.
inline void ExpectStored(const medialib::OpenedFile& file, const medialib::AttributeSet& expected) {
    const medialib::AttributeSet& got = file.Attributes();
    for (const auto& [id, values] : expected) {
        auto it = got.find(id);
        if (!file.CanStore(id)) {
            EXPECT_EQ(it, got.end()) << "id 0x" << std::hex << id << " must be refused";
            continue;
        }
        ASSERT_NE(it, got.end()) << "id 0x" << std::hex << id << " missing";
        EXPECT_TRUE(SameList(it->second, values)) << "id 0x" << std::hex << id << ": got "
                                                  << Describe(it->second) << " expected " << Describe(values);
    }
}

inline int32_t Int(const medialib::OpenedFile& f, uint32_t id) {
    auto it = f.Attributes().find(id);
    if (it == f.Attributes().end() || it->second.empty()) return -1;
    auto* n = std::get_if<int32_t>(&it->second.front());
    return n ? *n : -1;
}

inline std::u16string Text(const medialib::OpenedFile& f, uint32_t id) {
    auto it = f.Attributes().find(id);
    if (it == f.Attributes().end() || it->second.empty()) return u"<absent>";
    auto* s = std::get_if<std::u16string>(&it->second.front());
    return s ? *s : u"<not text>";
}

// Runs a shell command and returns its standard output.
inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

}  // namespace fixtures
