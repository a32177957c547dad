// Start-up, the encoder list, images (creation, decoding, queries, pixels)
// and saving.
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/imaging/objects.h"

using namespace Gdiplus;

namespace platform::imaging {
namespace {

std::atomic<int> g_startups{0};

// Longest read from a stream at once; the whole stream is read in such steps.
constexpr ULONG kStreamChunk = 1 << 20;

struct EncoderEntry {
    CLSID clsid;
    GUID format;
    const char16_t* codec_name;
    const char16_t* description;
    const char16_t* extensions;
    const char16_t* mime_type;
    std::span<const BYTE> signature;
};

constexpr BYTE kJpegSignature[] = {0xFF, 0xD8};
constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The class ids are those of the Windows built-in codecs, so that ids kept by
// callers mean the same here.
constexpr CLSID kJpegEncoder = platform::MakeGuid("{557CF401-1A04-11D3-9A73-0000F81EF32E}");
constexpr CLSID kPngEncoder = platform::MakeGuid("{557CF406-1A04-11D3-9A73-0000F81EF32E}");

const std::array<EncoderEntry, 2> kEncoders = {{
    {kJpegEncoder, ImageFormatJPEG, u"Built-in JPEG Codec", u"JPEG", u"*.JPG;*.JPEG;*.JPE;*.JFIF",
     u"image/jpeg", kJpegSignature},
    {kPngEncoder, ImageFormatPNG, u"Built-in PNG Codec", u"PNG", u"*.PNG", u"image/png", kPngSignature},
}};

size_t StringBytes(const char16_t* s) {
    return (std::char_traits<char16_t>::length(s) + 1) * sizeof(char16_t);
}

UINT EncoderListSize() {
    size_t size = kEncoders.size() * sizeof(ImageCodecInfo);
    for (const EncoderEntry& e : kEncoders) {
        size += StringBytes(e.codec_name) + StringBytes(e.description) + StringBytes(e.extensions) +
                StringBytes(e.mime_type) + 2 * e.signature.size();
    }
    return static_cast<UINT>(size);
}

template <typename T>
const T* Place(BYTE*& cursor, const T* data, size_t bytes) {
    std::memcpy(cursor, data, bytes);
    const T* placed = reinterpret_cast<const T*>(cursor);
    cursor += bytes;
    return placed;
}

Status ReadStream(IStream* stream, std::vector<uint8_t>& bytes) {
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);  // a stream that cannot seek is read from where it is
    for (;;) {
        const size_t have = bytes.size();
        if (have > kMaxInputBytes) return OutOfMemory;
        try {
            bytes.resize(have + kStreamChunk);
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        ULONG got = 0;
        const HRESULT hr = stream->Read(bytes.data() + have, kStreamChunk, &got);
        if (FAILED(hr)) return Win32Error;
        bytes.resize(have + (got > kStreamChunk ? kStreamChunk : got));
        if (got < kStreamChunk) return Ok;
    }
}

Status ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return Win32Error;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return Win32Error;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxInputBytes) return OutOfMemory;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        SetLastError(ERROR_ACCESS_DENIED);
        return Win32Error;
    }
    try {
        bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got != bytes.size() || std::ferror(file.get())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return Win32Error;
    }
    return Ok;
}

Status DecodeInto(const std::vector<uint8_t>& bytes, GpBitmap** bitmap) {
    PixelImage image;
    const DecodeError e = DecodeImage(bytes, image);
    if (e != DecodeError::None) return StatusFor(e);
    return MakeBitmap(std::move(image), bitmap);
}

}  // namespace

bool Started() { return g_startups.load() > 0; }

Status StatusFor(DecodeError error) {
    switch (error) {
        case DecodeError::None:
            return Ok;
        case DecodeError::UnknownFormat:
            return UnknownImageFormat;
        case DecodeError::Damaged:
            return GenericError;
        case DecodeError::TooLarge:
        case DecodeError::OutOfMemory:
            return OutOfMemory;
    }
    return GenericError;
}

