// The player's own reading of OpenMG streams: which files it takes (the rest
// is FFmpeg's), the codec set-up and packets it gives, seeking by frame
// arithmetic, and damaged payloads. The decode of its packets must equal
// FFmpeg's decode of the file sample for sample.
#include "medialib/playback/packet_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/openmg_file.h"
#include "support/audio_reference.h"
#include "support/test_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace {

namespace fs = std::filesystem;
using medialib::ByteSource;
using medialib::playback::OpenOpenMgReader;
using medialib::playback::PacketReader;

struct Packet {
    std::vector<uint8_t> bytes;
    int64_t pts;
};

std::vector<Packet> ReadAll(PacketReader& reader) {
    std::vector<Packet> out;
    AVPacket* p = av_packet_alloc();
    while (reader.Read(p)) {
        out.push_back({std::vector<uint8_t>(p->data, p->data + p->size), p->pts});
        av_packet_unref(p);
    }
    av_packet_free(&p);
    return out;
}

// FFmpeg's decoder set up from the reader's parameters only, fed its packets;
// interleaved 16-bit samples.
std::vector<int16_t> DecodeWithParameters(PacketReader& reader) {
    const AVCodecParameters* par = reader.Parameters();
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return {};
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, par);
    std::vector<int16_t> out;
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
        AVFrame* frame = av_frame_alloc();
        SwrContext* swr = nullptr;
        for (const Packet& packet : ReadAll(reader)) {
            AVPacket* p = av_packet_alloc();
            av_new_packet(p, static_cast<int>(packet.bytes.size()));
            std::memcpy(p->data, packet.bytes.data(), packet.bytes.size());
            avcodec_send_packet(ctx, p);
            av_packet_free(&p);
            while (avcodec_receive_frame(ctx, frame) == 0) {
                if (!swr) {
                    swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                        &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                        frame->sample_rate, 0, nullptr);
                    swr_init(swr);
                }
                const size_t at = out.size();
                out.resize(at + static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels);
                auto* dst = reinterpret_cast<uint8_t*>(out.data() + at);
                swr_convert(swr, &dst, frame->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                            frame->nb_samples);
                av_frame_unref(frame);
            }
        }
        swr_free(&swr);
        av_frame_free(&frame);
    }
    avcodec_free_context(&ctx);
    return out;
}

class PacketReaderTest : public ::testing::Test {
  protected:
    std::unique_ptr<ByteSource> Source(const fs::path& path) {
        auto s = medialib::OpenFileSource(path);
        EXPECT_TRUE(s) << path;
        return s;
    }
    testsupport::ScopedTempDir dir;
};

TEST_F(PacketReaderTest, RealOpenMgStreamsAreCutIntoTheirFrames) {
    struct Case {
        const char* name;
        AVCodecID codec;
        int channels;
        size_t packet_bytes;  // 0: BLK packets of varying size
        int64_t samples_per_packet;
        size_t packets;
    };
    const Case cases[] = {
        {"atracdencU_test_atrac3_132k_noid3.oma", AV_CODEC_ID_ATRAC3, 2, 384, 1024, 216},
        {"atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma", AV_CODEC_ID_ATRAC3P, 1, 760, 2048, 109},
        {"pronom_03-Untitled-3_atrac3plus.oma", AV_CODEC_ID_ATRAC3P, 2, 1120, 2048, 383},
        {"pronom_02-Untitled-2_aal_atrac3.oma", AV_CODEC_ID_ATRAC3AL, 2, 0, 1024, 1172},
    };
    for (const Case& c : cases) {
        CQ_REQUIRE_SAMPLE(path, c.name);
        SCOPED_TRACE(c.name);
        auto bytes = Source(path);
        auto reader = OpenOpenMgReader(*bytes);
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->Parameters()->codec_id, c.codec);
        EXPECT_EQ(reader->Parameters()->ch_layout.nb_channels, c.channels);
        EXPECT_EQ(reader->Parameters()->sample_rate, 44100);
        const auto packets = ReadAll(*reader);
        ASSERT_EQ(packets.size(), c.packets);
        for (size_t i = 0; i < packets.size(); ++i) {
            if (c.packet_bytes) {
                ASSERT_EQ(packets[i].bytes.size(), c.packet_bytes) << i;
            }
            ASSERT_EQ(packets[i].pts, static_cast<int64_t>(i) * c.samples_per_packet) << i;
        }
        EXPECT_EQ(reader->DurationMs(),
                  std::llround(static_cast<double>(c.packets) * c.samples_per_packet * 1000 / 44100));
        // The codec set up from the header alone decodes as FFmpeg does
        // from its own demuxer.
        ASSERT_TRUE(reader->Seek(0));
        EXPECT_TRUE(DecodeWithParameters(*reader) == testsupport::FfmpegS16(path));
    }
}

