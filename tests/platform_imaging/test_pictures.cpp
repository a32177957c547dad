#include "test_pictures.h"

#include <gif_lib.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/com/unknown.h"
#include "support/test_support.h"

using namespace Gdiplus;

namespace imaging_test {
namespace {

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

Bytes ReadAll(IStream* stream) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

}  // namespace

uint32_t Quadrants(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    if (!bottom) return right ? 0xFF00FF00u : 0xFFFF0000u;
    return right ? 0xFFFFFFFFu : 0xFF0000FFu;
}

GpBitmap* MakeBitmap(uint32_t width, uint32_t height, const PixelFunction& pixel) {
    GpBitmap* bitmap = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                        PixelFormat32bppARGB, nullptr, &bitmap),
              Ok);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            GdipBitmapSetPixel(bitmap, static_cast<INT>(x), static_cast<INT>(y), pixel(x, y));
    return bitmap;
}

CLSID EncoderClsid(const char16_t* mime_type) {
    UINT count = 0, size = 0;
    EXPECT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(storage.data());
    EXPECT_EQ(GdipGetImageEncoders(count, size, codecs), Ok);
    for (UINT i = 0; i < count; ++i)
        if (std::u16string_view(codecs[i].MimeType) == mime_type) return codecs[i].Clsid;
    ADD_FAILURE() << "no encoder for the type";
    return GUID_NULL;
}

Bytes Encode(GpImage* image, const char16_t* mime_type) {
    IStream* raw = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    auto stream = ComPtr<IStream>::Adopt(raw);
    const CLSID clsid = EncoderClsid(mime_type);
    EXPECT_EQ(GdipSaveImageToStream(image, stream.Get(), &clsid, nullptr), Ok);
    return ReadAll(stream.Get());
}

Bytes MakeJpeg(uint32_t width, uint32_t height, const PixelFunction& pixel) {
    BitmapHolder b(MakeBitmap(width, height, pixel));
    return Encode(b.bitmap, u"image/jpeg");
}

Bytes MakePng(uint32_t width, uint32_t height, const PixelFunction& pixel) {
    BitmapHolder b(MakeBitmap(width, height, pixel));
    return Encode(b.bitmap, u"image/png");
}

Bytes MakeBmp(uint32_t width, uint32_t height, const PixelFunction& pixel, int bits) {
    std::vector<uint32_t> palette;
    std::map<uint32_t, uint8_t> index;
    if (bits == 8) {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t c = pixel(x, y) | 0xFF000000u;
                if (!index.count(c) && palette.size() < 256) {
                    index[c] = static_cast<uint8_t>(palette.size());
                    palette.push_back(c);
                }
            }
    }
    const uint32_t stride = (width * static_cast<uint32_t>(bits) + 31) / 32 * 4;
    const uint32_t offset = 14 + 40 + 4 * static_cast<uint32_t>(palette.size());
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + stride * height);
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40);
    Put32(b, width);
    Put32(b, height);
    Put16(b, 1);
    Put16(b, static_cast<uint32_t>(bits));
    Put32(b, 0);
    Put32(b, stride * height);
    Put32(b, 3780);  // 96 dpi in pixels per metre
    Put32(b, 3780);
    Put32(b, static_cast<uint32_t>(palette.size()));
    Put32(b, 0);
    for (uint32_t c : palette) Put32(b, c & 0x00FFFFFFu);
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t y = height - 1 - row;
        const size_t start = b.size();
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = pixel(x, y) | 0xFF000000u;
            if (bits == 8) {
                b.push_back(index.count(c) ? index[c] : 0);
            } else {
                b.push_back(static_cast<uint8_t>(c));
                b.push_back(static_cast<uint8_t>(c >> 8));
                b.push_back(static_cast<uint8_t>(c >> 16));
            }
        }
        b.resize(start + stride, 0);
    }
    return b;
}

namespace {
int WriteToBytes(GifFileType* gif, const GifByteType* data, int count) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}
}  // namespace

