// The technical attributes of MP3, MP4/M4A/3GP and WAV files are the same
// whichever way the engine gets them: the quick paths (MP3 frame headers, the
// format named to FFmpeg, the implicit-SBR decode only for slow AAC cores) must
// give exactly what the full FFmpeg probe (format detection, every check)
// gives. Every generated file and every real sample of those containers is
// opened through the engine and compared attribute by attribute with the full
// probe; damaged and cut files must open the same way or fail the same way.
#include "medialib/mp4/stream_facts.h"

#include <gtest/gtest.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "container_fixtures.h"
#include "library/media_ids.h"
#include "medialib/core/technical.h"
#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/probe.h"
#include "medialib/mp4/mp4_file.h"
#include "medialib/mpeg/frame_headers.h"
#include "medialib/mpeg/mp3_file.h"
#include "medialib/riff/pcm_facts.h"
#include "medialib/riff/wav_file.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

const uint32_t kTechnical[] = {attr::Duration, attr::MilliSecond, attr::Format,  attr::Codec,
                               attr::BitRate,  attr::BitRateAlt,  attr::Size,    attr::Frequency,
                               attr::BitDepth, attr::BitDepthAlt, attr::Channel, attr::Location,
                               attr::Extension};

// What the engine reported before it had any quick path: FFmpeg detects the
// format itself and runs every check. Null when that probe refuses the file
// for the container.
std::optional<AttributeSet> Reference(const fs::path& path, int32_t container) {
    auto src = OpenFileSource(path);
    if (!src) return std::nullopt;
    // The dispatcher's content check comes first, as it always did.
    std::vector<uint8_t> head(4096);
    head.resize(src->ReadAt(0, head.data(), head.size()));
    const bool claimed = container == container::Mp3   ? LooksLikeMp3(head)
                         : container == container::Wav ? LooksLikeWav(head)
                                                       : LooksLikeIsoBmff(head);
    if (!claimed) return std::nullopt;
    StreamInfo info;
    if (!ff::ProbeStream(*src, info, nullptr, ff::ProbeChecks::All)) return std::nullopt;
    if (container == container::Mp3 && info.codec != AudioCodec::Mp3 && info.codec != AudioCodec::MpegLayer12)
        return std::nullopt;
    AttributeSet attrs;
    AddTechnicalAttributes(attrs, info, container, CodecNumber(info), src->Size(), path);
    return attrs;
}

std::string Show(const AttributeSet& attrs, uint32_t id) {
    auto it = attrs.find(id);
    if (it == attrs.end()) return "(absent)";
    std::string out;
    for (const Value& v : it->second) {
        if (const auto* n = std::get_if<int32_t>(&v)) {
            out += std::to_string(*n) + " ";
        } else if (const auto* t = std::get_if<std::u16string>(&v)) {
            out += std::string(t->begin(), t->end()) + " ";
        } else {
            out += "(value) ";
        }
    }
    return out;
}

// Opens the file through the engine and compares every technical attribute
// with the reference probe. `container` is what the file must open as.
void ExpectSameAsFullProbe(const fs::path& path, int32_t container) {
    SCOPED_TRACE(path.filename().string());
    const std::unique_ptr<OpenedFile> opened = OpenMediaFile(path);
    const std::optional<AttributeSet> reference = Reference(path, container);
    ASSERT_EQ(opened != nullptr, reference.has_value()) << "one way opens the file, the other does not";
    if (!opened) return;
    ASSERT_EQ(opened->Container(), container);
    for (uint32_t id : kTechnical) {
        EXPECT_EQ(Show(opened->Attributes(), id), Show(*reference, id)) << "attribute 0x" << std::hex << id;
    }
}

