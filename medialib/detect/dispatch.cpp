#include "medialib/detect/dispatch.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "medialib/mp4/mp4_file.h"
#include "medialib/mpeg/mp3_file.h"
#include "medialib/openmg/openmg_file.h"
#include "medialib/riff/wav_file.h"

namespace medialib {
namespace {

struct Handler {
    bool (*looks_like)(std::span<const uint8_t> head);
    std::unique_ptr<OpenedFile> (*open)(const ByteSource& src, const std::filesystem::path& path);
};

constexpr Handler kHandlers[] = {
    {LooksLikeOpenMg, OpenOpenMg},
    {LooksLikeWav, OpenWav},
    {LooksLikeIsoBmff, OpenMp4},
    {LooksLikeMp3, OpenMp3},
};

}  // namespace

std::unique_ptr<OpenedFile> OpenMediaSource(const ByteSource& src, const std::filesystem::path& path) {
    try {
        std::vector<uint8_t> head(kSniffBytes);
        head.resize(src.ReadAt(0, head.data(), head.size()));
        for (const Handler& h : kHandlers) {
            if (!h.looks_like(head)) continue;
            if (auto file = h.open(src, path)) return file;
        }
    } catch (const std::bad_alloc&) {
        // Absurd sizes in the content: the file cannot be read, and the
        // caller sees an unrecognised file.
    } catch (const std::length_error&) {
        // The same, where a size exceeds what a container can hold.
    }
    // Anything else is a fault of this code, not of the file: it propagates
    // (the COM methods turn it into E_FAIL) instead of passing as "unknown
    // format".
    return nullptr;
}

std::unique_ptr<OpenedFile> OpenMediaFile(const std::filesystem::path& path) {
    std::unique_ptr<ByteSource> src = OpenFileSource(path);
    if (!src) return nullptr;
    return OpenMediaSource(*src, path);
}

}  // namespace medialib
