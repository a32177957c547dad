// Pictures written by another encoder (the ffmpeg command, when installed):
// the decoders must read the variants that other software writes, not only
// what this project's own writers make.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"
#include "test_pictures.h"

using namespace Gdiplus;
using namespace imaging_test;

namespace {

bool HaveFfmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

uint32_t Q(uint32_t x, uint32_t y) { return Quadrants(x, y, 64, 48); }

struct Variant {
    const char* file;  // output name; its extension picks the container
    const char* options;
    GUID format;
    bool colours;   // false: grey or two-level variants, checked for size only
    int tolerance;  // palette variants are quantised by ffmpeg to a fixed palette
};

TEST(ImagingFfmpegMade, OtherWritersVariantsDecode) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not installed";
    testsupport::ScopedTempDir dir;
    const auto source = dir / "source.png";
    testsupport::WriteBytes(source, MakePng(64, 48, Q));
    const Variant variants[] = {
        {"a.bmp", "-pix_fmt bgr24", ImageFormatBMP, true, 0},
        {"b.bmp", "-pix_fmt bgra", ImageFormatBMP, true, 0},
        {"c.bmp", "-pix_fmt rgb555le", ImageFormatBMP, true, 8},
        {"d.bmp", "-pix_fmt rgb565le", ImageFormatBMP, true, 8},
        {"e.bmp", "-pix_fmt pal8", ImageFormatBMP, true, 8},
        {"f.bmp", "-pix_fmt monob", ImageFormatBMP, false, 0},
        {"g.tif", "-pix_fmt rgb24", ImageFormatTIFF, true, 0},
        {"h.tif", "-pix_fmt rgba -compression_algo deflate", ImageFormatTIFF, true, 0},
        {"i.tif", "-pix_fmt gray -compression_algo lzw", ImageFormatTIFF, false, 0},
        {"j.gif", "", ImageFormatGIF, true, 8},
        {"k.jpg", "-q:v 2", ImageFormatJPEG, true, 40},
        {"l.jpg", "-pix_fmt gray", ImageFormatJPEG, false, 0},
        {"m.png", "-pix_fmt pal8", ImageFormatPNG, true, 8},
        {"n.png", "-pix_fmt rgb48be", ImageFormatPNG, true, 8},
        {"o.png", "-pix_fmt ya8", ImageFormatPNG, false, 0},
        {"p.ico", "-c:v bmp -pix_fmt bgra", ImageFormatIcon, true, 0},
        {"q.ico", "-c:v png", ImageFormatIcon, true, 0},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.file);
        const auto out = dir / v.file;
        const std::string command = "ffmpeg -loglevel error -y -i '" + source.string() + "' " + v.options +
                                    " -frames:v 1 -update 1 '" + out.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        Decoded d;
        DecodeBytes(testsupport::ReadBytes(out), d);
        ASSERT_EQ(d.status, Ok);
        EXPECT_EQ(d.RawFormat(), v.format);
        EXPECT_EQ(d.Width(), 64u);
        EXPECT_EQ(d.Height(), 48u);
        if (!v.colours) continue;
        EXPECT_PRED3(Near, d.Pixel(16, 12), 0xFFFF0000u, v.tolerance);
        EXPECT_PRED3(Near, d.Pixel(48, 12), 0xFF00FF00u, v.tolerance);
        EXPECT_PRED3(Near, d.Pixel(16, 36), 0xFF0000FFu, v.tolerance);
        EXPECT_PRED3(Near, d.Pixel(48, 36), 0xFFFFFFFFu, v.tolerance);
    }
}

}  // namespace