// The MP3 header reader (the WAV chunk reader for .wav, the box reader for
// MP4 and 3GP) on its own: when it answers, every field equals the full probe's.
bool HeadersAnswerExactly(const fs::path& path) {
    SCOPED_TRACE(path.filename().string());
    auto src = OpenFileSource(path);
    if (!src) return false;
    StreamInfo quick;
    const std::string ext = path.extension().string();
    const bool answered = ext == ".wav"   ? riff::ReadPcmFacts(*src, quick)
                          : ext == ".mp3" ? mpeg::ReadStreamFacts(*src, quick) == mpeg::HeaderFacts::Complete
                                          : mp4::ReadAacFacts(*src, quick);
    if (!answered) return false;
    StreamInfo full;
    EXPECT_TRUE(ff::ProbeStream(*src, full, nullptr, ff::ProbeChecks::All));
    EXPECT_EQ(quick.codec, full.codec);
    EXPECT_EQ(quick.codec_name, full.codec_name);
    EXPECT_EQ(quick.format_name, full.format_name);
    EXPECT_EQ(quick.he_aac, full.he_aac);
    EXPECT_EQ(quick.sample_rate, full.sample_rate);
    EXPECT_EQ(quick.channels, full.channels);
    EXPECT_EQ(quick.bits_per_sample, full.bits_per_sample);
    EXPECT_EQ(quick.duration_ms, full.duration_ms);
    EXPECT_EQ(quick.bit_rate, full.bit_rate);
    return true;
}

// One folder of generated files for the whole suite (generation is the slow part).
class StreamFacts : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { dir_ = new testsupport::ScopedTempDir(); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // ffmpeg with `source` as input (a lavfi graph) and `args` for the output.
    static fs::path Make(const std::string& name, const std::string& source, const std::string& args) {
        const fs::path out = *dir_ / name;
        const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" + source +
                                "\" " + args + " '" + out.string() + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0 || !fs::exists(out)) return {};
        return out;
    }
    static std::string Tone(int rate, double seconds, int channels = 1) {
        std::string s =
            "sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds);
        if (channels > 1) s += ",aformat=channel_layouts=" + std::string(channels == 2 ? "stereo" : "5.1");
        return s;
    }
    // Noise makes a VBR encoder change its frame rates from frame to frame.
    static std::string Noise(int rate, double seconds) {
        return "anoisesrc=color=pink:amplitude=0.3:sample_rate=" + std::to_string(rate) +
               ":duration=" + std::to_string(seconds);
    }
    static fs::path Concat(const std::string& name, const std::vector<fs::path>& parts) {
        std::vector<uint8_t> all;
        for (const fs::path& p : parts) {
            const std::vector<uint8_t> bytes = testsupport::ReadBytes(p);
            all.insert(all.end(), bytes.begin(), bytes.end());
        }
        const fs::path out = *dir_ / name;
        testsupport::WriteBytes(out, all);
        return out;
    }
    static fs::path Cut(const fs::path& from, const std::string& name, size_t keep) {
        std::vector<uint8_t> bytes = testsupport::ReadBytes(from);
        if (bytes.size() > keep) bytes.resize(keep);
        const fs::path out = *dir_ / name;
        testsupport::WriteBytes(out, bytes);
        return out;
    }

    static testsupport::ScopedTempDir* dir_;
};

testsupport::ScopedTempDir* StreamFacts::dir_ = nullptr;

TEST_F(StreamFacts, Mp3ConstantRates) {
    CQ_REQUIRE_FFMPEG();
    int answered = 0;
    for (const char* rate : {"32k", "128k", "320k"}) {
        for (int channels : {1, 2}) {
            for (const char* xing : {"1", "0"}) {
                const std::string name =
                    std::string("cbr_") + rate + "_" + std::to_string(channels) + "_" + xing;
                const fs::path f = Make(name + ".mp3", Tone(44100, 2.5, channels),
                                        std::string("-c:a libmp3lame -b:a ") + rate + " -write_xing " + xing);
                ASSERT_FALSE(f.empty()) << name;
                ExpectSameAsFullProbe(f, container::Mp3);
                answered += HeadersAnswerExactly(f);
            }
        }
    }
    EXPECT_EQ(answered, 12) << "plain CBR files are read from their headers";
}

