// The picture services bound on first use, as a Windows program delay-loads
// gdiplus.dll: every function of the flat API (platform/imaging/gdiplus.h)
// is defined here with its declared type and forwards to the function of the
// same name in the module gdiplus.so beside the program, loaded the first
// time any of them is called. The module carries Cairo, Pango, fontconfig and
// the picture codecs; a run that never touches a picture never loads them.
//
// Without the module every call fails cleanly, with the status the services
// give when they are not running: GdiplusStartup returns Win32Error with
// GetLastError() = ERROR_MOD_NOT_FOUND (platform::LastModuleLoadError() has
// the loader's text in the calling thread), GdiplusShutdown does nothing, and
// every other call returns GdiplusNotInitialized and touches nothing. A
// module that lacks one of the functions fails that function alone, with
// Win32Error and ERROR_PROC_NOT_FOUND. The load is tried once per process.
#include "platform/imaging/gdiplus.h"
#include "platform/kernel/modules.h"

namespace {

platform::DelayLoadedModule& PictureServicesModule() {
    // The anchor is code of this library, linked into the program, so the
    // module is looked for beside the program.
    static platform::DelayLoadedModule module(reinterpret_cast<const void*>(&PictureServicesModule),
                                              u"gdiplus.so");
    return module;
}

// The module's function `name`, of the type that `declared` (this file's own
// definition) has; null when the module or the function is missing.
template <class Fn>
Fn* Bind(Fn* declared, const char* name) {
    (void)declared;
    return PictureServicesModule().Resolve<Fn>(name);
}

Gdiplus::Status Unavailable() {
    if (!PictureServicesModule().Handle()) return Gdiplus::GdiplusNotInitialized;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return Gdiplus::Win32Error;
}

}  // namespace

// Resolved once per function; a failed load stays failed, so a null result is final too.
#define CQ_BIND(name) static const auto target = Bind(&name, #name)

Gdiplus::Status GdiplusStartup(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                               Gdiplus::GdiplusStartupOutput* output) {
    CQ_BIND(GdiplusStartup);
    if (target) return target(token, input, output);
    SetLastError(PictureServicesModule().Handle() ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
    return Gdiplus::Win32Error;
}

void GdiplusShutdown(ULONG_PTR token) {
    // Never loads the module: a program that did not start the services has nothing to end.
    if (!PictureServicesModule().Attempted()) return;
    CQ_BIND(GdiplusShutdown);
    if (target) target(token);
}

Gdiplus::Status GdipGetImageEncodersSize(UINT* count, UINT* size) {
    CQ_BIND(GdipGetImageEncodersSize);
    return target ? target(count, size) : Unavailable();
}

Gdiplus::Status GdipGetImageEncoders(UINT count, UINT size, Gdiplus::ImageCodecInfo* encoders) {
    CQ_BIND(GdipGetImageEncoders);
    return target ? target(count, size, encoders) : Unavailable();
}

Gdiplus::Status GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap) {
    CQ_BIND(GdipCreateBitmapFromFile);
    return target ? target(filename, bitmap) : Unavailable();
}

Gdiplus::Status GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap) {
    CQ_BIND(GdipCreateBitmapFromStream);
    return target ? target(stream, bitmap) : Unavailable();
}

Gdiplus::Status GdipCreateBitmapFromScan0(INT width, INT height, INT stride, Gdiplus::PixelFormat format,
                                          BYTE* scan0, GpBitmap** bitmap) {
    CQ_BIND(GdipCreateBitmapFromScan0);
    return target ? target(width, height, stride, format, scan0, bitmap) : Unavailable();
}

Gdiplus::Status GdipDisposeImage(GpImage* image) {
    CQ_BIND(GdipDisposeImage);
    return target ? target(image) : Unavailable();
}

Gdiplus::Status GdipGetImageRawFormat(GpImage* image, GUID* format) {
    CQ_BIND(GdipGetImageRawFormat);
    return target ? target(image, format) : Unavailable();
}

Gdiplus::Status GdipGetImageWidth(GpImage* image, UINT* width) {
    CQ_BIND(GdipGetImageWidth);
    return target ? target(image, width) : Unavailable();
}

Gdiplus::Status GdipGetImageHeight(GpImage* image, UINT* height) {
    CQ_BIND(GdipGetImageHeight);
    return target ? target(image, height) : Unavailable();
}

Gdiplus::Status GdipGetImagePixelFormat(GpImage* image, Gdiplus::PixelFormat* format) {
    CQ_BIND(GdipGetImagePixelFormat);
    return target ? target(image, format) : Unavailable();
}

Gdiplus::Status GdipGetImageHorizontalResolution(GpImage* image, Gdiplus::REAL* dpi) {
    CQ_BIND(GdipGetImageHorizontalResolution);
    return target ? target(image, dpi) : Unavailable();
}

Gdiplus::Status GdipGetImageVerticalResolution(GpImage* image, Gdiplus::REAL* dpi) {
    CQ_BIND(GdipGetImageVerticalResolution);
    return target ? target(image, dpi) : Unavailable();
}

