// Fonts, text outlines and their bounds, string formats, and drawing text.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <string>

#include "test_pictures.h"

using namespace Gdiplus;
using namespace imaging_test;

namespace {

GpFontFamily* SansSerif() {
    GpFontFamily* family = nullptr;
    EXPECT_EQ(GdipGetGenericFontFamilySansSerif(&family), Ok);
    return family;
}

RectF PathBounds(const std::u16string& text, INT style, REAL em, RectF layout = {0, 0, 0, 0},
                 const GpStringFormat* format = nullptr) {
    GpPath* path = nullptr;
    EXPECT_EQ(GdipCreatePath(FillModeAlternate, &path), Ok);
    EXPECT_EQ(GdipAddPathString(path, text.c_str(), static_cast<INT>(text.size()), SansSerif(), style, em,
                                &layout, format),
              Ok);
    RectF bounds{};
    EXPECT_EQ(GdipGetPathWorldBounds(path, &bounds, nullptr, nullptr), Ok);
    GdipDeletePath(path);
    return bounds;
}

TEST(ImagingText, FamiliesResolveThroughFontconfig) {
    GpFontFamily* generic = SansSerif();
    ASSERT_NE(generic, nullptr);
    EXPECT_EQ(SansSerif(), generic);  // one object for the process
    EXPECT_EQ(GdipDeleteFontFamily(generic), Ok);
    WCHAR name[32] = {};
    ASSERT_EQ(GdipGetFamilyName(generic, name, LANG_NEUTRAL), Ok);
    EXPECT_GT(std::u16string_view(name).size(), 0u);

    GpFontFamily* named = nullptr;
    ASSERT_EQ(GdipCreateFontFamilyFromName(name, nullptr, &named), Ok);
    EXPECT_EQ(GdipDeleteFontFamily(named), Ok);
    EXPECT_EQ(GdipCreateFontFamilyFromName(u"No Such Family Here", nullptr, &named), FontFamilyNotFound);
    EXPECT_EQ(named, nullptr);
}

// Glyphs that `family` alone (no fallback to other fonts) lacks for `utf8`:
// Pango marks each as unknown.
int UnknownGlyphs(const char* family, const char* utf8) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* context = pango_font_map_create_context(map);
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family);
    pango_font_description_set_absolute_size(desc, 20 * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_fallback_new(FALSE));
    pango_layout_set_attributes(layout, attrs);
    pango_layout_set_text(layout, utf8, -1);
    int unknown = 0;
    for (GSList* run = pango_layout_get_line_readonly(layout, 0)->runs; run; run = run->next) {
        const PangoGlyphString* glyphs = static_cast<PangoLayoutRun*>(run->data)->glyphs;
        for (int i = 0; i < glyphs->num_glyphs; ++i)
            if (glyphs->glyphs[i].glyph & PANGO_GLYPH_UNKNOWN_FLAG) ++unknown;
    }
    pango_attr_list_unref(attrs);
    pango_font_description_free(desc);
    g_object_unref(layout);
    g_object_unref(context);
    return unknown;
}

TEST(ImagingText, GenericFamilyDrawsJapaneseChineseAndKorean) {
    WCHAR name[32] = {};
    ASSERT_EQ(GdipGetFamilyName(SansSerif(), name, LANG_NEUTRAL), Ok);
    std::string family;
    for (const WCHAR* c = name; *c; ++c) family += static_cast<char>(*c);
    const char* titles = "\u541b\u304c\u4ee3 \u30a2\u30cb\u30e1 \u4e2d\u6587 \ud55c\uad6d\uc5b4 Latin";
    // The family itself holds every glyph, without help from other fonts...
    EXPECT_EQ(UnknownGlyphs(family.c_str(), titles), 0) << family;
    // ...where a Latin-only family would have drawn missing-glyph boxes.
    if (UnknownGlyphs("DejaVu Sans", "A") == 0) {
        EXPECT_GT(UnknownGlyphs("DejaVu Sans", titles), 10);
    }
}

TEST(ImagingText, OutlineBoundsFollowSizeStyleAndLines) {
    const RectF small = PathBounds(u"Hello", FontStyleRegular, 20);
    const RectF large = PathBounds(u"Hello", FontStyleRegular, 40);
    ASSERT_GT(small.Width, 20);
    ASSERT_GT(small.Height, 10);
    EXPECT_NEAR(large.Width / small.Width, 2.0, 0.15);
    EXPECT_NEAR(large.Height / small.Height, 2.0, 0.15);
    EXPECT_GT(PathBounds(u"Hello", FontStyleBold, 40).Width, large.Width);

    // An underline reaches below the lowest glyph.
    const RectF plain = PathBounds(u"ace", FontStyleRegular, 40);
    const RectF underlined = PathBounds(u"ace", FontStyleUnderline, 40);
    EXPECT_GT(underlined.Y + underlined.Height, plain.Y + plain.Height + 1);
    EXPECT_LT(underlined.X, plain.X);  // the line spans the whole advance

    // Three lines are about three line heights tall; without a width no line wraps.
    const RectF one = PathBounds(u"Hg", FontStyleRegular, 20);
    const RectF three = PathBounds(u"Hg\r\nHg\r\nHg", FontStyleRegular, 20);
    EXPECT_GT(three.Height, 2.5 * one.Height);
    EXPECT_NEAR(three.Width, one.Width, 1.0);
    const std::u16string long_line(300, u'x');
    const RectF wide = PathBounds(long_line, FontStyleRegular, 20);
    EXPECT_GT(wide.Width, 1500);
    EXPECT_LT(wide.Height, 1.5 * one.Height);
}

