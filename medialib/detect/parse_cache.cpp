#include "medialib/detect/parse_cache.h"

#include <time.h>

#include "medialib/detect/dispatch.h"

namespace medialib {
namespace {

// The coarse clock, which file times are taken from.
int64_t CoarseNowNs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The files of the last few content objects: a content object's item is
// loaded right after the content opens, and a player asks for a handful of
// objects of one file at a time, never for many files at once.
constexpr size_t kEngineCapacity = 4;

}  // namespace

std::unique_ptr<OpenedFile> ParseCache::Parse(const std::filesystem::path& path, FileStamp* stamp,
                                              bool* keepable) {
    // Read before the stamp: a write after it lands in this tick or a later one.
    const int64_t opened_ns = CoarseNowNs();
    std::unique_ptr<ByteSource> src = OpenFileSource(path, stamp);
    if (!src) return nullptr;
    {
        std::lock_guard lock(mutex_);
        ++parses_;
    }
    *keepable = stamp->changed_ns < opened_ns;
    return OpenMediaSource(*src, path);
}

std::optional<int32_t> ParseCache::ParseAndKeep(const std::filesystem::path& path) {
    FileStamp stamp;
    bool keepable = false;
    std::unique_ptr<OpenedFile> file = Parse(path, &stamp, &keepable);
    if (!file) return std::nullopt;
    const int32_t container = file->Container();
    // Parses that leave the cache are destroyed after the lock is released.
    std::unique_ptr<OpenedFile> replaced, oldest;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->path == path) {
            replaced = std::move(it->file);
            entries_.erase(it);
            break;
        }
    }
    if (!keepable || capacity_ == 0) return container;
    entries_.push_front(Entry{path, stamp, std::move(file)});
    if (entries_.size() > capacity_) {
        oldest = std::move(entries_.back().file);
        entries_.pop_back();
    }
    return container;
}

std::unique_ptr<OpenedFile> ParseCache::TakeOrParse(const std::filesystem::path& path) {
    {
        std::unique_lock lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->path != path) continue;
            Entry entry = std::move(*it);
            entries_.erase(it);
            lock.unlock();
            FileStamp now;
            if (StampOf(path, &now) && now == entry.stamp) return std::move(entry.file);
            break;  // changed: the old parse goes with `entry`
        }
    }
    FileStamp stamp;
    bool keepable = false;
    return Parse(path, &stamp, &keepable);
}

void ParseCache::Forget(const std::filesystem::path& path) {
    std::unique_ptr<OpenedFile> dropped;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->path == path) {
            dropped = std::move(it->file);
            entries_.erase(it);
            return;
        }
    }
}

uint64_t ParseCache::Parses() const {
    std::lock_guard lock(mutex_);
    return parses_;
}

ParseCache& EngineParseCache() {
    static ParseCache cache(kEngineCapacity);
    return cache;
}

}  // namespace medialib