TEST_F(PacketReaderTest, TheAalLayoutWithAnAtrac3PlusBaseIsReadToo) {
    // No real sample exists: the real ATRAC3plus frames as the base layer of
    // BLK packets (codec 0x21), which FFmpeg's demuxer also reads.
    CQ_REQUIRE_SAMPLE(path, "pronom_03-Untitled-3_atrac3plus.oma");
    const auto real = testsupport::ReadBytes(path);
    const size_t header_at = 0xC00, payload_at = 0xC60, frame = 1120;
    const size_t frames = (real.size() - payload_at) / frame;
    std::vector<uint8_t> file(real.begin() + header_at, real.begin() + payload_at);
    file[32] = 0x21;
    file[33] = 0x92;  // 2048 samples per packet, 2 channels
    file[34] = file[35] = 0;
    medialib::openmg::WriteBe32(&file[36], static_cast<uint32_t>(frames * 2048 * 1000 / 44100));
    medialib::openmg::WriteBe32(&file[40], static_cast<uint32_t>(frames));
    file[48] = 0x01;
    std::copy(real.begin() + header_at + 33, real.begin() + header_at + 36, file.begin() + 49);
    for (size_t i = 0; i < frames; ++i) {
        uint8_t head[24] = {'B', 'L', 'K', 0};
        medialib::openmg::WriteBe16(head + 4, static_cast<uint32_t>(frame));
        medialib::openmg::WriteBe32(head + 8, static_cast<uint32_t>(i));
        head[12] = 4;
        file.insert(file.end(), head, head + sizeof(head));
        const auto* f = real.data() + payload_at + i * frame;
        file.insert(file.end(), f, f + frame);
    }
    const fs::path aal = dir.path() / "aal_atrac3plus.oma";
    testsupport::WriteBytes(aal, file);
    auto bytes = Source(aal);
    auto reader = OpenOpenMgReader(*bytes);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Parameters()->codec_id, AV_CODEC_ID_ATRAC3PAL);
    const auto reference = testsupport::FfmpegS16(aal);
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(DecodeWithParameters(*reader) == reference);
}

TEST_F(PacketReaderTest, GeneratedLpcmIsReadInPacketsOfWholeSampleFrames) {
    const fs::path oma = dir.path() / "pcm.oma";
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(oma, 1.0));
    // A stray byte after the last whole sample frame is not audio.
    auto with_tail = testsupport::ReadBytes(oma);
    with_tail.push_back(0x7F);
    testsupport::WriteBytes(oma, with_tail);
    auto bytes = Source(oma);
    auto reader = OpenOpenMgReader(*bytes);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Parameters()->codec_id, AV_CODEC_ID_PCM_S16BE);
    const auto packets = ReadAll(*reader);
    size_t total = 0;
    for (const Packet& p : packets) {
        EXPECT_EQ(p.bytes.size() % 4, 0u);
        EXPECT_EQ(p.pts, static_cast<int64_t>(total / 4));
        total += p.bytes.size();
    }
    EXPECT_EQ(total, 44100u * 4);
    ASSERT_TRUE(reader->Seek(0));
    EXPECT_TRUE(DecodeWithParameters(*reader) == testsupport::FfmpegS16(oma));
}

