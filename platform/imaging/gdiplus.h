// The GDI+ flat API as the console tool calls it: picture decoding, scaling,
// drawing text and encoding.
//
// How it works. Every image is a bitmap held whole in memory as 32-bit ARGB
// pixels (0xAARRGGBB, not premultiplied) together with the raw format it was
// read from. Decoding is eager: GdipCreateBitmapFromFile and
// GdipCreateBitmapFromStream read all bytes, recognise the format by content
// (JPEG, EXIF JPEG, PNG, GIF, BMP, TIFF, icons) and decode at once, so neither
// the file nor the stream is needed afterwards. Decoders work on memory with
// explicit limits (at most 30000 pixels a side and 256 megapixels; inputs of
// at most 1 GiB) and map every damaged or truncated input to a failure status.
// Drawing (GdipGraphicsClear, GdipDrawImageRectRectI, GdipDrawString) goes
// through Cairo on the bitmap's pixels; text is laid out by Pango with the
// fontconfig sans-serif font. Encoding writes JPEG (libjpeg-turbo at its
// default quality 75) and PNG (libpng).
//
// Every call needs GdiplusStartup first and returns GdiplusNotInitialized
// otherwise. Objects are not shared between threads: each caller owns what a
// Gdip*Create* call gives it until the matching dispose or delete call. A
// graphics object keeps its bitmap's pixels alive, so disposing the image
// before deleting its graphics is harmless.
#pragma once

#include <cstdint>

#include "platform/com/guid.h"
#include "platform/imaging/stream.h"
#include "platform/wintypes.h"

using ULONG_PTR = uintptr_t;
using LANGID = uint16_t;
inline constexpr LANGID LANG_NEUTRAL = 0;

namespace Gdiplus {

using REAL = float;
using ARGB = DWORD;
using PixelFormat = INT;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};

enum Unit {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

enum CompositingQuality {
    CompositingQualityInvalid = -1,
    CompositingQualityDefault = 0,
    CompositingQualityHighSpeed = 1,
    CompositingQualityHighQuality = 2,
    CompositingQualityGammaCorrected = 3,
    CompositingQualityAssumeLinear = 4,
};

enum InterpolationMode {
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum SmoothingMode {
    SmoothingModeInvalid = -1,
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
};

enum PixelOffsetMode {
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

enum TextRenderingHint {
    TextRenderingHintSystemDefault = 0,
    TextRenderingHintSingleBitPerPixelGridFit = 1,
    TextRenderingHintSingleBitPerPixel = 2,
    TextRenderingHintAntiAliasGridFit = 3,
    TextRenderingHintAntiAlias = 4,
    TextRenderingHintClearTypeGridFit = 5,
};

enum FontStyle {
    FontStyleRegular = 0,
    FontStyleBold = 1,
    FontStyleItalic = 2,
    FontStyleBoldItalic = 3,
    FontStyleUnderline = 4,
    FontStyleStrikeout = 8,
};

enum FillMode { FillModeAlternate = 0, FillModeWinding = 1 };

enum StringAlignment { StringAlignmentNear = 0, StringAlignmentCenter = 1, StringAlignmentFar = 2 };

enum StringFormatFlags {
    StringFormatFlagsDirectionRightToLeft = 0x0001,
    StringFormatFlagsDirectionVertical = 0x0002,
    StringFormatFlagsNoFitBlackBox = 0x0004,
    StringFormatFlagsDisplayFormatControl = 0x0020,
    StringFormatFlagsNoFontFallback = 0x0400,
    StringFormatFlagsMeasureTrailingSpaces = 0x0800,
    StringFormatFlagsNoWrap = 0x1000,
    StringFormatFlagsLineLimit = 0x2000,
    StringFormatFlagsNoClip = 0x4000,
};

// Pixel formats (the values GDI+ gives them). Bitmaps made here are
// PixelFormat32bppARGB, PixelFormat32bppRGB or PixelFormat24bppRGB; decoded
// images report the format closest to what the file held.
inline constexpr PixelFormat PixelFormat24bppRGB = 0x00021808;
inline constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;
inline constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A;
inline constexpr PixelFormat PixelFormat32bppPARGB = 0x000E200B;

struct Rect {
    INT X, Y, Width, Height;
};
struct RectF {
    REAL X, Y, Width, Height;
};

using DebugEventProc = void (*)(int level, char* message);

struct GdiplusStartupInput {
    UINT GdiplusVersion = 1;
    DebugEventProc DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};

struct GdiplusStartupOutput {
    void* NotificationHook = nullptr;
    void* NotificationUnhook = nullptr;
};

// One entry of the encoder list. The strings point into the same buffer as
// the entries (GdipGetImageEncoders lays them out after the array).
struct ImageCodecInfo {
    CLSID Clsid;
    GUID FormatID;
    const WCHAR* CodecName;
    const WCHAR* DllName;
    const WCHAR* FormatDescription;
    const WCHAR* FilenameExtension;
    const WCHAR* MimeType;
    DWORD Flags;
    DWORD Version;
    DWORD SigCount;
    DWORD SigSize;
    const BYTE* SigPattern;
    const BYTE* SigMask;
};

inline constexpr DWORD ImageCodecFlagsEncoder = 0x00000001;
inline constexpr DWORD ImageCodecFlagsDecoder = 0x00000002;
inline constexpr DWORD ImageCodecFlagsSupportBitmap = 0x00000004;
inline constexpr DWORD ImageCodecFlagsBuiltin = 0x00010000;

struct EncoderParameter {
    GUID Guid;
    ULONG NumberOfValues;
    ULONG Type;
    void* Value;
};
struct EncoderParameters {
    UINT Count;
    EncoderParameter Parameter[1];
};
inline constexpr ULONG EncoderParameterValueTypeLong = 4;

using GpStatus = Status;
using GpUnit = Unit;
using GpFillMode = FillMode;
using DrawImageAbort = BOOL (*)(void* data);

}  // namespace Gdiplus

// Opaque object types of the flat API. Callers only hold pointers to them.
class GpImage {
  public:
    virtual ~GpImage() = default;