TEST(ImagingText, LayoutWidthWrapsAndLayoutHeightLimitsTheLines) {
    std::u16string words;
    for (int i = 0; i < 200; ++i) words += u"word ";
    const RectF wrapped = PathBounds(words, FontStyleBold, 40, {0, 0, 600, 1200});
    EXPECT_LE(wrapped.X + wrapped.Width, 601);
    EXPECT_GT(wrapped.Height, 400);
    // Lines that start below the box are left out.
    EXPECT_LE(wrapped.Y + wrapped.Height, 1200 + 60);
    // A word longer than the width is broken inside.
    const RectF broken = PathBounds(std::u16string(100, u'W'), FontStyleRegular, 40, {0, 0, 600, 1200});
    EXPECT_LE(broken.X + broken.Width, 601);

    // Whole-pixel bounds enclose the fractional ones; an empty path has none.
    GpPath* path = nullptr;
    ASSERT_EQ(GdipCreatePath(FillModeAlternate, &path), Ok);
    Rect empty{1, 1, 1, 1};
    ASSERT_EQ(GdipGetPathWorldBoundsI(path, &empty, nullptr, nullptr), Ok);
    EXPECT_EQ(empty.Width, 0);
    const Rect layout{0, 0, 0, 0};
    ASSERT_EQ(GdipAddPathStringI(path, u"Hello", -1, SansSerif(), FontStyleRegular, 20, &layout, nullptr),
              Ok);
    Rect whole{};
    RectF exact{};
    ASSERT_EQ(GdipGetPathWorldBoundsI(path, &whole, nullptr, nullptr), Ok);
    ASSERT_EQ(GdipGetPathWorldBounds(path, &exact, nullptr, nullptr), Ok);
    EXPECT_LE(whole.X, exact.X);
    EXPECT_GE(whole.X + whole.Width, exact.X + exact.Width);
    ASSERT_EQ(GdipResetPath(path), Ok);
    INT points = -1;
    GdipGetPointCount(path, &points);
    EXPECT_EQ(points, 0);
    GdipDeletePath(path);
}

struct InkBox {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

TEST(ImagingText, DrawStringCentresBlackTextOnWhite) {
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(640, 640, 0, PixelFormat32bppARGB, nullptr, &bitmap), Ok);
    BitmapHolder holder(bitmap);
    GpGraphics* g = nullptr;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, &g), Ok);
    GdipSetTextRenderingHint(g, TextRenderingHintAntiAlias);
    REAL dpi = 0;
    ASSERT_EQ(GdipGetDpiY(g, &dpi), Ok);
    EXPECT_EQ(dpi, 96.0f);
    ASSERT_EQ(GdipGraphicsClear(g, 0xFFFFFFFFu), Ok);

    GpFont* font = nullptr;
    ASSERT_EQ(GdipCreateFont(SansSerif(), 60 * 72 / dpi, FontStyleBold, UnitPoint, &font), Ok);
    GpSolidFill* brush = nullptr;
    ASSERT_EQ(GdipCreateSolidFill(0xFF000000u, &brush), Ok);
    GpStringFormat* format = nullptr;
    ASSERT_EQ(GdipCreateStringFormat(StringFormatFlagsNoClip, LANG_NEUTRAL, &format), Ok);
    ASSERT_EQ(GdipSetStringFormatAlign(format, StringAlignmentCenter), Ok);
    ASSERT_EQ(GdipSetStringFormatLineAlign(format, StringAlignmentCenter), Ok);
    const RectF box{20, 320, 600, 300};
    ASSERT_EQ(GdipDrawString(g, u"Title", -1, font, &box, format, brush), Ok);

    InkBox ink;
    for (int y = 0; y < 640; ++y)
        for (int x = 0; x < 640; ++x) {
            ARGB c = 0;
            GdipBitmapGetPixel(bitmap, x, y, &c);
            EXPECT_EQ(c >> 24, 0xFFu);  // stays opaque
            if ((c & 0xFF) < 128) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
    ASSERT_GE(ink.right, 0) << "no text drawn";
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 320, 8);
    EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 470, 20);
    EXPECT_GT(ink.right - ink.left, 100);

    // The measured box agrees with what was drawn.
    RectF measured{};
    INT units = 0, lines = 0;
    ASSERT_EQ(GdipMeasureString(g, u"Title", -1, font, &box, format, &measured, &units, &lines), Ok);
    EXPECT_EQ(units, 5);
    EXPECT_EQ(lines, 1);
    EXPECT_LE(measured.X, ink.left + 1);
    EXPECT_GE(measured.X + measured.Width, ink.right - 1);

    GpFont* zero = nullptr;
    EXPECT_EQ(GdipCreateFont(SansSerif(), 0, FontStyleRegular, UnitPoint, &zero), InvalidParameter);
    EXPECT_EQ(zero, nullptr);
    GdipDeleteStringFormat(format);
    GdipDeleteBrush(brush);
    GdipDeleteFont(font);
    GdipDeleteGraphics(g);
}