Status MakeBitmap(PixelImage&& image, GpBitmap** bitmap) {
    try {
        *bitmap = new Bitmap(std::make_shared<PixelImage>(std::move(image)));
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return Ok;
}

void Premultiply(std::span<uint32_t> pixels) {
    for (uint32_t& p : pixels) {
        const uint32_t a = p >> 24;
        if (a == 255) continue;
        if (a == 0) {
            p = 0;
            continue;
        }
        const uint32_t r = ((p >> 16) & 0xFF) * a + 127, g = ((p >> 8) & 0xFF) * a + 127,
                       b = (p & 0xFF) * a + 127;
        p = (a << 24) | ((r / 255) << 16) | ((g / 255) << 8) | (b / 255);
    }
}

void Unpremultiply(std::span<uint32_t> pixels) {
    for (uint32_t& p : pixels) {
        const uint32_t a = p >> 24;
        if (a == 255 || a == 0) continue;
        auto channel = [a](uint32_t c) { return c >= a ? 255u : (c * 255 + a / 2) / a; };
        p = (a << 24) | (channel((p >> 16) & 0xFF) << 16) | (channel((p >> 8) & 0xFF) << 8) |
            channel(p & 0xFF);
    }
}

std::string Utf16ToUtf8(const WCHAR* text, INT length) {
    std::string out;
    if (!text) return out;
    const size_t n = length < 0 ? std::char_traits<char16_t>::length(text) : static_cast<size_t>(length);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace platform::imaging

using namespace platform::imaging;

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
    if (!token || !input) return InvalidParameter;
    if (input->GdiplusVersion < 1 || input->GdiplusVersion > 3) return UnsupportedGdiplusVersion;
    if (output) *output = GdiplusStartupOutput{};
    *token = static_cast<ULONG_PTR>(++g_startups);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
    if (token == 0) return;
    int n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
    }
}

Status GdipGetImageEncodersSize(UINT* count, UINT* size) {
    if (!count || !size) return InvalidParameter;
    if (!Started()) return GdiplusNotInitialized;
    *count = static_cast<UINT>(kEncoders.size());
    *size = EncoderListSize();
    return Ok;
}

Status GdipGetImageEncoders(UINT count, UINT size, ImageCodecInfo* encoders) {
    if (!encoders) return InvalidParameter;
    if (!Started()) return GdiplusNotInitialized;
    if (count != kEncoders.size() || size < EncoderListSize()) return GenericError;
    BYTE* cursor = reinterpret_cast<BYTE*>(encoders + kEncoders.size());
    for (size_t i = 0; i < kEncoders.size(); ++i) {
        const EncoderEntry& e = kEncoders[i];
        ImageCodecInfo& info = encoders[i];
        info = ImageCodecInfo{};
        info.Clsid = e.clsid;
        info.FormatID = e.format;
        info.CodecName = Place(cursor, e.codec_name, StringBytes(e.codec_name));
        info.DllName = nullptr;
        info.FormatDescription = Place(cursor, e.description, StringBytes(e.description));
        info.FilenameExtension = Place(cursor, e.extensions, StringBytes(e.extensions));
        info.MimeType = Place(cursor, e.mime_type, StringBytes(e.mime_type));
        info.Flags = ImageCodecFlagsEncoder | ImageCodecFlagsDecoder | ImageCodecFlagsSupportBitmap |
                     ImageCodecFlagsBuiltin;
        info.Version = 1;
        info.SigCount = 1;
        info.SigSize = static_cast<DWORD>(e.signature.size());
        info.SigPattern = Place(cursor, e.signature.data(), e.signature.size());
        std::vector<BYTE> mask(e.signature.size(), 0xFF);
        info.SigMask = Place(cursor, mask.data(), mask.size());
    }
    return Ok;
}

Status GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap) {
    if (!filename || !bitmap) return InvalidParameter;
    *bitmap = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    std::vector<uint8_t> bytes;
    if (Status s = ReadFile(Utf16ToUtf8(filename, -1), bytes); s != Ok) return s;
    return DecodeInto(bytes, bitmap);
}

Status GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap) {
    if (!stream || !bitmap) return InvalidParameter;
    *bitmap = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    std::vector<uint8_t> bytes;
    if (Status s = ReadStream(stream, bytes); s != Ok) return s;
    return DecodeInto(bytes, bitmap);
}