TEST_F(StreamFacts, Mp3EveryRateAndVersion) {
    CQ_REQUIRE_FFMPEG();
    int answered = 0, files = 0;
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        for (int channels : {1, 2}) {
            for (const char* xing : {"1", "0"}) {
                const std::string name =
                    "rate_" + std::to_string(rate) + "_" + std::to_string(channels) + "_" + xing + ".mp3";
                const std::string bits = rate <= 12000 ? "24k" : rate <= 24000 ? "64k" : "160k";
                const fs::path f = Make(name, Tone(rate, 3.3, channels),
                                        "-c:a libmp3lame -b:a " + bits + " -write_xing " + xing);
                ASSERT_FALSE(f.empty()) << name;
                ExpectSameAsFullProbe(f, container::Mp3);
                answered += HeadersAnswerExactly(f);
                ++files;
            }
        }
    }
    EXPECT_EQ(answered, files);
}

TEST_F(StreamFacts, Mp3VariableRates) {
    CQ_REQUIRE_FFMPEG();
    int answered_with_xing = 0;
    for (const char* quality : {"0", "2", "5", "9"}) {
        for (int rate : {44100, 22050, 11025}) {
            for (const char* xing : {"1", "0"}) {
                const std::string name =
                    std::string("vbr_q") + quality + "_" + std::to_string(rate) + "_" + xing + ".mp3";
                const fs::path f =
                    Make(name, Noise(rate, 4.0),
                         std::string("-c:a libmp3lame -q:a ") + quality + " -write_xing " + xing);
                ASSERT_FALSE(f.empty()) << name;
                ExpectSameAsFullProbe(f, container::Mp3);
                const bool answered = HeadersAnswerExactly(f);
                if (std::string(xing) == "1") answered_with_xing += answered;
            }
        }
    }
    EXPECT_EQ(answered_with_xing, 12) << "VBR files with an Xing header are read from their headers";
}

TEST_F(StreamFacts, Mp3Tags) {
    CQ_REQUIRE_FFMPEG();
    // ID3v1 at the end, with and without an Xing header.
    for (const char* xing : {"1", "0"}) {
        const fs::path f = Make(
            std::string("v1_") + xing + ".mp3", Tone(44100, 2.0),
            std::string("-c:a libmp3lame -b:a 128k -write_id3v1 1 -metadata title=T -write_xing ") + xing);
        ASSERT_FALSE(f.empty());
        ExpectSameAsFullProbe(f, container::Mp3);
        EXPECT_TRUE(HeadersAnswerExactly(f));
    }
    // No ID3v2 at all: the first frame at offset 0.
    const fs::path bare = Make("bare.mp3", Tone(48000, 2.0, 2), "-c:a libmp3lame -b:a 192k -id3v2_version 0");
    ASSERT_FALSE(bare.empty());
    ExpectSameAsFullProbe(bare, container::Mp3);
    EXPECT_TRUE(HeadersAnswerExactly(bare));

    // A large ID3v2 tag with a picture, in front of CBR, VBR and no-Xing audio;
    // then the same with an APE tag at the end.
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"cbr", "-c:a libmp3lame -b:a 128k"},
        {"vbr", "-c:a libmp3lame -q:a 4"},
        {"noxing", "-c:a libmp3lame -b:a 96k -write_xing 0"}};
    for (const auto& [kind, args] : kinds) {
        for (bool ape : {false, true}) {
            const std::string name = "pic_" + kind + (ape ? "_ape" : "") + ".mp3";
            const fs::path f = Make(name, kind == "vbr" ? Noise(44100, 3.0) : Tone(44100, 3.0), args);
            ASSERT_FALSE(f.empty()) << name;
            {
                TagLib::MPEG::File file(f.c_str(), false);
                ASSERT_TRUE(file.isValid());
                auto* pic = new TagLib::ID3v2::AttachedPictureFrame();
                pic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
                pic->setMimeType("image/png");
                std::vector<uint8_t> png = fixtures::PngBytes(7);
                png.resize(300 * 1024, 0xFF);  // sync-like bytes inside the tag
                pic->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(png.data()),
                                                   static_cast<unsigned>(png.size())));
                file.ID3v2Tag(true)->addFrame(pic);
                file.ID3v2Tag()->setTitle("Picture");
                int which = TagLib::MPEG::File::ID3v2;
                if (ape) {
                    file.APETag(true)->setTitle("APE title");
                    which |= TagLib::MPEG::File::APE;
                }
                ASSERT_TRUE(file.save(which, TagLib::File::StripNone, TagLib::ID3v2::v3));
            }
            ExpectSameAsFullProbe(f, container::Mp3);
            EXPECT_TRUE(HeadersAnswerExactly(f));
        }
    }
}