  protected:
    GpImage() = default;
};
class GpBitmap : public GpImage {
  protected:
    GpBitmap() = default;
};
class GpGraphics;
class GpBrush {
  public:
    virtual ~GpBrush() = default;

  protected:
    GpBrush() = default;
};
class GpSolidFill : public GpBrush {
  protected:
    GpSolidFill() = default;
};
class GpFontFamily;
class GpFont;
class GpStringFormat;
class GpPath;
class GpMatrix;
class GpPen;
class GpImageAttributes;
class GpFontCollection;

// Raw formats (GdipGetImageRawFormat) with their GDI+ identifiers.
inline constexpr GUID ImageFormatUndefined = platform::MakeGuid("{B96B3CA9-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatMemoryBMP = platform::MakeGuid("{B96B3CAA-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatBMP = platform::MakeGuid("{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatEMF = platform::MakeGuid("{B96B3CAC-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatWMF = platform::MakeGuid("{B96B3CAD-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatJPEG = platform::MakeGuid("{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatPNG = platform::MakeGuid("{B96B3CAF-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatGIF = platform::MakeGuid("{B96B3CB0-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatTIFF = platform::MakeGuid("{B96B3CB1-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatEXIF = platform::MakeGuid("{B96B3CB2-0728-11D3-9D7B-0000F81EF32E}");
inline constexpr GUID ImageFormatIcon = platform::MakeGuid("{B96B3CB5-0728-11D3-9D7B-0000F81EF32E}");

// Encoder parameter: JPEG quality 0..100 (one EncoderParameterValueTypeLong).
inline constexpr GUID EncoderQuality = platform::MakeGuid("{1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}");

// The flat API has C names and default visibility, as the exports of a DLL:
// the picture services module (gdiplus.so) exports exactly these functions,
// and a program that loads the module on first use finds each by its name
// (platform/imaging_delayload). Linked statically, they are ordinary functions.
extern "C" {
#pragma GCC visibility push(default)

// ---- start-up --------------------------------------------------------------

// Starts the library; calls nest (each needs its GdiplusShutdown). Version must
// be 1, 2 or 3 (UnsupportedGdiplusVersion); `input` and `token` must not be
// null (InvalidParameter); `output` may be null.
Gdiplus::Status GdiplusStartup(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                               Gdiplus::GdiplusStartupOutput* output);
// Ends one GdiplusStartup. Objects still alive stay usable but new ones fail.
void GdiplusShutdown(ULONG_PTR token);

// ---- encoders --------------------------------------------------------------

// Number of encoders and the bytes that GdipGetImageEncoders needs for them.
Gdiplus::Status GdipGetImageEncodersSize(UINT* count, UINT* size);
// Fills `encoders` (a buffer of `size` bytes, as given by
// GdipGetImageEncodersSize) with `count` entries and their strings. A smaller
// buffer or another count: GenericError (the buffer is left as it was).
Gdiplus::Status GdipGetImageEncoders(UINT count, UINT size, Gdiplus::ImageCodecInfo* encoders);

// ---- images ----------------------------------------------------------------

// Reads and decodes a whole picture file (UTF-16 path). A missing or
// unreadable file: Win32Error (GetLastError tells why); bytes of no known
// format: UnknownImageFormat; a damaged or truncated picture: GenericError;
// an image beyond the size limits: OutOfMemory. The image belongs to the caller.
Gdiplus::Status GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap);
// Decodes the whole stream from its start (the seek pointer is moved; the
// stream is not kept). Results as for GdipCreateBitmapFromFile; a failing
// stream read: Win32Error.
Gdiplus::Status GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap);
// A new bitmap of width x height (1 .. 30000 each, InvalidParameter otherwise),
// all pixels 0 (transparent black). `scan0` must be null (caller-owned pixel
// memory is not supported: NotImplemented). Raw format: ImageFormatMemoryBMP.
Gdiplus::Status GdipCreateBitmapFromScan0(INT width, INT height, INT stride, Gdiplus::PixelFormat format,
                                          BYTE* scan0, GpBitmap** bitmap);
// Frees the image (null: InvalidParameter).
Gdiplus::Status GdipDisposeImage(GpImage* image);

Gdiplus::Status GdipGetImageRawFormat(GpImage* image, GUID* format);
Gdiplus::Status GdipGetImageWidth(GpImage* image, UINT* width);
Gdiplus::Status GdipGetImageHeight(GpImage* image, UINT* height);
Gdiplus::Status GdipGetImagePixelFormat(GpImage* image, Gdiplus::PixelFormat* format);
Gdiplus::Status GdipGetImageHorizontalResolution(GpImage* image, Gdiplus::REAL* dpi);
Gdiplus::Status GdipGetImageVerticalResolution(GpImage* image, Gdiplus::REAL* dpi);
// One pixel as 0xAARRGGBB; coordinates outside the bitmap: InvalidParameter.
Gdiplus::Status GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, Gdiplus::ARGB* color);
Gdiplus::Status GdipBitmapSetPixel(GpBitmap* bitmap, INT x, INT y, Gdiplus::ARGB color);

// Encodes the image with the encoder that `clsid` names (JPEG or PNG of the
// encoder list; any other, the all-zero id included: UnknownImageFormat) and
// writes it at the stream's seek pointer. `params` may be null; the JPEG
// encoder honours EncoderQuality. A failing stream write: Win32Error.
Gdiplus::Status GdipSaveImageToStream(GpImage* image, IStream* stream, const CLSID* clsid,
                                      const Gdiplus::EncoderParameters* params);

// ---- graphics --------------------------------------------------------------

// A drawing surface on the image's pixels; belongs to the caller.
Gdiplus::Status GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics);
Gdiplus::Status GdipDeleteGraphics(GpGraphics* graphics);
// Settings; values outside their enumerations (or Invalid): InvalidParameter.
Gdiplus::Status GdipSetCompositingQuality(GpGraphics* graphics, Gdiplus::CompositingQuality quality);
Gdiplus::Status GdipSetInterpolationMode(GpGraphics* graphics, Gdiplus::InterpolationMode mode);
Gdiplus::Status GdipSetSmoothingMode(GpGraphics* graphics, Gdiplus::SmoothingMode mode);
Gdiplus::Status GdipSetPixelOffsetMode(GpGraphics* graphics, Gdiplus::PixelOffsetMode mode);
Gdiplus::Status GdipSetTextRenderingHint(GpGraphics* graphics, Gdiplus::TextRenderingHint hint);
Gdiplus::Status GdipGetInterpolationMode(GpGraphics* graphics, Gdiplus::InterpolationMode* mode);
// The bitmap's resolution (96 for bitmaps made here).
Gdiplus::Status GdipGetDpiX(GpGraphics* graphics, Gdiplus::REAL* dpi);
Gdiplus::Status GdipGetDpiY(GpGraphics* graphics, Gdiplus::REAL* dpi);
// Replaces every pixel by `color`.
Gdiplus::Status GdipGraphicsClear(GpGraphics* graphics, Gdiplus::ARGB color);
// Draws the source rectangle of `image` scaled into the destination rectangle,
// composited over what is there. Only UnitPixel sources; `attributes` must be
// null and `abort` is never called. HighQualityBicubic and HighQualityBilinear
// use a filter that averages every source pixel when shrinking; edges are
// extended, not faded. An empty rectangle draws nothing and is Ok.
Gdiplus::Status GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dst_x, INT dst_y,
                                       INT dst_width, INT dst_height, INT src_x, INT src_y, INT src_width,
                                       INT src_height, Gdiplus::Unit src_unit,
                                       const GpImageAttributes* attributes, Gdiplus::DrawImageAbort abort,
                                       void* abort_data);

// ---- brushes, fonts, string formats, paths and text -------------------------

Gdiplus::Status GdipCreateSolidFill(Gdiplus::ARGB color, GpSolidFill** brush);
Gdiplus::Status GdipDeleteBrush(GpBrush* brush);

// The generic sans-serif family (fontconfig's "sans-serif"), one object for
// the whole process; GdipDeleteFontFamily on it does nothing.
Gdiplus::Status GdipGetGenericFontFamilySansSerif(GpFontFamily** family);
// A named family; `collection` must be null. A name that fontconfig cannot
// match to a family of that name: FontFamilyNotFound.
Gdiplus::Status GdipCreateFontFamilyFromName(const WCHAR* name, GpFontCollection* collection,
                                             GpFontFamily** family);
Gdiplus::Status GdipDeleteFontFamily(GpFontFamily* family);
// The family's name (at most 32 units including the NUL, as LF_FACESIZE).
Gdiplus::Status GdipGetFamilyName(const GpFontFamily* family, WCHAR name[32], LANGID language);

// A font of `size` in `unit` (not UnitDisplay: InvalidParameter); `style` is a
// FontStyle combination.
Gdiplus::Status GdipCreateFont(const GpFontFamily* family, Gdiplus::REAL size, INT style, Gdiplus::Unit unit,
                               GpFont** font);
Gdiplus::Status GdipDeleteFont(GpFont* font);
Gdiplus::Status GdipGetFontSize(GpFont* font, Gdiplus::REAL* size);

// String formats: StringFormatFlags, the language is recorded only.
Gdiplus::Status GdipCreateStringFormat(INT flags, LANGID language, GpStringFormat** format);
Gdiplus::Status GdipDeleteStringFormat(GpStringFormat* format);
Gdiplus::Status GdipSetStringFormatAlign(GpStringFormat* format, Gdiplus::StringAlignment align);
Gdiplus::Status GdipSetStringFormatLineAlign(GpStringFormat* format, Gdiplus::StringAlignment align);
Gdiplus::Status GdipSetStringFormatFlags(GpStringFormat* format, INT flags);

// Paths hold the outlines of text added to them (flattened to lines).
Gdiplus::Status GdipCreatePath(Gdiplus::FillMode fill_mode, GpPath** path);
Gdiplus::Status GdipDeletePath(GpPath* path);
Gdiplus::Status GdipResetPath(GpPath* path);
Gdiplus::Status GdipGetPointCount(GpPath* path, INT* count);
// Adds the outlines of `text` (`length` units, -1: up to the NUL) laid out at
// em size `em_size` (world units = pixels) in `layout`. A layout width of 0
// means no wrapping (lines break only at the text's line breaks), a height of
// 0 no limit; otherwise lines wrap at words (or inside a word longer than the
// width) and lines starting below the height are left out. `format` may be
// null (near alignment on both axes).
Gdiplus::Status GdipAddPathString(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family,
                                  INT style, Gdiplus::REAL em_size, const Gdiplus::RectF* layout,
                                  const GpStringFormat* format);
Gdiplus::Status GdipAddPathStringI(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family,
                                   INT style, INT em_size, const Gdiplus::Rect* layout,
                                   const GpStringFormat* format);
// Bounds of the path's points; an empty path gives all zero. `matrix` and
// `pen` must be null (transformed and widened bounds: NotImplemented).
Gdiplus::Status GdipGetPathWorldBounds(GpPath* path, Gdiplus::RectF* bounds, const GpMatrix* matrix,
                                       const GpPen* pen);
// The same, widened to whole pixels (floor of the start, ceiling of the end).
Gdiplus::Status GdipGetPathWorldBoundsI(GpPath* path, Gdiplus::Rect* bounds, const GpMatrix* matrix,
                                        const GpPen* pen);

// Draws `text` with `font` and `brush` in `layout`, laid out as for
// GdipAddPathString; the font's size is converted to pixels with the
// graphics' resolution. Unless the format has StringFormatFlagsNoClip, a
// layout with width and height clips the drawing to it.
Gdiplus::Status GdipDrawString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                               const Gdiplus::RectF* layout, const GpStringFormat* format,
                               const GpBrush* brush);
// The box that GdipDrawString would fill: `bounds` gets the lines' extent
// (placed as the format aligns them); `codepoints_fitted` and `lines_filled`
// (may be null) the units and lines laid out.
Gdiplus::Status GdipMeasureString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                                  const Gdiplus::RectF* layout, const GpStringFormat* format,
                                  Gdiplus::RectF* bounds, INT* codepoints_fitted, INT* lines_filled);

#pragma GCC visibility pop
}  // extern "C"