Bytes MakeGif(uint32_t width, uint32_t height, const PixelFunction& pixel, int transparent_index,
              bool interlaced) {
    std::vector<uint32_t> palette;
    std::map<uint32_t, int> index;
    std::vector<GifByteType> pixels(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = pixel(x, y) & 0x00FFFFFFu;
            if (!index.count(c)) {
                index[c] = static_cast<int>(palette.size());
                palette.push_back(c);
            }
            pixels[size_t{y} * width + x] = static_cast<GifByteType>(index[c]);
        }
    EXPECT_LE(palette.size(), 256u);
    palette.resize(256, 0);
    std::vector<GifColorType> colors(256);
    for (size_t i = 0; i < 256; ++i)
        colors[i] =
            GifColorType{static_cast<GifByteType>(palette[i] >> 16),
                         static_cast<GifByteType>(palette[i] >> 8), static_cast<GifByteType>(palette[i])};
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToBytes, &error);
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, static_cast<int>(width), static_cast<int>(height), 8, 0, map);
    if (transparent_index >= 0) {
        const GifByteType gce[4] = {1, 0, 0, static_cast<GifByteType>(transparent_index)};
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
    }
    EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), interlaced, nullptr);
    static constexpr uint32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (uint32_t y = interlaced ? kStart[pass] : 0; y < height; y += interlaced ? kStep[pass] : 1)
            EGifPutLine(gif, pixels.data() + size_t{y} * width, static_cast<int>(width));
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

Bytes MakeTiff(uint32_t width, uint32_t height, const PixelFunction& pixel, bool alpha) {
    testsupport::ScopedTempDir dir;
    const std::string path = (dir / "picture.tif").string();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    const uint16_t samples = alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    if (alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    std::vector<uint8_t> row(size_t{width} * samples);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = pixel(x, y);
            uint8_t* p = row.data() + size_t{x} * samples;
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
            if (alpha) p[3] = static_cast<uint8_t>(c >> 24);
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    return testsupport::ReadBytes(path);
}

Bytes MakeIco(uint32_t width, uint32_t height, const PixelFunction& pixel, bool png_inside) {
    Bytes image;
    if (png_inside) {
        image = MakePng(width, height, pixel);
    } else {
        Put32(image, 40);
        Put32(image, width);
        Put32(image, height * 2);
        Put16(image, 1);
        Put16(image, 32);
        for (int i = 0; i < 6; ++i) Put32(image, 0);
        for (uint32_t row = 0; row < height; ++row)
            for (uint32_t x = 0; x < width; ++x) Put32(image, pixel(x, height - 1 - row));
        const uint32_t mask_stride = (width + 31) / 32 * 4;
        image.resize(image.size() + size_t{mask_stride} * height, 0);
    }
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, 1);
    b.push_back(static_cast<uint8_t>(width >= 256 ? 0 : width));
    b.push_back(static_cast<uint8_t>(height >= 256 ? 0 : height));
    b.push_back(0);
    b.push_back(0);
    Put16(b, 1);
    Put16(b, 32);
    Put32(b, static_cast<uint32_t>(image.size()));
    Put32(b, 6 + 16);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

Bytes ToExif(const Bytes& jfif) {
    EXPECT_TRUE(jfif.size() > 6 && jfif[2] == 0xFF && jfif[3] == 0xE0);
    const size_t app0_end = 4 + (size_t{jfif[4]} << 8 | jfif[5]);
    static const uint8_t kApp1[] = {0xFF, 0xE1, 0x00, 22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I',
                                    0x2A, 0,    8,    0,  0,   0,   0,   0,   0, 0, 0,   0};
    Bytes out(jfif.begin(), jfif.begin() + 2);
    out.insert(out.end(), std::begin(kApp1), std::end(kApp1));
    out.insert(out.end(), jfif.begin() + static_cast<std::ptrdiff_t>(app0_end), jfif.end());
    return out;
}

Decoded::~Decoded() {
    if (bitmap) GdipDisposeImage(bitmap);
}

GUID Decoded::RawFormat() const {
    GUID g{};
    EXPECT_EQ(GdipGetImageRawFormat(bitmap, &g), Ok);
    return g;
}
UINT Decoded::Width() const {
    UINT w = 0;
    EXPECT_EQ(GdipGetImageWidth(bitmap, &w), Ok);
    return w;
}
UINT Decoded::Height() const {
    UINT h = 0;
    EXPECT_EQ(GdipGetImageHeight(bitmap, &h), Ok);
    return h;
}
uint32_t Decoded::Pixel(int x, int y) const {
    ARGB c = 0;
    EXPECT_EQ(GdipBitmapGetPixel(bitmap, x, y, &c), Ok);
    return c;
}

void DecodeBytes(const Bytes& bytes, Decoded& out) {
    IStream* raw = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    auto stream = ComPtr<IStream>::Adopt(raw);
    ULONG written = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    out.status = GdipCreateBitmapFromStream(stream.Get(), &out.bitmap);
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > tolerance) return false;
    }
    return true;
}

}  // namespace imaging_test
