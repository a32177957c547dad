#include "plugin/tags/trailer_cache.h"

#include <utility>

namespace corvina {
namespace {

// About 70 000 side-tag files of ordinary path lengths: a very large store
// stays whole, and the memory stays small beside a player's own.
constexpr size_t kSharedBudget = 16u << 20;

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

FileStamp FileStamp::Of(const struct stat& st) {
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return stamp;
}

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

TrailerCache& TrailerCache::Shared() {
    static TrailerCache cache(kSharedBudget);
    return cache;
}

TrailerCache::Folder TrailerCache::Take(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = kept_.find(folder);
    if (found == kept_.end()) return {};
    Folder known = std::move(found->second.folder);
    bytes_ -= found->second.bytes;
    recent_.erase(found->second.recent);
    kept_.erase(found);
    return known;
}

void TrailerCache::Put(const std::string& folder, Folder known) {
    const size_t cost = CostOf(folder, known);
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = kept_.find(folder);
    if (found != kept_.end()) {
        bytes_ -= found->second.bytes;
        recent_.erase(found->second.recent);
        kept_.erase(found);
    }
    if (known.files.empty() || cost > budget_) return;
    while (bytes_ + cost > budget_ && !recent_.empty()) {
        auto oldest = kept_.find(recent_.back());
        bytes_ -= oldest->second.bytes;
        kept_.erase(oldest);
        recent_.pop_back();
    }
    recent_.push_front(folder);
    kept_.emplace(folder, Kept{std::move(known), cost, recent_.begin()});
    bytes_ += cost;
}

bool TrailerCache::Answers(const Known& known, const FileStamp& stamp, uint64_t limit) {
    if (!(known.stamp == stamp)) return false;
    // A path was found whatever the window; "no path" only up to the window tried.
    return known.stored || known.limit >= limit;
}

size_t TrailerCache::CostOf(const std::string& path, const Folder& folder) {
    // The strings where they do not fit in place.
    auto heap = [](size_t units, size_t in_place, size_t unit_size) {
        return units > in_place ? (units + 1) * unit_size : 0;
    };
    size_t cost = sizeof(Kept) + 2 * path.size() + folder.files.capacity() * sizeof(File);
    for (const File& file : folder.files) {
        cost += heap(file.name.size(), 15, 1);
        if (file.known && file.known->stored) cost += heap(file.known->stored->size(), 7, 2);
    }
    return cost;
}
void TrailerCache::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.clear();
    recent_.clear();
    bytes_ = 0;
}

size_t TrailerCache::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

size_t TrailerCache::folders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_.size();
}

}  // namespace corvina