TEST_F(StreamFacts, Mp3VeryShortFiles) {
    CQ_REQUIRE_FFMPEG();
    for (double seconds : {0.01, 0.03, 0.06, 0.1, 0.5}) {
        for (const char* xing : {"1", "0"}) {
            const std::string name = "short_" + std::to_string(static_cast<int>(seconds * 1000)) + "_" + xing;
            const fs::path f = Make(name + ".mp3", Tone(44100, seconds),
                                    std::string("-c:a libmp3lame -b:a 128k -write_xing ") + xing);
            ASSERT_FALSE(f.empty()) << name;
            ExpectSameAsFullProbe(f, container::Mp3);
            HeadersAnswerExactly(f);
            const fs::path v1 =
                Make(name + "_v1.mp3", Tone(22050, seconds),
                     std::string("-c:a libmp3lame -b:a 64k -write_id3v1 1 -write_xing ") + xing);
            ASSERT_FALSE(v1.empty()) << name;
            ExpectSameAsFullProbe(v1, container::Mp3);
            HeadersAnswerExactly(v1);
        }
    }
}

// FFmpeg averages the rates of the frames its analysis reads; a rate change
// anywhere near that window must send the file to FFmpeg, one far beyond it
// does not matter.
TEST_F(StreamFacts, Mp3RateChangesAfterSomeFrames) {
    CQ_REQUIRE_FFMPEG();
    const fs::path tail =
        Make("tail_320.mp3", Tone(44100, 6.0), "-c:a libmp3lame -b:a 320k -write_xing 0 -id3v2_version 0");
    ASSERT_FALSE(tail.empty());
    for (int frames : {1, 2, 10, 30, 45, 50, 52, 55, 60, 70, 90, 99, 101, 120, 200}) {
        // Whole 1152-sample frames of 44.1 kHz; LAME adds its delay frames too.
        const double seconds = (frames - 1) * 1152.0 / 44100.0;
        const std::string name = "head_" + std::to_string(frames) + ".mp3";
        const fs::path head = Make(name, Tone(44100, seconds > 0.001 ? seconds : 0.001),
                                   "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0");
        ASSERT_FALSE(head.empty()) << name;
        const fs::path joined = Concat("joined_" + std::to_string(frames) + ".mp3", {head, tail});
        ExpectSameAsFullProbe(joined, container::Mp3);
        const bool answered = HeadersAnswerExactly(joined);
        if (frames >= 120) {
            EXPECT_TRUE(answered) << "a change far past the analysed frames does not matter";
        }
    }
    // An Xing header whose byte count covers only the first of two joined files.
    const fs::path xing = Make("xing_part.mp3", Noise(44100, 3.0), "-c:a libmp3lame -q:a 3");
    ASSERT_FALSE(xing.empty());
    const fs::path twice = Concat("xing_twice.mp3", {xing, tail});
    ExpectSameAsFullProbe(twice, container::Mp3);
    HeadersAnswerExactly(twice);
}

TEST_F(StreamFacts, MpegLayer2GoesThroughFfmpeg) {
    CQ_REQUIRE_FFMPEG();
    const fs::path f = Make("layer2.mp3", Tone(48000, 2.0, 2), "-c:a mp2 -b:a 192k -f mp2");
    ASSERT_FALSE(f.empty());
    ExpectSameAsFullProbe(f, container::Mp3);
    EXPECT_FALSE(HeadersAnswerExactly(f));
}

