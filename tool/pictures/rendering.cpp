#include "tool/pictures/rendering.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "platform/text/text.h"
#include "tool/pictures/gdiplus_objects.h"
#include "tool/pictures/picture_services.h"
#include "tool/pictures/recoding.h"

namespace quillet {
namespace {

using Gdiplus::Ok;

constexpr Gdiplus::ARGB kWhite = 0xFFFFFFFF;
constexpr Gdiplus::ARGB kBlack = 0xFF000000;
constexpr LONG kDefaultFontSize = 16;
constexpr LONG kLargestFontSize = 72;
constexpr INT kMeasureHeight = 1200;  // room below the area while the size is searched

// The generic sans-serif family, asked for on first use and kept until the
// process ends (the services hand out one object for it anyway). A failed
// request (the services not started yet) is asked again next time. Both
// renderings ask for it first, so this is where they start the services.
GpFontFamily* SansSerif() {
    UsePictureServices();
    static GpFontFamily* family = nullptr;
    if (!family && GdipGetGenericFontFamilySansSerif(&family) != Ok) family = nullptr;
    return family;
}

PathPtr NewPath() {
    GpPath* path = nullptr;
    if (GdipCreatePath(Gdiplus::FillModeAlternate, &path) != Ok) {
        if (path) GdipDeletePath(path);
        return {};
    }
    return PathPtr(path);
}

FontPtr NewFont(GpFontFamily* family, Gdiplus::REAL points, INT style) {
    GpFont* font = nullptr;
    if (GdipCreateFont(family, points, style, Gdiplus::UnitPoint, &font) != Ok) {
        if (font) GdipDeleteFont(font);
        return {};
    }
    return FontPtr(font);
}

BrushPtr NewBlackBrush() {
    GpSolidFill* brush = nullptr;
    if (GdipCreateSolidFill(kBlack, &brush) != Ok) {
        if (brush) GdipDeleteBrush(brush);
        return {};
    }
    return BrushPtr(brush);
}

// The vertical resolution of a 1 x 1 scratch canvas: what every new bitmap's
// graphics report. Zero when the scratch cannot be made.
Gdiplus::REAL ScratchDpi() {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(1, 1, 0, Gdiplus::PixelFormat32bppARGB, nullptr, &bitmap) != Ok) {
        if (bitmap) GdipDisposeImage(bitmap);
        return 0;
    }
    BitmapPtr owned(bitmap);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(bitmap, &graphics) != Ok || !graphics) {
        if (graphics) GdipDeleteGraphics(graphics);
        return 0;
    }
    GraphicsPtr owned_graphics(graphics);
    Gdiplus::REAL dpi = 0;
    if (GdipGetDpiY(graphics, &dpi) != Ok) return 0;
    return dpi;
}

// Whether the picture services can make a canvas `width` x `height` at all,
// asked with two one-pixel-thin bitmaps so that nothing large is allocated.
bool CanvasSidesPossible(double width, double height) {
    for (const auto& [w, h] : {std::pair<double, double>{width, 1}, std::pair<double, double>{1, height}}) {
        if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
        GpBitmap* bitmap = nullptr;
        const Gdiplus::Status status =
            GdipCreateBitmapFromScan0(std::max(1, static_cast<INT>(w)), std::max(1, static_cast<INT>(h)), 0,
                                      Gdiplus::PixelFormat32bppARGB, nullptr, &bitmap);
        if (bitmap) GdipDisposeImage(bitmap);
        if (status != Ok) return false;
    }
    return true;
}

// A lower bound of the text picture's size: every line is at least one em
// high and at least an eighth of an em wide per character (spaces and the
// narrowest letters are wider). A text whose bound no canvas can hold (a huge
// file given as lyrics) fails here instead of being laid out, which would
// take minutes and gigabytes first.
bool TextCouldFit(LPCWSTR text, double em, LONG margin) {
    double lines = 1;
    double longest = 0;
    double current = 0;
    for (LPCWSTR c = text; *c; ++c) {
        if (*c == u'\n' || (*c == u'\r' && c[1] != u'\n')) {
            ++lines;
            current = 0;
        } else if (*c != u'\r') {
            longest = std::max(longest, ++current);
        }
    }
    return CanvasSidesPossible(longest * em / 8 + 2.0 * margin, lines * em + 2.0 * margin);
}

}  // namespace