Status GdipCreateBitmapFromScan0(INT width, INT height, INT, PixelFormat format, BYTE* scan0,
                                 GpBitmap** bitmap) {
    if (!bitmap) return InvalidParameter;
    *bitmap = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    if (width <= 0 || height <= 0 ||
        !SizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
        return InvalidParameter;
    uint32_t fill = 0;
    if (format == PixelFormat24bppRGB || format == PixelFormat32bppRGB)
        fill = 0xFF000000u;
    else if (format != PixelFormat32bppARGB && format != PixelFormat32bppPARGB)
        return NotImplemented;
    if (scan0) return NotImplemented;
    PixelImage image;
    if (DecodeError e =
            AllocatePixels(image, static_cast<uint64_t>(width), static_cast<uint64_t>(height), fill);
        e != DecodeError::None)
        return OutOfMemory;
    image.raw_format = ImageFormatMemoryBMP;
    image.pixel_format = format;
    return MakeBitmap(std::move(image), bitmap);
}

Status GdipDisposeImage(GpImage* image) {
    if (!image) return InvalidParameter;
    delete AsBitmap(image);
    return Ok;
}

Status GdipGetImageRawFormat(GpImage* image, GUID* format) {
    if (!image || !format) return InvalidParameter;
    *format = AsBitmap(image)->pixels()->raw_format;
    return Ok;
}

Status GdipGetImageWidth(GpImage* image, UINT* width) {
    if (!image || !width) return InvalidParameter;
    *width = AsBitmap(image)->pixels()->width;
    return Ok;
}

Status GdipGetImageHeight(GpImage* image, UINT* height) {
    if (!image || !height) return InvalidParameter;
    *height = AsBitmap(image)->pixels()->height;
    return Ok;
}

Status GdipGetImagePixelFormat(GpImage* image, PixelFormat* format) {
    if (!image || !format) return InvalidParameter;
    *format = AsBitmap(image)->pixels()->pixel_format;
    return Ok;
}

Status GdipGetImageHorizontalResolution(GpImage* image, REAL* dpi) {
    if (!image || !dpi) return InvalidParameter;
    *dpi = AsBitmap(image)->pixels()->dpi_x;
    return Ok;
}

Status GdipGetImageVerticalResolution(GpImage* image, REAL* dpi) {
    if (!image || !dpi) return InvalidParameter;
    *dpi = AsBitmap(image)->pixels()->dpi_y;
    return Ok;
}

Status GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color) {
    if (!bitmap || !color) return InvalidParameter;
    const PixelImage& p = *AsBitmap(bitmap)->pixels();
    if (x < 0 || y < 0 || static_cast<UINT>(x) >= p.width || static_cast<UINT>(y) >= p.height)
        return InvalidParameter;
    *color = p.Row(static_cast<uint32_t>(y))[x];
    return Ok;
}

Status GdipBitmapSetPixel(GpBitmap* bitmap, INT x, INT y, ARGB color) {
    if (!bitmap) return InvalidParameter;
    PixelImage& p = *AsBitmap(bitmap)->pixels();
    if (x < 0 || y < 0 || static_cast<UINT>(x) >= p.width || static_cast<UINT>(y) >= p.height)
        return InvalidParameter;
    if (p.pixel_format == PixelFormat24bppRGB || p.pixel_format == PixelFormat32bppRGB) color |= 0xFF000000u;
    p.Row(static_cast<uint32_t>(y))[x] = color;
    return Ok;
}

Status GdipSaveImageToStream(GpImage* image, IStream* stream, const CLSID* clsid,
                             const EncoderParameters* params) {
    if (!image || !stream || !clsid) return InvalidParameter;
    if (!Started()) return GdiplusNotInitialized;
    int quality = kDefaultJpegQuality;
    if (params) {
        for (UINT i = 0; i < params->Count; ++i) {
            const EncoderParameter& p = params->Parameter[i];
            if (p.Guid != EncoderQuality) continue;
            if (p.Type != EncoderParameterValueTypeLong || p.NumberOfValues != 1 || !p.Value)
                return InvalidParameter;
            const ULONG q = *static_cast<const ULONG*>(p.Value);
            if (q > 100) return InvalidParameter;
            quality = static_cast<int>(q);
        }
    }
    const PixelImage& pixels = *AsBitmap(image)->pixels();
    std::vector<uint8_t> bytes;
    bool encoded;
    if (*clsid == kJpegEncoder)
        encoded = EncodeJpeg(pixels, quality, bytes);
    else if (*clsid == kPngEncoder)
        encoded = EncodePng(pixels, bytes);
    else
        return UnknownImageFormat;
    if (!encoded) return GenericError;
    for (size_t done = 0; done < bytes.size();) {
        const size_t left = bytes.size() - done;
        const ULONG n = static_cast<ULONG>(left < kStreamChunk ? left : kStreamChunk);
        ULONG written = 0;
        if (FAILED(stream->Write(bytes.data() + done, n, &written)) || written != n) return Win32Error;
        done += n;
    }
    return Ok;
}