Gdiplus::Status GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, Gdiplus::ARGB* color) {
    CQ_BIND(GdipBitmapGetPixel);
    return target ? target(bitmap, x, y, color) : Unavailable();
}

Gdiplus::Status GdipBitmapSetPixel(GpBitmap* bitmap, INT x, INT y, Gdiplus::ARGB color) {
    CQ_BIND(GdipBitmapSetPixel);
    return target ? target(bitmap, x, y, color) : Unavailable();
}

Gdiplus::Status GdipSaveImageToStream(GpImage* image, IStream* stream, const CLSID* clsid,
                                      const Gdiplus::EncoderParameters* params) {
    CQ_BIND(GdipSaveImageToStream);
    return target ? target(image, stream, clsid, params) : Unavailable();
}

Gdiplus::Status GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics) {
    CQ_BIND(GdipGetImageGraphicsContext);
    return target ? target(image, graphics) : Unavailable();
}

Gdiplus::Status GdipDeleteGraphics(GpGraphics* graphics) {
    CQ_BIND(GdipDeleteGraphics);
    return target ? target(graphics) : Unavailable();
}

Gdiplus::Status GdipSetCompositingQuality(GpGraphics* graphics, Gdiplus::CompositingQuality quality) {
    CQ_BIND(GdipSetCompositingQuality);
    return target ? target(graphics, quality) : Unavailable();
}

Gdiplus::Status GdipSetInterpolationMode(GpGraphics* graphics, Gdiplus::InterpolationMode mode) {
    CQ_BIND(GdipSetInterpolationMode);
    return target ? target(graphics, mode) : Unavailable();
}

Gdiplus::Status GdipSetSmoothingMode(GpGraphics* graphics, Gdiplus::SmoothingMode mode) {
    CQ_BIND(GdipSetSmoothingMode);
    return target ? target(graphics, mode) : Unavailable();
}

Gdiplus::Status GdipSetPixelOffsetMode(GpGraphics* graphics, Gdiplus::PixelOffsetMode mode) {
    CQ_BIND(GdipSetPixelOffsetMode);
    return target ? target(graphics, mode) : Unavailable();
}

Gdiplus::Status GdipSetTextRenderingHint(GpGraphics* graphics, Gdiplus::TextRenderingHint hint) {
    CQ_BIND(GdipSetTextRenderingHint);
    return target ? target(graphics, hint) : Unavailable();
}

Gdiplus::Status GdipGetInterpolationMode(GpGraphics* graphics, Gdiplus::InterpolationMode* mode) {
    CQ_BIND(GdipGetInterpolationMode);
    return target ? target(graphics, mode) : Unavailable();
}

Gdiplus::Status GdipGetDpiX(GpGraphics* graphics, Gdiplus::REAL* dpi) {
    CQ_BIND(GdipGetDpiX);
    return target ? target(graphics, dpi) : Unavailable();
}

Gdiplus::Status GdipGetDpiY(GpGraphics* graphics, Gdiplus::REAL* dpi) {
    CQ_BIND(GdipGetDpiY);
    return target ? target(graphics, dpi) : Unavailable();
}

Gdiplus::Status GdipGraphicsClear(GpGraphics* graphics, Gdiplus::ARGB color) {
    CQ_BIND(GdipGraphicsClear);
    return target ? target(graphics, color) : Unavailable();
}

Gdiplus::Status GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dst_x, INT dst_y,
                                       INT dst_width, INT dst_height, INT src_x, INT src_y, INT src_width,
                                       INT src_height, Gdiplus::Unit src_unit,
                                       const GpImageAttributes* attributes, Gdiplus::DrawImageAbort abort,
                                       void* abort_data) {
    CQ_BIND(GdipDrawImageRectRectI);
    return target ? target(graphics, image, dst_x, dst_y, dst_width, dst_height, src_x, src_y, src_width,
                           src_height, src_unit, attributes, abort, abort_data)
                  : Unavailable();
}

Gdiplus::Status GdipCreateSolidFill(Gdiplus::ARGB color, GpSolidFill** brush) {
    CQ_BIND(GdipCreateSolidFill);
    return target ? target(color, brush) : Unavailable();
}

Gdiplus::Status GdipDeleteBrush(GpBrush* brush) {
    CQ_BIND(GdipDeleteBrush);
    return target ? target(brush) : Unavailable();
}

Gdiplus::Status GdipGetGenericFontFamilySansSerif(GpFontFamily** family) {
    CQ_BIND(GdipGetGenericFontFamilySansSerif);
    return target ? target(family) : Unavailable();
}

Gdiplus::Status GdipCreateFontFamilyFromName(const WCHAR* name, GpFontCollection* collection,
                                             GpFontFamily** family) {
    CQ_BIND(GdipCreateFontFamilyFromName);
    return target ? target(name, collection, family) : Unavailable();
}

Gdiplus::Status GdipDeleteFontFamily(GpFontFamily* family) {
    CQ_BIND(GdipDeleteFontFamily);
    return target ? target(family) : Unavailable();
}

Gdiplus::Status GdipGetFamilyName(const GpFontFamily* family, WCHAR name[32], LANGID language) {
    CQ_BIND(GdipGetFamilyName);
    return target ? target(family, name, language) : Unavailable();
}