ULONG IntegerSquareRoot(ULONG n) {
    if (n == 0) return 0;  // a Newton step would divide by the guess 0
    ULONG guess = 1;
    ULONG copy = n;
    while (guess < copy) {
        guess <<= 1;
        copy >>= 1;
    }
    for (;;) {
        const ULONG next = (guess + n / guess) / 2;
        if (next >= guess) break;
        guess = next;
    }
    return guess;
}

bool RenderTextPicture(MediaPicture* picture, const CLSID& jpeg_encoder, LPCWSTR text, LONG font_size) {
    if (!picture || !text || !*text) return false;
    LONG size = font_size;
    if (size < 1) size = kDefaultFontSize;
    if (size > kLargestFontSize) size = kLargestFontSize;
    GpFontFamily* family = SansSerif();
    if (!family) return false;

    const Gdiplus::REAL dpi = ScratchDpi();
    if (!(dpi > 0)) return false;
    const Gdiplus::REAL em = static_cast<Gdiplus::REAL>(size) * dpi / 72;
    if (!TextCouldFit(text, em, size)) return false;

    Gdiplus::Rect bounds{};
    {
        PathPtr path = NewPath();
        if (!path) return false;
        // No layout width: lines break only at the text's own line breaks.
        const Gdiplus::RectF layout{0, 0, 0, 0};
        if (GdipAddPathString(path.get(), text, -1, family, Gdiplus::FontStyleRegular, em, &layout,
                              nullptr) != Ok)
            return false;
        if (GdipGetPathWorldBoundsI(path.get(), &bounds, nullptr, nullptr) != Ok) return false;
    }

    // The size in points doubles as a margin in pixels on every side; the
    // bounds' own offset is kept.
    const INT width = bounds.X + bounds.Width + 2 * size;
    const INT height = bounds.Y + bounds.Height + 2 * size;
    Canvas canvas = MakeCanvas(width, height);
    if (!canvas) return false;
    FontPtr font = NewFont(family, static_cast<Gdiplus::REAL>(size), Gdiplus::FontStyleRegular);
    BrushPtr brush = NewBlackBrush();
    if (!font || !brush) return false;
    if (GdipGraphicsClear(canvas.graphics.get(), kWhite) != Ok) return false;
    const Gdiplus::RectF at{static_cast<Gdiplus::REAL>(size), static_cast<Gdiplus::REAL>(size), 0, 0};
    if (GdipDrawString(canvas.graphics.get(), text, -1, font.get(), &at, nullptr, brush.get()) != Ok)
        return false;
    return EncodeJpeg(canvas.bitmap.get(), jpeg_encoder, picture);
}