TEST_F(PacketReaderTest, Mp3InsideOpenMgIsReadFrameByFrame) {
    const fs::path oma = dir.path() / "mp3.oma";
    ASSERT_TRUE(testsupport::MakeMp3Oma(oma, "-f lavfi -i sine=frequency=330:sample_rate=44100:duration=2",
                                        "-ac 2 -c:a libmp3lame -b:a 128k"));
    auto bytes = Source(oma);
    auto reader = OpenOpenMgReader(*bytes);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Parameters()->codec_id, AV_CODEC_ID_MP3);
    const auto packets = ReadAll(*reader);
    const auto file = testsupport::ReadBytes(oma);
    ASSERT_FALSE(packets.empty());
    size_t total = 96;
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_GE(packets[i].bytes.size(), 4u);
        EXPECT_EQ(packets[i].bytes[0], 0xFF) << i;  // each packet one MPEG frame
        EXPECT_EQ(packets[i].pts, static_cast<int64_t>(i) * 1152);
        total += packets[i].bytes.size();
    }
    EXPECT_EQ(total, file.size());
    ASSERT_TRUE(reader->Seek(0));
    EXPECT_TRUE(DecodeWithParameters(*reader) == testsupport::FfmpegS16(oma));

    // Bytes that are not a frame between frames are skipped; a cut last
    // frame still goes to the decoder.
    auto damaged = file;
    const size_t third = 96 + packets[0].bytes.size() + packets[1].bytes.size();
    damaged.insert(damaged.begin() + static_cast<ptrdiff_t>(third), 100, 0x00);
    damaged.resize(damaged.size() - 50);
    const fs::path odd = dir.path() / "mp3_damaged.oma";
    testsupport::WriteBytes(odd, damaged);
    auto odd_bytes = Source(odd);
    auto odd_reader = OpenOpenMgReader(*odd_bytes);
    ASSERT_TRUE(odd_reader);
    const auto odd_packets = ReadAll(*odd_reader);
    ASSERT_EQ(odd_packets.size(), packets.size());
    EXPECT_EQ(odd_packets[2].bytes, packets[2].bytes);
    EXPECT_EQ(odd_packets.back().bytes.size(), packets.back().bytes.size() - 50);
}

TEST_F(PacketReaderTest, SeekIsFrameArithmeticWithAFewFramesOfLeadIn) {
    for (const char* name : {"pronom_03-Untitled-3_atrac3plus.oma", "pronom_02-Untitled-2_aal_atrac3.oma"}) {
        CQ_REQUIRE_SAMPLE(path, name);
        SCOPED_TRACE(name);
        auto bytes = Source(path);
        auto reader = OpenOpenMgReader(*bytes);
        ASSERT_TRUE(reader);
        const int64_t per_packet = reader->Parameters()->codec_id == AV_CODEC_ID_ATRAC3AL ? 1024 : 2048;
        AVPacket* p = av_packet_alloc();
        for (const int64_t ms : {10500, 1000, 20, 0, 10500}) {
            ASSERT_TRUE(reader->Seek(ms));
            ASSERT_TRUE(reader->Read(p));
            const int64_t wanted = ms * 44100 / 1000;
            // At or before the position, by at most the lead-in of four
            // frames plus the frame that holds the position.
            EXPECT_LE(p->pts, wanted) << ms;
            EXPECT_GE(p->pts, wanted - 5 * per_packet) << ms;
            EXPECT_EQ(p->pts % per_packet, 0);
            av_packet_unref(p);
        }
        // Past the end there is nothing to read.
        EXPECT_FALSE(reader->Seek(reader->DurationMs() + 1000));
        EXPECT_FALSE(reader->Read(p));
        av_packet_free(&p);
    }
}