TEST_F(StreamFacts, Mp4AndThreeGpAac) {
    CQ_REQUIRE_FFMPEG();
    for (int rate : {8000, 16000, 22050, 24000, 44100, 48000}) {
        for (int channels : {1, 2, 6}) {
            if (channels == 6 && rate < 44100) continue;
            for (const char* ext : {"m4a", "3gp"}) {
                const std::string name =
                    "aac_" + std::to_string(rate) + "_" + std::to_string(channels) + "." + ext;
                const std::string args = std::string("-c:a aac -b:a ") + (rate < 22050 ? "24k" : "96k") +
                                         (std::string(ext) == "3gp" ? " -f 3gp" : "");
                const fs::path f = Make(name, Tone(rate, 2.0, channels), args);
                if (f.empty() && std::string(ext) == "3gp" && channels == 6)
                    continue;  // not every muxer takes 5.1
                ASSERT_FALSE(f.empty()) << name;
                ExpectSameAsFullProbe(f, container::ThreeGp);
                const bool answered = HeadersAnswerExactly(f);
                if (rate > 24000) {
                    EXPECT_TRUE(answered) << name << ": plain AAC is read from its boxes";
                }
            }
        }
    }
}

// Lengths that are no whole number of milliseconds or frames, where the edit
// list, the media duration and the sample table each give another length;
// the movie box before the media data; no edit list at all.
TEST_F(StreamFacts, Mp4Lengths) {
    CQ_REQUIRE_FFMPEG();
    for (int rate : {11025, 22050, 32000, 44100}) {
        for (double seconds : {0.0173, 0.5, 1.2345, 3.33333}) {
            for (const char* layout : {"", " -movflags +faststart", " -use_editlist 0", " -f mp4"}) {
                const std::string name = "len_" + std::to_string(rate) + "_" +
                                         std::to_string(static_cast<int>(seconds * 10000)) + "_" +
                                         std::to_string(std::string(layout).size()) + ".m4a";
                const fs::path f = Make(name, Tone(rate, seconds), std::string("-c:a aac -b:a 64k") + layout);
                ASSERT_FALSE(f.empty()) << name;
                ExpectSameAsFullProbe(f, container::ThreeGp);
                const bool answered = HeadersAnswerExactly(f);
                if (rate > 24000) {
                    EXPECT_TRUE(answered) << name;
                }
            }
        }
    }
}

// Files the box reader must leave to FFmpeg: a core rate where a decoder may
// find implicit SBR, a config that signals SBR, another codec, two sound
// tracks, a fragmented file.
TEST_F(StreamFacts, Mp4LayoutsLeftToFfmpeg) {
    CQ_REQUIRE_FFMPEG();
    const fs::path low = Make("sbr_src.m4a", Tone(22050, 1.0), "-c:a aac -b:a 32k -movflags +faststart");
    ASSERT_FALSE(low.empty());
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(low);
    // The AudioSpecificConfig follows the decoder-specific tag 0x05 and its length.
    const uint8_t sync[] = {0x56, 0xE5, 0x00};
    const auto at = std::search(bytes.begin(), bytes.end(), sync, sync + 3);
    ASSERT_NE(at, bytes.end());
    std::vector<uint8_t> implicit = bytes;
    std::fill_n(implicit.begin() + (at - bytes.begin()), 3, uint8_t{0});
    const fs::path no_note = *dir_ / "sbr_unsaid.m4a";
    testsupport::WriteBytes(no_note, implicit);
    ExpectSameAsFullProbe(no_note, container::ThreeGp);
    EXPECT_FALSE(HeadersAnswerExactly(no_note));
    // SBR said to be present by a backward-compatible extension, at 44.1 kHz:
    // FFmpeg reports the doubled rate already, so the rate alone does not
    // call for the decode; over a mono core the decoder may also find
    // parametric stereo and play two channels.
    for (int channels : {1, 2}) {
        const fs::path core = Make("sbr_src" + std::to_string(channels) + ".m4a", Tone(22050, 1.0, channels),
                                   "-c:a aac -b:a 48k -movflags +faststart");
        ASSERT_FALSE(core.empty());
        std::vector<uint8_t> explicit_sbr = testsupport::ReadBytes(core);
        const auto where = std::search(explicit_sbr.begin(), explicit_sbr.end(), sync, sync + 3);
        ASSERT_NE(where, explicit_sbr.end());
        where[2] = 0xA0;
        const fs::path said = *dir_ / ("sbr_said" + std::to_string(channels) + ".m4a");
        testsupport::WriteBytes(said, explicit_sbr);
        ExpectSameAsFullProbe(said, container::ThreeGp);
        EXPECT_FALSE(HeadersAnswerExactly(said));
    }

    const std::vector<std::pair<std::string, std::string>> others = {
        {"alac.m4a", "-c:a alac"},
        {"mp3in.mp4", "-c:a libmp3lame -b:a 128k"},
        {"two.m4a", "-filter_complex asplit[a][b] -map [a] -map [b] -c:a aac"},
        {"frag.mp4", "-c:a aac -movflags +frag_keyframe+empty_moov"}};
    for (const auto& [name, args] : others) {
        const fs::path f = Make(name, Tone(44100, 1.5), args);
        ASSERT_FALSE(f.empty()) << name;
        ExpectSameAsFullProbe(f, container::ThreeGp);
        EXPECT_FALSE(HeadersAnswerExactly(f)) << name;
    }
}

