#include "tool/pictures/gdiplus_objects.h"

#include "tool/pictures/picture_services.h"

namespace quillet {

BitmapPtr DecodePictureData(MediaPicture* picture) {
    ULONG size = 0;
    BYTE* data = nullptr;
    const HRESULT hr = picture->GetData(&size, &data);
    std::unique_ptr<BYTE, decltype(&CoTaskMemFree)> bytes(data, &CoTaskMemFree);
    if (FAILED(hr) || size == 0 || !bytes) return {};

    UsePictureServices();
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf())) || !stream) return {};
    ULONG written = 0;
    stream->Write(bytes.get(), size, &written);
    bytes.reset();
    if (written == 0) return {};

    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromStream(stream.Get(), &bitmap) != Gdiplus::Ok) {
        if (bitmap) GdipDisposeImage(bitmap);
        return {};
    }
    return BitmapPtr(bitmap);
}

bool ApplyGraphicsSettings(GpGraphics* graphics) {
    bool all = true;
    all &= GdipSetCompositingQuality(graphics, Gdiplus::CompositingQualityAssumeLinear) == Gdiplus::Ok;
    all &= GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic) == Gdiplus::Ok;
    all &= GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias) == Gdiplus::Ok;
    all &= GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHighQuality) == Gdiplus::Ok;
    all &= GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintAntiAlias) == Gdiplus::Ok;
    return all;
}

Canvas MakeCanvas(INT width, INT height) {
    UsePictureServices();
    Canvas canvas;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, Gdiplus::PixelFormat32bppARGB, nullptr, &bitmap) !=
        Gdiplus::Ok) {
        if (bitmap) GdipDisposeImage(bitmap);
        return {};
    }
    canvas.bitmap.reset(bitmap);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(bitmap, &graphics) != Gdiplus::Ok || !graphics) {
        if (graphics) GdipDeleteGraphics(graphics);
        return {};
    }
    canvas.graphics.reset(graphics);
    canvas.settings_applied = ApplyGraphicsSettings(graphics);
    return canvas;
}

}  // namespace quillet