bool RenderJacketPicture(MediaPicture* picture, const CLSID& jpeg_encoder, LPCWSTR artist, LPCWSTR title) {
    if (!picture) return false;
    const LPCWSTR artist_text = artist && *artist ? artist : u"Unknown Artist";
    const LPCWSTR title_text = title && *title ? title : u"Unknown Title";
    GpFontFamily* family = SansSerif();
    if (!family) return false;

    ULONG characters = static_cast<ULONG>(lstrlenW(artist_text)) + static_cast<ULONG>(lstrlenW(title_text));
    if (characters < 1) characters = 1;
    const ULONG root = IntegerSquareRoot(characters);
    INT title_size =
        root < static_cast<ULONG>(kJacketTextArea) ? kJacketTextArea / static_cast<INT>(root) : 1;

    PathPtr path = NewPath();
    if (!path) return false;

    // The largest title size, from the start down to 1, whose two blocks fit
    // the area's height one above the other. Failed path calls leave the
    // bounds as they come out.
    const Gdiplus::Rect search{0, 0, kJacketTextArea, kMeasureHeight};
    while (title_size > 1) {
        GdipResetPath(path.get());
        Gdiplus::RectF artist_bounds{};
        GdipAddPathStringI(path.get(), artist_text, -1, family, Gdiplus::FontStyleUnderline,
                           title_size * 8 / 10, &search, nullptr);
        GdipGetPathWorldBounds(path.get(), &artist_bounds, nullptr, nullptr);
        const Gdiplus::REAL artist_bottom = artist_bounds.Y + artist_bounds.Height;
        GdipResetPath(path.get());
        Gdiplus::RectF title_bounds{};
        GdipAddPathStringI(path.get(), title_text, -1, family, Gdiplus::FontStyleBold, title_size, &search,
                           nullptr);
        GdipGetPathWorldBounds(path.get(), &title_bounds, nullptr, nullptr);
        if (title_bounds.Y + title_bounds.Height + artist_bottom < kJacketTextArea) break;
        --title_size;
    }

    // The final measure inside the area itself.
    const double artist_em = title_size * 8.0 / 10;
    const Gdiplus::RectF area{0, 0, kJacketTextArea, kJacketTextArea};
    Gdiplus::RectF a{0, 0, 0, 0};
    Gdiplus::RectF t{0, 0, 0, 0};
    GdipResetPath(path.get());
    if (GdipAddPathString(path.get(), artist_text, -1, family, Gdiplus::FontStyleUnderline,
                          static_cast<Gdiplus::REAL>(artist_em), &area, nullptr) != Ok ||
        GdipGetPathWorldBounds(path.get(), &a, nullptr, nullptr) != Ok)
        a = Gdiplus::RectF{0, 0, 0, 0};
    GdipResetPath(path.get());
    if (GdipAddPathString(path.get(), title_text, -1, family, Gdiplus::FontStyleBold,
                          static_cast<Gdiplus::REAL>(title_size), &area, nullptr) != Ok ||
        GdipGetPathWorldBounds(path.get(), &t, nullptr, nullptr) != Ok)
        t = Gdiplus::RectF{0, 0, 0, 0};
    path.reset();

    if (!(a.Width > 0 && a.Height > 0 && t.Width > 0 && t.Height > 0)) return false;
    if (a.Width > kJacketTextArea || t.Width > kJacketTextArea || a.Height + t.Height > kJacketTextArea)
        return false;

    // Each block gets a share of the area's height in proportion to its extent.
    const double artist_extent = static_cast<double>(a.Y) + a.Height;
    const double title_extent = static_cast<double>(t.Y) + t.Height;
    const auto artist_share =
        static_cast<Gdiplus::REAL>(kJacketTextArea * artist_extent / (artist_extent + title_extent));
    const Gdiplus::RectF artist_box{kJacketInset, kJacketInset, kJacketTextArea, artist_share};
    const Gdiplus::RectF title_box{kJacketInset, kJacketInset + artist_share, kJacketTextArea,
                                   kJacketTextArea - artist_share};

    Canvas canvas = MakeCanvas(kJacketCanvasSize, kJacketCanvasSize);
    if (!canvas) return false;
    Gdiplus::REAL dpi = 0;
    if (GdipGetDpiY(canvas.graphics.get(), &dpi) != Ok || !(dpi > 0)) return false;
    FontPtr artist_font =
        NewFont(family, static_cast<Gdiplus::REAL>(artist_em * 72 / dpi), Gdiplus::FontStyleUnderline);
    FontPtr title_font =
        NewFont(family, static_cast<Gdiplus::REAL>(static_cast<double>(title_size) * 72 / dpi),
                Gdiplus::FontStyleBold);
    BrushPtr brush = NewBlackBrush();
    if (!artist_font || !title_font || !brush) return false;

    GpStringFormat* raw_format = nullptr;
    if (GdipCreateStringFormat(Gdiplus::StringFormatFlagsNoClip, LANG_NEUTRAL, &raw_format) != Ok) {
        if (raw_format) GdipDeleteStringFormat(raw_format);
        return false;
    }
    FormatPtr format(raw_format);
    if (GdipSetStringFormatAlign(raw_format, Gdiplus::StringAlignmentCenter) != Ok ||
        GdipSetStringFormatLineAlign(raw_format, Gdiplus::StringAlignmentCenter) != Ok)
        return false;

    if (GdipGraphicsClear(canvas.graphics.get(), kWhite) != Ok) return false;
    const bool drawn = GdipDrawString(canvas.graphics.get(), artist_text, -1, artist_font.get(), &artist_box,
                                      raw_format, brush.get()) == Ok &&
                       GdipDrawString(canvas.graphics.get(), title_text, -1, title_font.get(), &title_box,
                                      raw_format, brush.get()) == Ok;
    if (!drawn) return false;
    return EncodeJpeg(canvas.bitmap.get(), jpeg_encoder, picture);
}

}  // namespace quillet