Gdiplus::Status GdipCreateFont(const GpFontFamily* family, Gdiplus::REAL size, INT style, Gdiplus::Unit unit,
                               GpFont** font) {
    CQ_BIND(GdipCreateFont);
    return target ? target(family, size, style, unit, font) : Unavailable();
}

Gdiplus::Status GdipDeleteFont(GpFont* font) {
    CQ_BIND(GdipDeleteFont);
    return target ? target(font) : Unavailable();
}

Gdiplus::Status GdipGetFontSize(GpFont* font, Gdiplus::REAL* size) {
    CQ_BIND(GdipGetFontSize);
    return target ? target(font, size) : Unavailable();
}

Gdiplus::Status GdipCreateStringFormat(INT flags, LANGID language, GpStringFormat** format) {
    CQ_BIND(GdipCreateStringFormat);
    return target ? target(flags, language, format) : Unavailable();
}

Gdiplus::Status GdipDeleteStringFormat(GpStringFormat* format) {
    CQ_BIND(GdipDeleteStringFormat);
    return target ? target(format) : Unavailable();
}

Gdiplus::Status GdipSetStringFormatAlign(GpStringFormat* format, Gdiplus::StringAlignment align) {
    CQ_BIND(GdipSetStringFormatAlign);
    return target ? target(format, align) : Unavailable();
}

Gdiplus::Status GdipSetStringFormatLineAlign(GpStringFormat* format, Gdiplus::StringAlignment align) {
    CQ_BIND(GdipSetStringFormatLineAlign);
    return target ? target(format, align) : Unavailable();
}

Gdiplus::Status GdipSetStringFormatFlags(GpStringFormat* format, INT flags) {
    CQ_BIND(GdipSetStringFormatFlags);
    return target ? target(format, flags) : Unavailable();
}

Gdiplus::Status GdipCreatePath(Gdiplus::FillMode fill_mode, GpPath** path) {
    CQ_BIND(GdipCreatePath);
    return target ? target(fill_mode, path) : Unavailable();
}

Gdiplus::Status GdipDeletePath(GpPath* path) {
    CQ_BIND(GdipDeletePath);
    return target ? target(path) : Unavailable();
}

Gdiplus::Status GdipResetPath(GpPath* path) {
    CQ_BIND(GdipResetPath);
    return target ? target(path) : Unavailable();
}

Gdiplus::Status GdipGetPointCount(GpPath* path, INT* count) {
    CQ_BIND(GdipGetPointCount);
    return target ? target(path, count) : Unavailable();
}

Gdiplus::Status GdipAddPathString(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family,
                                  INT style, Gdiplus::REAL em_size, const Gdiplus::RectF* layout,
                                  const GpStringFormat* format) {
    CQ_BIND(GdipAddPathString);
    return target ? target(path, text, length, family, style, em_size, layout, format) : Unavailable();
}

Gdiplus::Status GdipAddPathStringI(GpPath* path, const WCHAR* text, INT length, const GpFontFamily* family,
                                   INT style, INT em_size, const Gdiplus::Rect* layout,
                                   const GpStringFormat* format) {
    CQ_BIND(GdipAddPathStringI);
    return target ? target(path, text, length, family, style, em_size, layout, format) : Unavailable();
}

Gdiplus::Status GdipGetPathWorldBounds(GpPath* path, Gdiplus::RectF* bounds, const GpMatrix* matrix,
                                       const GpPen* pen) {
    CQ_BIND(GdipGetPathWorldBounds);
    return target ? target(path, bounds, matrix, pen) : Unavailable();
}

Gdiplus::Status GdipGetPathWorldBoundsI(GpPath* path, Gdiplus::Rect* bounds, const GpMatrix* matrix,
                                        const GpPen* pen) {
    CQ_BIND(GdipGetPathWorldBoundsI);
    return target ? target(path, bounds, matrix, pen) : Unavailable();
}

Gdiplus::Status GdipDrawString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                               const Gdiplus::RectF* layout, const GpStringFormat* format,
                               const GpBrush* brush) {
    CQ_BIND(GdipDrawString);
    return target ? target(graphics, text, length, font, layout, format, brush) : Unavailable();
}

Gdiplus::Status GdipMeasureString(GpGraphics* graphics, const WCHAR* text, INT length, const GpFont* font,
                                  const Gdiplus::RectF* layout, const GpStringFormat* format,
                                  Gdiplus::RectF* bounds, INT* codepoints_fitted, INT* lines_filled) {
    CQ_BIND(GdipMeasureString);
    return target
               ? target(graphics, text, length, font, layout, format, bounds, codepoints_fitted, lines_filled)
               : Unavailable();
}

// LeakSanitizer reads its suppressions from the program only, never from a
// module loaded later, so a program that binds gdiplus.so carries the same
// hook as one linking the picture services directly: fontconfig keeps its
// caches for the life of the process, Pango its font map (see
// platform/imaging/text.cpp). Elsewhere nothing calls it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpangoft2-1.0.so\n";
}
