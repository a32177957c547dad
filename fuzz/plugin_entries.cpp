// Entries over the plug-in's readers.
#include <algorithm>
#include <cstring>

#include "fuzz/entries.h"
#include "plugin/tags/profile_store.h"

namespace cqfuzz {

int SideTagTrailer(const uint8_t* data, size_t size) {
    // The first byte picks the first window (the lookup sizes it from the key
    // path it looks for); the rest is the side-tag file.
    if (size < 1) return 0;
    const uint64_t first_window = 2 + 2 * static_cast<uint64_t>(data[0]) * 4;
    const uint8_t* file = data + 1;
    const size_t file_size = size - 1;
    const auto stored = corvina::StoredKeyPathOfFile(
        file_size, first_window, [&](uint64_t offset, uint8_t* buffer, size_t n) -> size_t {
            if (offset >= file_size) return 0;
            const size_t got = std::min<size_t>(n, file_size - static_cast<size_t>(offset));
            std::memcpy(buffer, file + offset, got);
            return got;
        });
    if (!stored) return 0;
    // A stored path is compared and bucketed as a key path.
    (void)corvina::ProfileBucketOf(reinterpret_cast<LPCWSTR>(stored->c_str()));
    return 1;
}

}  // namespace cqfuzz