TEST(ImagingText, DrawingIsClippedToTheLayoutUnlessNoClip) {
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(200, 100, 0, PixelFormat32bppARGB, nullptr, &bitmap), Ok);
    BitmapHolder holder(bitmap);
    GpGraphics* g = nullptr;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, &g), Ok);
    GpFont* font = nullptr;
    ASSERT_EQ(GdipCreateFont(SansSerif(), 40, FontStyleRegular, UnitPixel, &font), Ok);
    GpSolidFill* brush = nullptr;
    ASSERT_EQ(GdipCreateSolidFill(0xFF000000u, &brush), Ok);
    auto inked_below = [&](const GpStringFormat* format) {
        GdipGraphicsClear(g, 0xFFFFFFFFu);
        const RectF box{0, 0, 200, 20};  // half a line high
        EXPECT_EQ(GdipDrawString(g, u"HHHH", -1, font, &box, format, brush), Ok);
        int dark = 0;
        for (int y = 20; y < 100; ++y)
            for (int x = 0; x < 200; ++x) {
                ARGB c = 0;
                GdipBitmapGetPixel(bitmap, x, y, &c);
                dark += (c & 0xFF) < 128;
            }
        return dark;
    };
    EXPECT_EQ(inked_below(nullptr), 0);
    GpStringFormat* no_clip = nullptr;
    ASSERT_EQ(GdipCreateStringFormat(StringFormatFlagsNoClip, LANG_NEUTRAL, &no_clip), Ok);
    EXPECT_GT(inked_below(no_clip), 0);
    GdipDeleteStringFormat(no_clip);
    GdipDeleteBrush(brush);
    GdipDeleteFont(font);
    GdipDeleteGraphics(g);
}

}  // namespace

namespace {

// The text picture's way of working: measure the outlines at an em size in
// pixels, size a canvas from the bounds plus a margin, then draw with a font
// of the same size in points. The ink must land inside the margins.
TEST(ImagingText, TextMeasuredAsOutlinesFitsWhereItIsDrawn) {
    const std::u16string text = u"First line of the lyrics\r\nSecond, longer line of the lyrics\r\nThird";
    const int s = 16;                   // the font size in points
    const REAL em = s * 96.0f / 72.0f;  // in pixels at the canvas resolution
    GpPath* path = nullptr;
    ASSERT_EQ(GdipCreatePath(FillModeAlternate, &path), Ok);
    const RectF none{0, 0, 0, 0};
    ASSERT_EQ(GdipAddPathString(path, text.c_str(), -1, SansSerif(), FontStyleRegular, em, &none, nullptr),
              Ok);
    Rect b{};
    ASSERT_EQ(GdipGetPathWorldBoundsI(path, &b, nullptr, nullptr), Ok);
    GdipDeletePath(path);
    const INT width = b.X + b.Width + 2 * s, height = b.Y + b.Height + 2 * s;

    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap), Ok);
    BitmapHolder holder(bitmap);
    GpGraphics* g = nullptr;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, &g), Ok);
    ASSERT_EQ(GdipGraphicsClear(g, 0xFFFFFFFFu), Ok);
    GpFont* font = nullptr;
    ASSERT_EQ(GdipCreateFont(SansSerif(), static_cast<REAL>(s), FontStyleRegular, UnitPoint, &font), Ok);
    GpSolidFill* brush = nullptr;
    ASSERT_EQ(GdipCreateSolidFill(0xFF000000u, &brush), Ok);
    const RectF at{static_cast<REAL>(s), static_cast<REAL>(s), 0, 0};
    ASSERT_EQ(GdipDrawString(g, text.c_str(), -1, font, &at, nullptr, brush), Ok);

    InkBox ink;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            ARGB c = 0;
            GdipBitmapGetPixel(bitmap, x, y, &c);
            if ((c & 0xFF) < 200) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
    ASSERT_GE(ink.right, 0);
    // The ink is where the outlines were, shifted by the margin.
    EXPECT_NEAR(ink.left, b.X + s, 2);
    EXPECT_NEAR(ink.top, b.Y + s, 2);
    EXPECT_NEAR(ink.right, b.X + b.Width + s, 2);
    EXPECT_NEAR(ink.bottom, b.Y + b.Height + s, 2);
    GdipDeleteBrush(brush);
    GdipDeleteFont(font);
    GdipDeleteGraphics(g);
}

}  // namespace
