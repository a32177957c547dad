// The media library's numbers, named once for every layer: attribute ids (with
// the names that the console program's attribute listing gives them), the
// picture property id, container numbers and codec numbers. The engine, both
// deliverables, the benchmarks and the tests write these names, never the hex.
#pragma once

#include <cstdint>

namespace medialib::attr {

// Text and tag attributes.
inline constexpr uint32_t AlbumAlt = 0x0207;  // second id of the album
inline constexpr uint32_t AlbumArtist = 0x0210;
inline constexpr uint32_t SortAlbumArtist = 0x0251;
inline constexpr uint32_t Title = 0x1207;
inline constexpr uint32_t Genre = 0x1208;
inline constexpr uint32_t Album = 0x120C;
inline constexpr uint32_t Artist = 0x1210;
inline constexpr uint32_t Lyricist = 0x1212;
inline constexpr uint32_t Composer = 0x1213;
inline constexpr uint32_t LinerNotesPicture = 0x1223;
inline constexpr uint32_t LyricsPicture = 0x1224;
inline constexpr uint32_t Jacket = 0x122A;     // first jacket list
inline constexpr uint32_t JacketAlt = 0x1220;  // second jacket list
inline constexpr uint32_t LyricsText = 0x122C;
inline constexpr uint32_t LinerNotesText = 0x122D;
inline constexpr uint32_t Subtitle = 0x1230;
inline constexpr uint32_t ReleaseYear = 0x1236;  // year text
inline constexpr uint32_t Location = 0x1245;
inline constexpr uint32_t Extension = 0x126E;
inline constexpr uint32_t Release = 0x1400;  // VT_DATE
inline constexpr uint32_t Import = 0x1404;   // VT_DATE
inline constexpr uint32_t ArtistURL = 0x1510;
inline constexpr uint32_t SortTitle = 0x1607;
inline constexpr uint32_t SortAlbum = 0x160C;
inline constexpr uint32_t SortArtist = 0x1610;
inline constexpr uint32_t SortSubtitle = 0x1630;

// Numbers and technical attributes.
inline constexpr uint32_t Duration = 0x1100;  // seconds
inline constexpr uint32_t Format = 0x1101;    // container number
inline constexpr uint32_t Codec = 0x1102;     // codec number
inline constexpr uint32_t BitRate = 0x1103;   // bits per second
inline constexpr uint32_t Size = 0x1104;      // bytes
inline constexpr uint32_t TrackNumber = 0x1105;
inline constexpr uint32_t Channel = 0x110C;
inline constexpr uint32_t TrackNumberAlt = 0x110F;  // second id of the track number
inline constexpr uint32_t Frequency = 0x1110;
inline constexpr uint32_t BitDepth = 0x1112;
inline constexpr uint32_t MilliSecond = 0x111A;
inline constexpr uint32_t BitDepthAlt = 0x111C;
inline constexpr uint32_t BitRateAlt = 0x1129;
inline constexpr uint32_t TotalTracks = 0x112D;

// Pictures a jacket list (Jacket, JacketAlt) holds at most: the library refuses
// more and an OpenMG tag has that many jacket frames.
inline constexpr uint32_t MaxJacketPictures = 5;

// Property id of a picture object's MIME type.
inline constexpr uint32_t PictureMime = 0x2201;

}  // namespace medialib::attr

namespace medialib::container {
inline constexpr int32_t Omg = 1;
inline constexpr int32_t ProtectedOma = 6;
inline constexpr int32_t Oma = 9;
inline constexpr int32_t Kdr = 10;
inline constexpr int32_t Mp3 = 0x1001;
inline constexpr int32_t Wav = 0x1002;
inline constexpr int32_t ThreeGp = 0x1004;
inline constexpr int32_t Wma = 0x2001;
}  // namespace medialib::container

namespace medialib::codec {
inline constexpr int32_t Mp3 = 0;  // also 8
inline constexpr int32_t Pcm = 1;
inline constexpr int32_t AacLc = 2;
inline constexpr int32_t Mpeg = 8;
inline constexpr int32_t Wma = 14;
inline constexpr int32_t Atrac3 = 16;
inline constexpr int32_t Atrac3Plus = 18;
inline constexpr int32_t WmaLossless = 19;
inline constexpr int32_t AalAtrac3 = 22;
inline constexpr int32_t AalAtrac3Plus = 23;
inline constexpr int32_t HeAac = 24;
inline constexpr int32_t WmaPro = 28;
}  // namespace medialib::codec
