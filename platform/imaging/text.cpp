// Fonts, string formats, text paths and text drawing through Pango and Cairo.
//
// One function lays text out for all three uses (adding outlines to a path,
// drawing, measuring), so a text measured through a path is drawn exactly as
// measured. Layout is done without hinting and with unhinted metrics, which
// makes its sizes independent of where it is drawn. The em size given to a
// call becomes Pango's absolute font size in pixels. The generic sans-serif
// family is the first family of fontconfig's "sans-serif" list (sorted for
// Japanese) that covers Latin, kana, Han and Hangul, so one family draws the
// titles these files carry in any of those scripts, as the Windows generic
// family does through its linked fonts; without such a family it is the plain
// "sans-serif" alias.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <strings.h>

#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "platform/imaging/objects.h"

using namespace Gdiplus;

namespace platform::imaging {
namespace {

struct GObjectUnref {
    void operator()(void* p) const { g_object_unref(p); }
};
struct SurfaceDestroy {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct FontOptionsDestroy {
    void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
struct FontDescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct AttrListUnref {
    void operator()(PangoAttrList* a) const { pango_attr_list_unref(a); }
};
struct LayoutIterFree {
    void operator()(PangoLayoutIter* i) const { pango_layout_iter_free(i); }
};
struct PathDestroy {
    void operator()(cairo_path_t* p) const { cairo_path_destroy(p); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDestroy>;

constexpr const char* kGenericSansSerif = "sans-serif";

// Text laid out and placed: draw it with its top-left corner at (x, y).
struct PlacedText {
    LayoutPtr layout;
    double x = 0, y = 0;
    double width = 0, height = 0;  // logical extent in pixels
    INT units = 0;                 // UTF-16 units laid out
    INT lines = 0;
};

INT Utf16Units(const std::string& utf8, size_t bytes) {
    INT units = 0;
    for (size_t i = 0; i < bytes && i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

cairo_antialias_t AntialiasFor(TextRenderingHint hint) {
    return hint == TextRenderingHintSingleBitPerPixel || hint == TextRenderingHintSingleBitPerPixelGridFit
               ? CAIRO_ANTIALIAS_NONE
               : CAIRO_ANTIALIAS_GRAY;
}

bool LayOut(cairo_t* cr, const WCHAR* text, INT length, const std::string& family, INT style, double em_px,
            const RectF& rect, const GpStringFormat* format, TextRenderingHint hint, PlacedText& out) {
    const INT flags = format ? format->flags : 0;
    const StringAlignment align = format ? format->align : StringAlignmentNear;
    const StringAlignment line_align = format ? format->line_align : StringAlignmentNear;
    std::string utf8 = Utf16ToUtf8(text, length);

    out.layout.reset(pango_cairo_create_layout(cr));
    if (!out.layout) return false;
    PangoLayout* layout = out.layout.get();
    std::unique_ptr<cairo_font_options_t, FontOptionsDestroy> options(cairo_font_options_create());
    cairo_font_options_set_antialias(options.get(), AntialiasFor(hint));
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options.get());
    pango_layout_context_changed(layout);

    std::unique_ptr<PangoFontDescription, FontDescriptionFree> desc(pango_font_description_new());
    pango_font_description_set_family(desc.get(), family.c_str());
    pango_font_description_set_weight(desc.get(),
                                      (style & FontStyleBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(desc.get(),
                                     (style & FontStyleItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(desc.get(), em_px * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc.get());

    std::unique_ptr<PangoAttrList, AttrListUnref> attrs(pango_attr_list_new());
    // A word broken across lines gets no hyphen, as the text did not have one.
    pango_attr_list_insert(attrs.get(), pango_attr_insert_hyphens_new(FALSE));
    if (style & FontStyleUnderline)
        pango_attr_list_insert(attrs.get(), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (style & FontStyleStrikeout) pango_attr_list_insert(attrs.get(), pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout, attrs.get());

    // Lines are aligned among themselves by Pango; the block as a whole is
    // placed in the layout rectangle below.
    const bool wraps = rect.Width > 0 && !(flags & StringFormatFlagsNoWrap);
    if (wraps) {
        pango_layout_set_width(layout, static_cast<int>(rect.Width * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_alignment(layout, align == StringAlignmentCenter ? PANGO_ALIGN_CENTER
                                       : align == StringAlignmentFar  ? PANGO_ALIGN_RIGHT
                                                                      : PANGO_ALIGN_LEFT);
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));

    // A layout height keeps the lines that start inside it (with LineLimit:
    // only those that end inside it); the rest of the text is left out.
    size_t kept_bytes = utf8.size();
    if (rect.Height > 0) {
        std::unique_ptr<PangoLayoutIter, LayoutIterFree> iter(pango_layout_get_iter(layout));
        do {
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter.get(), nullptr, &logical);
            const double top = static_cast<double>(logical.y) / PANGO_SCALE;
            const double bottom = static_cast<double>(logical.y + logical.height) / PANGO_SCALE;
            const bool keep =
                (flags & StringFormatFlagsLineLimit) ? bottom <= rect.Height : top < rect.Height;
            if (!keep) {
                kept_bytes = static_cast<size_t>(pango_layout_iter_get_index(iter.get()));
                break;
            }
        } while (pango_layout_iter_next_line(iter.get()));
        if (kept_bytes < utf8.size()) {
            utf8.resize(kept_bytes);
            pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
        }
    }

    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    out.width = static_cast<double>(logical.width) / PANGO_SCALE;
    out.height = utf8.empty() ? 0.0 : static_cast<double>(logical.height) / PANGO_SCALE;
    out.units = Utf16Units(utf8, utf8.size());
    out.lines = utf8.empty() ? 0 : pango_layout_get_line_count(layout);
    out.x = rect.X;
    out.y = rect.Y;
    if (!wraps) {
        // A wrapping layout is as wide as the rectangle and aligns inside it;
        // otherwise the block is placed in the rectangle's width, or around its
        // left edge when it has none.
        const double room = rect.Width > 0 ? rect.Width : 0.0;
        if (align == StringAlignmentCenter)
            out.x += (room - out.width) / 2;
        else if (align == StringAlignmentFar)
            out.x += room - out.width;
    }
    const double room = rect.Height > 0 ? rect.Height : 0.0;
    if (line_align == StringAlignmentCenter)
        out.y += (room - out.height) / 2;
    else if (line_align == StringAlignmentFar)
        out.y += room - out.height;
    return true;
}

// Pango draws underlines and strike-through lines when it shows a layout but
// leaves them out of its outlines; they are added here as rectangles at the
// positions the font's metrics give, one per line.
void AddLineDecorations(const PlacedText& placed, INT style, GpPath& path) {
    if (!(style & (FontStyleUnderline | FontStyleStrikeout))) return;
    PangoLayout* layout = placed.layout.get();
    PangoContext* context = pango_layout_get_context(layout);
    const PangoFontDescription* desc = pango_layout_get_font_description(layout);
    std::unique_ptr<PangoFontMetrics, void (*)(PangoFontMetrics*)> metrics(
        pango_context_get_metrics(context, desc, nullptr), pango_font_metrics_unref);
    if (!metrics) return;
    struct Line {
        int position, thickness;
    };
    std::vector<Line> lines;
    if (style & FontStyleUnderline)
        lines.push_back({pango_font_metrics_get_underline_position(metrics.get()),
                         pango_font_metrics_get_underline_thickness(metrics.get())});
    if (style & FontStyleStrikeout)
        lines.push_back({pango_font_metrics_get_strikethrough_position(metrics.get()),
                         pango_font_metrics_get_strikethrough_thickness(metrics.get())});
    std::unique_ptr<PangoLayoutIter, LayoutIterFree> iter(pango_layout_get_iter(layout));
    do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter.get(), nullptr, &logical);
        if (logical.width <= 0) continue;
        const double baseline = static_cast<double>(pango_layout_iter_get_baseline(iter.get()));
        const auto left = static_cast<float>(placed.x + static_cast<double>(logical.x) / PANGO_SCALE);
        const auto right = static_cast<float>(left + static_cast<double>(logical.width) / PANGO_SCALE);
        for (const Line& line : lines) {
            // Positions are above the baseline (an underline's is negative).
            const auto top = static_cast<float>(placed.y + (baseline - line.position) / PANGO_SCALE);
            const auto bottom = static_cast<float>(top + static_cast<double>(line.thickness) / PANGO_SCALE);
            path.points.insert(path.points.end(),
                               {{left, top}, {right, top}, {right, bottom}, {left, bottom}});
        }
    } while (pango_layout_iter_next_line(iter.get()));
}

double PixelsFor(const GpFont& font, double dpi) {
    switch (font.unit) {
        case UnitPoint:
            return font.size * dpi / 72.0;
        case UnitInch:
            return font.size * dpi;
        case UnitDocument:
            return font.size * dpi / 300.0;
        case UnitMillimeter:
            return font.size * dpi / 25.4;
        default:
            return font.size;  // world and pixel units are pixels here
    }
}

// A surface for layouts that are only measured or turned into paths. It is
// unbounded: Pango leaves out glyphs that fall outside a surface's extents.
struct Scratch {
    SurfacePtr surface{cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr)};
    ContextPtr cr{cairo_create(surface.get())};
};

bool FamilyExists(const std::string& name) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(map, &families, &count);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = strcasecmp(pango_font_family_get_name(families[i]), name.c_str()) == 0;
    g_free(families);
    return found;
}

// The family that fontconfig actually uses for `name`.
std::string ResolvedFamily(const std::string& name) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    std::unique_ptr<PangoContext, GObjectUnref> context(pango_font_map_create_context(map));
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> desc(pango_font_description_from_string(""));
    pango_font_description_set_family(desc.get(), name.c_str());
    pango_font_description_set_absolute_size(desc.get(), 12 * PANGO_SCALE);
    std::unique_ptr<PangoFont, GObjectUnref> font(pango_font_map_load_font(map, context.get(), desc.get()));
    if (!font) return name;
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> actual(pango_font_describe(font.get()));
    const char* family = pango_font_description_get_family(actual.get());
    return family ? family : name;
}

struct PatternDestroy {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetDestroy {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
struct CharSetDestroy {
    void operator()(FcCharSet* c) const { FcCharSetDestroy(c); }
};

// The family behind the generic sans-serif name: the best-sorted candidate
// whose character set holds a Latin letter, a kana, a Han and a Hangul
// character; "sans-serif" itself when fontconfig offers none.
std::string CoveringSansSerif() {
    std::unique_ptr<FcPattern, PatternDestroy> pattern(
        FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja")));
    std::unique_ptr<FcCharSet, CharSetDestroy> needed(FcCharSetCreate());
    if (!pattern || !needed) return kGenericSansSerif;
    for (FcChar32 c : {FcChar32{'A'}, FcChar32{0x3042}, FcChar32{0x4E2D}, FcChar32{0xD55C}})
        FcCharSetAddChar(needed.get(), c);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    std::unique_ptr<FcFontSet, FontSetDestroy> sorted(
        FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result));
    if (!sorted) return kGenericSansSerif;
    for (int i = 0; i < sorted->nfont; ++i) {
        FcCharSet* charset = nullptr;
        FcChar8* family = nullptr;
        if (FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch &&
            FcCharSetIsSubset(needed.get(), charset) &&
            FcPatternGetString(sorted->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch && family)
            return reinterpret_cast<const char*>(family);
    }
    return kGenericSansSerif;
}

GpFontFamily* GenericSansSerif() {
    // Made on first use and kept until the process ends, as callers expect.
    static GpFontFamily* family = new GpFontFamily(CoveringSansSerif(), true);
    return family;
}

bool ValidStyle(INT style) { return style >= 0 && style <= 15; }

}  // namespace
}  // namespace platform::imaging

using namespace platform::imaging;

Status GdipCreateSolidFill(ARGB color, GpSolidFill** brush) {
    if (!brush) return InvalidParameter;
    *brush = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    *brush = new (std::nothrow) SolidBrush(color);
    return *brush ? Ok : OutOfMemory;
}

Status GdipDeleteBrush(GpBrush* brush) {
    if (!brush) return InvalidParameter;
    delete brush;
    return Ok;
}

Status GdipGetGenericFontFamilySansSerif(GpFontFamily** family) {
    if (!family) return InvalidParameter;
    *family = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    *family = GenericSansSerif();
    return Ok;
}

Status GdipCreateFontFamilyFromName(const WCHAR* name, GpFontCollection* collection, GpFontFamily** family) {
    if (!name || !family) return InvalidParameter;
    *family = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    if (collection) return NotImplemented;
    const std::string utf8 = Utf16ToUtf8(name, -1);
    if (utf8.empty() || !FamilyExists(utf8)) return FontFamilyNotFound;
    *family = new (std::nothrow) GpFontFamily(utf8, false);
    return *family ? Ok : OutOfMemory;
}

Status GdipDeleteFontFamily(GpFontFamily* family) {
    if (!family) return InvalidParameter;
    if (!family->generic) delete family;
    return Ok;
}

Status GdipGetFamilyName(const GpFontFamily* family, WCHAR name[32], LANGID) {
    if (!family || !name) return InvalidParameter;
    const std::string resolved = ResolvedFamily(family->name);
    // Installed family names are ASCII in practice; the name is cut at the
    // first other character rather than decoded.
    size_t n = 0;
    for (; n < resolved.size() && n < 31 && static_cast<unsigned char>(resolved[n]) < 0x80; ++n)
        name[n] = static_cast<WCHAR>(resolved[n]);
    name[n] = 0;
    return Ok;
}

Status GdipCreateFont(const GpFontFamily* family, REAL size, INT style, Unit unit, GpFont** font) {
    if (!family || !font) return InvalidParameter;
    *font = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    if (!(size > 0) || !ValidStyle(style) || unit == UnitDisplay || unit < UnitWorld || unit > UnitMillimeter)
        return InvalidParameter;
    auto* f = new (std::nothrow) GpFont();
    if (!f) return OutOfMemory;
    f->family = family->name;
    f->size = size;
    f->style = style;
    f->unit = unit;
    *font = f;
    return Ok;
}

Status GdipDeleteFont(GpFont* font) {
    if (!font) return InvalidParameter;
    delete font;
    return Ok;
}

Status GdipGetFontSize(GpFont* font, REAL* size) {
    if (!font || !size) return InvalidParameter;
    *size = font->size;
    return Ok;
}

Status GdipCreateStringFormat(INT flags, LANGID language, GpStringFormat** format) {
    if (!format) return InvalidParameter;
    *format = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    auto* f = new (std::nothrow) GpStringFormat();
    if (!f) return OutOfMemory;
    f->flags = flags;
    f->language = language;
    *format = f;
    return Ok;
}

Status GdipDeleteStringFormat(GpStringFormat* format) {
    if (!format) return InvalidParameter;
    delete format;
    return Ok;
}

Status GdipSetStringFormatAlign(GpStringFormat* format, StringAlignment align) {
    if (!format || align < StringAlignmentNear || align > StringAlignmentFar) return InvalidParameter;
    format->align = align;
    return Ok;
}

Status GdipSetStringFormatLineAlign(GpStringFormat* format, StringAlignment align) {
    if (!format || align < StringAlignmentNear || align > StringAlignmentFar) return InvalidParameter;
    format->line_align = align;
    return Ok;
}

Status GdipSetStringFormatFlags(GpStringFormat* format, INT flags) {
    if (!format) return InvalidParameter;
    format->flags = flags;
    return Ok;
}

Status GdipCreatePath(FillMode fill_mode, GpPath** path) {
    if (!path || (fill_mode != FillModeAlternate && fill_mode != FillModeWinding)) return InvalidParameter;
    *path = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    auto* p = new (std::nothrow) GpPath();
    if (!p) return OutOfMemory;
    p->fill_mode = fill_mode;
    *path = p;
    return Ok;
}

Status GdipDeletePath(GpPath* path) {
    if (!path) return InvalidParameter;
    delete path;
    return Ok;
}

Status GdipResetPath(GpPath* path) {
    if (!path) return InvalidParameter;
    path->points.clear();
    path->fill_mode = FillModeAlternate;
    return Ok;
}

Status GdipGetPointCount(GpPath* path, INT* count) {
    if (!path || !count) return InvalidParameter;
    *count = static_cast<INT>(path->points.size());
    return Ok;
}

Status GdipAddPathString(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family, INT style,
                         REAL em_size, const RectF* layout, const GpStringFormat* format) {
    if (!path || !text || !family || !layout || length < -1 || !ValidStyle(style) || !(em_size > 0))
        return InvalidParameter;
    Scratch scratch;
    PlacedText placed;
    if (!LayOut(scratch.cr.get(), text, length, family->name, style, em_size, *layout, format,
                TextRenderingHintAntiAlias, placed))
        return GenericError;
    cairo_t* cr = scratch.cr.get();
    cairo_new_path(cr);
    cairo_move_to(cr, placed.x, placed.y);
    pango_cairo_layout_path(cr, placed.layout.get());
    std::unique_ptr<cairo_path_t, PathDestroy> flat(cairo_copy_path_flat(cr));
    if (!flat || flat->status != CAIRO_STATUS_SUCCESS) return OutOfMemory;
    try {
        // A move is kept only when a line follows it, so the point that placed
        // the layout does not count as part of the outline.
        std::optional<GpPath::Point> start;
        for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
            const cairo_path_data_t& d = flat->data[i];
            if (d.header.type != CAIRO_PATH_MOVE_TO && d.header.type != CAIRO_PATH_LINE_TO) continue;
            const GpPath::Point p{static_cast<float>(flat->data[i + 1].point.x),
                                  static_cast<float>(flat->data[i + 1].point.y)};
            if (d.header.type == CAIRO_PATH_MOVE_TO) {
                start = p;
                continue;
            }
            if (start) path->points.push_back(*std::exchange(start, std::nullopt));
            path->points.push_back(p);
        }
        AddLineDecorations(placed, style, *path);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return Ok;
}

Status GdipAddPathStringI(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family, INT style,
                          INT em_size, const Rect* layout, const GpStringFormat* format) {
    if (!layout) return InvalidParameter;
    const RectF rect{static_cast<REAL>(layout->X), static_cast<REAL>(layout->Y),
                     static_cast<REAL>(layout->Width), static_cast<REAL>(layout->Height)};
    return GdipAddPathString(path, text, length, family, style, static_cast<REAL>(em_size), &rect, format);
}

Status GdipGetPathWorldBounds(GpPath* path, RectF* bounds, const GpMatrix* matrix, const GpPen* pen) {
    if (!path || !bounds) return InvalidParameter;
    if (matrix || pen) return NotImplemented;
    *bounds = RectF{0, 0, 0, 0};
    if (path->points.empty()) return Ok;
    float left = path->points[0].x, right = left, top = path->points[0].y, bottom = top;
    for (const GpPath::Point& p : path->points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    *bounds = RectF{left, top, right - left, bottom - top};
    return Ok;
}

Status GdipGetPathWorldBoundsI(GpPath* path, Rect* bounds, const GpMatrix* matrix, const GpPen* pen) {
    if (!bounds) return InvalidParameter;
    RectF f;
    const Status s = GdipGetPathWorldBounds(path, &f, matrix, pen);
    if (s != Ok) return s;
    const double left = std::floor(f.X), top = std::floor(f.Y);
    const double right = std::ceil(static_cast<double>(f.X) + f.Width);
    const double bottom = std::ceil(static_cast<double>(f.Y) + f.Height);
    *bounds = Rect{static_cast<INT>(left), static_cast<INT>(top), static_cast<INT>(right - left),
                   static_cast<INT>(bottom - top)};
    return Ok;
}

Status GdipDrawString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                      const RectF* layout, const GpStringFormat* format, const GpBrush* brush) {
    if (!graphics || !text || !font || !layout || !brush || length < -1) return InvalidParameter;
    const auto* solid = dynamic_cast<const SolidBrush*>(brush);
    if (!solid) return NotImplemented;
    PixelImage& target = *graphics->target;
    SurfacePtr surface(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(target.argb.data()), CAIRO_FORMAT_ARGB32,
        static_cast<int>(target.width), static_cast<int>(target.height), static_cast<int>(target.width * 4)));
    ContextPtr cr(cairo_create(surface.get()));
    PlacedText placed;
    if (!LayOut(cr.get(), text, length, font->family, font->style, PixelsFor(*font, target.dpi_y), *layout,
                format, graphics->text_hint, placed))
        return GenericError;
    Premultiply(target.argb);
    const bool clip =
        layout->Width > 0 && layout->Height > 0 && !(format && (format->flags & StringFormatFlagsNoClip));
    if (clip) {
        cairo_rectangle(cr.get(), layout->X, layout->Y, layout->Width, layout->Height);
        cairo_clip(cr.get());
    }
    const ARGB c = solid->color;
    cairo_set_source_rgba(cr.get(), ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0,
                          (c >> 24) / 255.0);
    cairo_move_to(cr.get(), placed.x, placed.y);
    pango_cairo_show_layout(cr.get(), placed.layout.get());
    const cairo_status_t status = cairo_status(cr.get());
    placed.layout.reset();
    cr.reset();
    cairo_surface_flush(surface.get());
    Unpremultiply(target.argb);
    return status == CAIRO_STATUS_SUCCESS ? Ok : GenericError;
}

Status GdipMeasureString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                         const RectF* layout, const GpStringFormat* format, RectF* bounds,
                         INT* codepoints_fitted, INT* lines_filled) {
    if (!graphics || !text || !font || !layout || !bounds || length < -1) return InvalidParameter;
    Scratch scratch;
    PlacedText placed;
    if (!LayOut(scratch.cr.get(), text, length, font->family, font->style,
                PixelsFor(*font, graphics->target->dpi_y), *layout, format, graphics->text_hint, placed))
        return GenericError;
    double x = placed.x;
    if (layout->Width > 0) {
        PangoRectangle logical;
        pango_layout_get_extents(placed.layout.get(), nullptr, &logical);
        x += static_cast<double>(logical.x) / PANGO_SCALE;
    }
    *bounds = RectF{static_cast<REAL>(x), static_cast<REAL>(placed.y), static_cast<REAL>(placed.width),
                    static_cast<REAL>(placed.height)};
    if (codepoints_fitted) *codepoints_fitted = placed.units;
    if (lines_filled) *lines_filled = placed.lines;
    return Ok;
}

// fontconfig keeps its configuration and font caches for the life of the
// process and frees them only in FcFini, which must not run while Pango still
// holds fonts; Pango's font-map thread and the font caches under it live as
// long. LeakSanitizer (in the sanitizer builds) reads this hook from every
// program that draws text; elsewhere nothing calls it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpangoft2-1.0.so\n";
}