TEST_F(StreamFacts, WavSampleFormats) {
    CQ_REQUIRE_FFMPEG();
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"u8", "-c:a pcm_u8"},     {"s16", "-c:a pcm_s16le"},  {"s24", "-c:a pcm_s24le"},
        {"s32", "-c:a pcm_s32le"}, {"f32", "-c:a pcm_f32le"},  {"f64", "-c:a pcm_f64le"},
        {"alaw", "-c:a pcm_alaw"}, {"mulaw", "-c:a pcm_mulaw"}};
    for (const auto& [kind, args] : kinds) {
        for (int channels : {1, 2, 6}) {
            const std::string name = "wav_" + kind + "_" + std::to_string(channels) + ".wav";
            const fs::path f = Make(name, Tone(channels == 6 ? 48000 : 22050, 1.5, channels), args);
            ASSERT_FALSE(f.empty()) << name;
            ExpectSameAsFullProbe(f, container::Wav);
            const bool answered = HeadersAnswerExactly(f);
            if (kind != "alaw" && kind != "mulaw") {
                EXPECT_TRUE(answered) << name << ": plain PCM is read from its chunks";
            }
        }
    }
    // WAVE_FORMAT_EXTENSIBLE for a stereo 16-bit stream too.
    const fs::path ext =
        Make("wav_ext.wav", Tone(44100, 1.0, 2), "-c:a pcm_s16le -rf64 never -write_peak off");
    ASSERT_FALSE(ext.empty());
    ExpectSameAsFullProbe(ext, container::Wav);
    HeadersAnswerExactly(ext);
    // Odd lengths: a data size that is no whole number of frames, a file
    // whose last frame is cut, a rate FFmpeg's millisecond rounding must meet.
    for (int rate : {8000, 11025, 44100, 96000}) {
        const fs::path f =
            Make("wav_rate_" + std::to_string(rate) + ".wav", Tone(rate, 0.0173, 2), "-c:a pcm_s16le");
        ASSERT_FALSE(f.empty());
        ExpectSameAsFullProbe(f, container::Wav);
        EXPECT_TRUE(HeadersAnswerExactly(f));
    }
}

// An S/PDIF burst inside 16-bit PCM: FFmpeg reports the compressed stream,
// so the chunk reader must leave such a file to it.
TEST_F(StreamFacts, WavCarryingABurst) {
    CQ_REQUIRE_FFMPEG();
    const fs::path ac3 = Make("burst_src.wav", Tone(48000, 1.0, 2), "-c:a ac3 -f spdif");
    if (ac3.empty()) GTEST_SKIP() << "this ffmpeg has no spdif muxer";
    // Wrap the burst bytes as the data of a 16-bit stereo PCM file, after
    // some silence: at the start, inside and beyond FFmpeg's search.
    const std::vector<uint8_t> burst = testsupport::ReadBytes(ac3);
    for (size_t silence :
         {size_t{0}, size_t{4096}, size_t{65000}, size_t{65536}, size_t{70000}, size_t{140000}}) {
        std::vector<uint8_t> wav = {'R', 'I',  'F', 'F', 0, 0, 0,  0, 'W', 'A', 'V',  'E',  'f', 'm',
                                    't', ' ',  16,  0,   0, 0, 1,  0, 2,   0,   0x80, 0xBB, 0,   0,
                                    0,   0xEE, 2,   0,   4, 0, 16, 0, 'd', 'a', 't',  'a'};
        const uint32_t n = static_cast<uint32_t>(silence + (burst.size() & ~size_t{3}));
        for (int i = 0; i < 4; ++i) wav.push_back(static_cast<uint8_t>(n >> (8 * i)));
        wav.resize(wav.size() + silence, 0);
        wav.insert(wav.end(), burst.begin(), burst.begin() + static_cast<std::ptrdiff_t>(n - silence));
        const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
        for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
        const fs::path f = *dir_ / ("burst_" + std::to_string(silence) + ".wav");
        testsupport::WriteBytes(f, wav);
        ExpectSameAsFullProbe(f, container::Wav);
        const bool answered = HeadersAnswerExactly(f);
        if (silence < 60000) {
            EXPECT_FALSE(answered) << silence;
        }
    }
}

