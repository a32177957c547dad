// JPEG through libjpeg-turbo. libjpeg reports fatal errors by calling a
// function that must not return, so each codec call runs in a small function
// that sets a jump point; everything that must outlive a jump (the pixels,
// the encoder's output) is owned outside it.
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
// clang-format off
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
// clang-format on

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {
namespace {

// Progressive files may carry any number of scans; decoding them all is a
// cheap way to burn time, so a file with more than this many is refused.
constexpr int kMaxScans = 1000;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    DecodeError error = DecodeError::Damaged;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Warnings are silent, except those that mean the picture cannot be shown
// as it was made: the data ends early (at the end of the bytes, or at a
// marker such as EOI while the scan still needs data), or the entropy-coded
// data is broken. Others (stray bytes before a marker, odd JFIF versions) are
// common in pictures from cameras and are tolerated. Stopping at a scan that
// ends early also spares decoding a huge declared size from a few bytes.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level != -1) return;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE) OnError(cinfo);
}

void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) OnError(cinfo);
}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    err.pub.output_message = OnOutputMessage;
}

GUID RawFormatFromMarkers(const jpeg_decompress_struct& cinfo) {
    // A JFIF APP0 makes a plain JPEG, an "Exif" APP1 an EXIF JPEG; the first of
    // the two in the file decides.
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 && m->data_length >= 5 && std::memcmp(m->data, "JFIF\0", 5) == 0)
            return ImageFormatJPEG;
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return ImageFormatEXIF;
    }
    return ImageFormatJPEG;
}

bool RunDecode(std::span<const uint8_t> bytes, PixelImage& image, jpeg_decompress_struct& cinfo,
               ErrorManager& err, jpeg_progress_mgr& progress) {
    if (setjmp(err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    // Multi-scan files keep all coefficients in memory; beyond this libjpeg
    // fails (there is no backing store) instead of taking what it asks for.
    cinfo.mem->max_memory_to_use = static_cast<long>(kMaxPixels * 4);
    progress.progress_monitor = OnProgress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0, 16);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 16);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;

    image.raw_format = RawFormatFromMarkers(cinfo);
    image.pixel_format = Gdiplus::PixelFormat24bppRGB;
    if (cinfo.saw_JFIF_marker && cinfo.X_density > 0 && cinfo.Y_density > 0) {
        const float scale = cinfo.density_unit == 1 ? 1.0f : cinfo.density_unit == 2 ? 2.54f : 0.0f;
        if (scale > 0) {
            image.dpi_x = cinfo.X_density * scale;
            image.dpi_y = cinfo.Y_density * scale;
        }
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    err.error = AllocatePixels(image, cinfo.image_width, cinfo.image_height);
    if (err.error != DecodeError::None) return false;
    err.error = DecodeError::Damaged;

    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != image.width || cinfo.output_height != image.height) return false;
    JSAMPARRAY cmyk_row = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                            JPOOL_IMAGE, image.width * 4, 1)
                               : nullptr;
    while (cinfo.output_scanline < cinfo.output_height) {
        uint32_t* out = image.Row(cinfo.output_scanline);
        if (!cmyk) {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(out);
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
            continue;
        }
        if (jpeg_read_scanlines(&cinfo, cmyk_row, 1) != 1) return false;
        // Adobe writes CMYK inverted (0 = full ink), which is what libjpeg hands back.
        const JSAMPLE* p = cmyk_row[0];
        for (uint32_t x = 0; x < image.width; ++x, p += 4) {
            const uint32_t k = p[3];
            const uint32_t r = p[0] * k / 255, g = p[1] * k / 255, b = p[2] * k / 255;
            out[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

// JFIF keeps the density in 16 bits. A resolution beyond that (a bitmap may
// claim two billion pixels per metre, a JPEG in dots per centimetre up to
// 166459 dpi) is written as the largest density there is, not cut to its low
// bits by an out-of-range conversion.
UINT16 JfifDensity(float dpi) {
    const float rounded = dpi + 0.5f;
    if (!(rounded >= 0.0f)) return 0;
    if (rounded >= 65535.0f) return 65535;
    return static_cast<UINT16>(rounded);
}

struct EncodeOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

bool RunEncode(const PixelImage& image, int quality, jpeg_compress_struct& cinfo, ErrorManager& err,
               EncodeOutput& output) {
    if (setjmp(err.jump)) return false;
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &output.buffer, &output.size);
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;  // the alpha byte is skipped
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = JfifDensity(image.dpi_x);
    cinfo.Y_density = JfifDensity(image.dpi_y);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's row type is not const, but the compressor only reads rows.
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(image.Row(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

}  // namespace

DecodeError DecodeJpeg(std::span<const uint8_t> bytes, PixelImage& image) {
    jpeg_decompress_struct cinfo{};
    jpeg_progress_mgr progress{};
    ErrorManager err;
    cinfo.err = &err.pub;
    InstallErrorManager(err);
    const bool ok = RunDecode(bytes, image, cinfo, err, progress);
    jpeg_destroy_decompress(&cinfo);
    if (ok) return DecodeError::None;
    image = PixelImage{};
    return err.error == DecodeError::None ? DecodeError::Damaged : err.error;
}

bool EncodeJpeg(const PixelImage& image, int quality, std::vector<uint8_t>& out) {
    if (image.width == 0 || image.height == 0 || image.argb.size() != size_t{image.width} * image.height)
        return false;
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) return false;
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    EncodeOutput output;
    cinfo.err = &err.pub;
    InstallErrorManager(err);
    bool ok = RunEncode(image, quality < 0 ? 0 : quality > 100 ? 100 : quality, cinfo, err, output);
    jpeg_destroy_compress(&cinfo);
    ok = ok && output.buffer != nullptr;
    if (ok) {
        try {
            out.insert(out.end(), output.buffer, output.buffer + output.size);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::free(output.buffer);
    return ok;
}

}  // namespace platform::imaging
