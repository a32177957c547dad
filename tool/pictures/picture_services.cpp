#include "tool/pictures/picture_services.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/imaging/gdiplus.h"
#include "platform/kernel/modules.h"
#include "platform/text/text.h"

namespace quillet {

CLSID JpegEncoderClsid{};

namespace {

std::mutex g_mutex;
bool g_started = false;
bool g_running = false;
ULONG_PTR g_token = 0;

}  // namespace

uintptr_t StartPictureServices() {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;  // version 1, no callback, nothing suppressed
    GdiplusStartup(&token, &input, nullptr);

    UINT count = 0;
    UINT size = 0;
    GdipGetImageEncodersSize(&count, &size);
    if (size != 0) {
        // The entries' strings live in the same buffer, after the array.
        std::vector<std::max_align_t> buffer((size + sizeof(std::max_align_t) - 1) /
                                             sizeof(std::max_align_t));
        std::memset(buffer.data(), 0, buffer.size() * sizeof(std::max_align_t));
        auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
        if (GdipGetImageEncoders(count, size, encoders) == Gdiplus::Ok) {
            for (UINT i = 0; i < count; ++i) {
                if (encoders[i].MimeType && lstrcmpiW(encoders[i].MimeType, u"image/jpeg") == 0)
                    JpegEncoderClsid = encoders[i].Clsid;
            }
        }
    }
    return token;
}

void StopPictureServices(uintptr_t token) { GdiplusShutdown(token); }

bool UsePictureServices() {
    std::lock_guard lock(g_mutex);
    if (g_started) return g_running;
    g_started = true;
    // The start's own result is not checked (a failed start shows in every
    // later call); asking once more tells whether it ran.
    g_token = StartPictureServices();
    UINT count = 0;
    UINT size = 0;
    const Gdiplus::Status status = GdipGetImageEncodersSize(&count, &size);
    g_running = status != Gdiplus::GdiplusNotInitialized;
    if (!g_running) {
        const std::string why = platform::LastModuleLoadError();
        std::fprintf(stderr, "Quillet: the picture services are not available%s%s; pictures are left out\n",
                     why.empty() ? "" : ": ", why.c_str());
    }
    return g_running;
}

bool PictureServicesStarted() {
    std::lock_guard lock(g_mutex);
    return g_started;
}

void EndPictureServices() {
    std::lock_guard lock(g_mutex);
    if (g_started) StopPictureServices(g_token);
    g_started = false;
    g_running = false;
    g_token = 0;
    JpegEncoderClsid = CLSID{};
}

}  // namespace quillet
