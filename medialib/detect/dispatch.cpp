#include "medialib/detect/dispatch.h"

#include <algorithm>
#include <cstring>
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

// The source with its first bytes kept in memory: every container's parser
// starts by reading its headers again from the start of the file, and the
// detection has those bytes already.
class HeadKeptSource final : public ByteSource {
  public:
    HeadKeptSource(const ByteSource& src, const std::vector<uint8_t>& head) : src_(src), head_(head) {}
    uint64_t Size() const override { return src_.Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) const override {
        // An empty read (an element of length 0 reads into an empty vector's
        // null buffer) copies nothing; memcpy must not see the null pointer.
        if (n == 0) return 0;
        if (offset >= head_.size()) return src_.ReadAt(offset, buffer, n);
        const size_t kept = std::min<size_t>(n, head_.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, head_.data() + offset, kept);
        if (kept == n || offset + kept >= src_.Size()) return kept;
        return kept + src_.ReadAt(offset + kept, static_cast<uint8_t*>(buffer) + kept, n - kept);
    }

  private:
    const ByteSource& src_;
    const std::vector<uint8_t>& head_;
};

}  // namespace

std::unique_ptr<OpenedFile> OpenMediaSource(const ByteSource& src, const std::filesystem::path& path) {
    try {
        std::vector<uint8_t> head(kSniffBytes);
        head.resize(src.ReadAt(0, head.data(), head.size()));
        const HeadKeptSource kept(src, head);
        for (const Handler& h : kHandlers) {
            if (!h.looks_like(head)) continue;
            if (auto file = h.open(kept, path)) return file;
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