TEST_F(StreamFacts, RealSamples) {
    const fs::path dir = testsupport::SamplesDir();
    if (dir.empty() || !fs::is_directory(dir)) {
        GTEST_SKIP()
            << "real samples folder is absent (../shared/samples/real); set CQ_SAMPLES_DIR to run it";
    }
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::unique_ptr<OpenedFile> opened = OpenMediaFile(entry.path());
        if (!opened) continue;
        const int32_t c = opened->Container();
        if (c != container::Mp3 && c != container::Wav && c != container::ThreeGp) continue;
        ExpectSameAsFullProbe(entry.path(), c);
        if (c == container::Mp3) HeadersAnswerExactly(entry.path());
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no MP3, MP4 or WAV file among the real samples";
}

// Cut files and bare headers open as the full probe opens them, or not at all,
// and never crash or hang.
TEST_F(StreamFacts, CutAndHollowFiles) {
    CQ_REQUIRE_FFMPEG();
    const std::vector<fs::path> sources = {
        Make("cut_src_cbr.mp3", Tone(44100, 2.0), "-c:a libmp3lame -b:a 128k"),
        Make("cut_src_vbr.mp3", Noise(44100, 2.0), "-c:a libmp3lame -q:a 2"),
        Make("cut_src_nx.mp3", Tone(16000, 2.0), "-c:a libmp3lame -b:a 32k -write_xing 0"),
        Make("cut_src.m4a", Tone(22050, 2.0), "-c:a aac -b:a 48k"),
        Make("cut_start.m4a", Tone(44100, 2.0, 2), "-c:a aac -b:a 96k -movflags +faststart"),
        Make("cut_src.wav", Tone(22050, 2.0), "-c:a pcm_s16le")};
    for (const fs::path& src : sources) {
        ASSERT_FALSE(src.empty());
        const size_t size = fs::file_size(src);
        const int32_t container = src.extension() == ".mp3"   ? container::Mp3
                                  : src.extension() == ".m4a" ? container::ThreeGp
                                                              : container::Wav;
        for (size_t keep :
             {size_t{4}, size_t{10}, size_t{44}, size_t{45}, size_t{49}, size_t{100}, size_t{200},
              size_t{460}, size_t{900}, size_t{1400}, size_t{4096}, size / 2, size - 1}) {
            const fs::path cut =
                Cut(src, "cut_" + std::to_string(keep) + "_" + src.filename().string(), keep);
            const std::unique_ptr<OpenedFile> opened = OpenMediaFile(cut);
            if (opened && opened->Container() == container) ExpectSameAsFullProbe(cut, container);
        }
    }
    // An ID3v2 tag, then one frame header with an Xing header claiming far
    // more than the file holds, then nothing.
    std::vector<uint8_t> hollow = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    const uint8_t frame[] = {0xFF, 0xFB, 0x90, 0xC4};
    hollow.insert(hollow.end(), frame, frame + 4);
    hollow.resize(hollow.size() + 17, 0);
    const uint8_t xing[] = {'X', 'i', 'n', 'g', 0, 0, 0, 3, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};
    hollow.insert(hollow.end(), xing, xing + sizeof xing);
    hollow.resize(10 + 417, 0);
    const fs::path one = *dir_ / "hollow_one.mp3";
    testsupport::WriteBytes(one, hollow);
    ExpectSameAsFullProbe(one, container::Mp3);
    hollow.insert(hollow.end(), hollow.begin() + 10, hollow.end());  // a second such frame
    const fs::path two = *dir_ / "hollow_two.mp3";
    testsupport::WriteBytes(two, hollow);
    ExpectSameAsFullProbe(two, container::Mp3);
    // ID3v2 tags that claim more than the file holds, or chain without end.
    std::vector<uint8_t> huge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    huge.insert(huge.end(), frame, frame + 4);
    huge.resize(2000, 0);
    const fs::path tag_only = *dir_ / "tag_only.mp3";
    testsupport::WriteBytes(tag_only, huge);
    ExpectSameAsFullProbe(tag_only, container::Mp3);
    std::vector<uint8_t> chain;
    for (int i = 0; i < 40; ++i) chain.insert(chain.end(), {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0});
    chain.insert(chain.end(), frame, frame + 4);
    chain.resize(chain.size() + 413, 0);
    chain.insert(chain.end(), frame, frame + 4);
    chain.resize(chain.size() + 413, 0);
    const fs::path chained = *dir_ / "chained.mp3";
    testsupport::WriteBytes(chained, chain);
    ExpectSameAsFullProbe(chained, container::Mp3);
}