TEST_F(PacketReaderTest, DamagedPayloadsEndTheStreamWhereTheDamageIs) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_aal_atrac3.oma");
    const auto real = testsupport::ReadBytes(path);
    const size_t first = 0xC60;
    // Walk to the 10th BLK packet and damage its tag; then a size that runs
    // past the end of the file in another copy.
    size_t at = first;
    for (int i = 0; i < 10; ++i) at += 24 + medialib::openmg::ReadBe16(&real[at + 4]);
    auto bad_tag = real;
    bad_tag[at] = 'X';
    auto bad_size = real;
    medialib::openmg::WriteBe16(&bad_size[at + 4], 0xFFFF);
    bad_size.resize(at + 24 + 1000);
    for (const auto& [name, bytes_of] :
         {std::pair{"bad_tag.oma", &bad_tag}, std::pair{"bad_size.oma", &bad_size}}) {
        SCOPED_TRACE(name);
        const fs::path file = dir.path() / name;
        testsupport::WriteBytes(file, *bytes_of);
        auto bytes = Source(file);
        auto reader = OpenOpenMgReader(*bytes);
        ASSERT_TRUE(reader);
        EXPECT_EQ(ReadAll(*reader).size(), 10u);
        EXPECT_FALSE(reader->Seek(1000));  // beyond the damage
    }
    // A truncated ATRAC3plus file: only its whole frames.
    CQ_REQUIRE_SAMPLE(atrac3plus, "pronom_03-Untitled-3_atrac3plus.oma");
    auto cut = testsupport::ReadBytes(atrac3plus);
    cut.resize(0xC60 + 1120 * 7 + 500);
    const fs::path truncated = dir.path() / "truncated.oma";
    testsupport::WriteBytes(truncated, cut);
    auto bytes = Source(truncated);
    auto reader = OpenOpenMgReader(*bytes);
    ASSERT_TRUE(reader);
    EXPECT_EQ(ReadAll(*reader).size(), 7u);
}

// Headers with random codec ids and parameter words over a real payload, and
// payloads with random bytes: the reader opens or refuses, and reading and
// seeking end, without reading outside the file (checked under ASan).
TEST_F(PacketReaderTest, RandomHeadersAndPayloadsNeverBreakTheReader) {
    CQ_REQUIRE_SAMPLE(path, "atracdencU_test_atrac3_132k_noid3.oma");
    const auto real = testsupport::ReadBytes(path);
    uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
    };
    constexpr uint8_t kCodecs[] = {0x00, 0x01, 0x03, 0x04, 0x05, 0x20, 0x21, 0x22, 0x7F};
    const fs::path file = dir.path() / "random.oma";
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        auto bytes = real;
        bytes[32] = kCodecs[next() % sizeof(kCodecs)];
        for (size_t i = 33; i < 52; ++i) bytes[i] = next();
        if (round % 2) {
            for (size_t i = 96 + next(); i < bytes.size(); i += 1 + next()) bytes[i] = next();
        }
        if (round % 3 == 0) bytes.resize(96 + (static_cast<size_t>(next()) << 6));
        testsupport::WriteBytes(file, bytes);
        auto source = Source(file);
        auto reader = OpenOpenMgReader(*source);
        if (!reader) continue;
        ++opened;
        const auto packets = ReadAll(*reader);
        EXPECT_LE(packets.size(), bytes.size()) << round;
        reader->Seek(reader->DurationMs() / 2);
        reader->Seek(0);
        EXPECT_EQ(ReadAll(*reader).size(), packets.size()) << round;
    }
    EXPECT_GT(opened, 0);
}

TEST_F(PacketReaderTest, OtherContentIsLeftToFfmpeg) {
    const fs::path wav = dir.path() / "tone.oma";
    ASSERT_TRUE(testsupport::MakeTone(wav, 0.5, 44100, 2, "-f wav -c:a pcm_s16le"));
    EXPECT_FALSE(OpenOpenMgReader(*Source(wav)));
    // Protected OpenMG audio and the legacy package are never read.
    CQ_REQUIRE_SAMPLE(legacy, "pronom_02-Untitled-2_openmg_legacy.omg");
    EXPECT_FALSE(OpenOpenMgReader(*Source(legacy)));
    CQ_REQUIRE_SAMPLE(plain, "atracdencU_test_atrac3_132k_noid3.oma");
    auto encrypted = testsupport::ReadBytes(plain);
    encrypted[6] = 0x00;
    encrypted[7] = 0x01;
    const fs::path locked = dir.path() / "locked.oma";
    testsupport::WriteBytes(locked, encrypted);
    EXPECT_FALSE(OpenOpenMgReader(*Source(locked)));
}

}  // namespace