// Damage in the headers the quick paths read (the tag header, the first
// frames, the Xing header; the RIFF chunks; the movie box, placed first) must never make the two ways
// disagree: the quick path answers only when the damage leaves FFmpeg's reading unchanged.
TEST_F(StreamFacts, DamagedHeaders) {
    CQ_REQUIRE_FFMPEG();
    const std::vector<fs::path> sources = {
        Make("dmg_cbr.mp3", Tone(44100, 3.0), "-c:a libmp3lame -b:a 128k"),
        Make("dmg_vbr.mp3", Noise(22050, 3.0), "-c:a libmp3lame -q:a 4"),
        Make("dmg_nx.mp3", Tone(32000, 3.0, 2), "-c:a libmp3lame -b:a 96k -write_xing 0"),
        Make("dmg_s16.wav", Tone(22050, 1.0, 2), "-c:a pcm_s16le -metadata title=T"),
        Make("dmg_ext.wav", Tone(48000, 0.5, 6), "-c:a pcm_s24le"),
        Make("dmg_start.m4a", Tone(44100, 1.0, 2), "-c:a aac -b:a 96k -movflags +faststart"),
        Make("dmg_low.m4a", Tone(16000, 1.0), "-c:a aac -b:a 32k -movflags +faststart"),
        Make("dmg_start.3gp", Tone(8000, 1.0), "-c:a aac -b:a 16k -movflags +faststart -f 3gp")};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFF;
    };
    int n = 0;
    for (const fs::path& src : sources) {
        ASSERT_FALSE(src.empty());
        const std::vector<uint8_t> original = testsupport::ReadBytes(src);
        for (int round = 0; round < 100; ++round) {
            std::vector<uint8_t> bytes = original;
            const int changes = 1 + static_cast<int>(next() % 3);
            for (int c = 0; c < changes; ++c) {
                // Mostly the tag header and the first frames (the movie box
                // of an MP4 file written with it first), sometimes anywhere.
                const size_t span = next() % 4 == 0 ? bytes.size() : std::min<size_t>(bytes.size(), 3000);
                const size_t at = next() % span;
                bytes[at] = next() % 2 ? static_cast<uint8_t>(next())
                                       : static_cast<uint8_t>(bytes[at] ^ (1u << (next() % 8)));
            }
            const fs::path f = *dir_ / ("dmg_" + std::to_string(n++) + src.extension().string());
            testsupport::WriteBytes(f, bytes);
            const int32_t container = src.extension() == ".wav"   ? container::Wav
                                      : src.extension() == ".mp3" ? container::Mp3
                                                                  : container::ThreeGp;
            const std::unique_ptr<OpenedFile> opened = OpenMediaFile(f);
            if (opened && opened->Container() != container) continue;
            ExpectSameAsFullProbe(f, container);
        }
    }
}

}  // namespace
