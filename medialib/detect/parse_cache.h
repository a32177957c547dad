// One parse per file for a content object and the item that loads the same
// file.
//
// A caller opens a file as a content object (which parses it to learn the
// container and to refuse what it cannot read) and then, right away, loads the
// content's item, which needs the same parse. The content keeps its parse
// here, and the item's load takes it over when the file is still the one that
// was parsed: same path, device, inode, size, modification and change time.
// A file that changed in any of them, or whose parse was dropped, is parsed
// again, so the item always sees the file as it is when it loads.
//
// The change time is what makes equal stamps mean equal content: every write
// moves it and nobody can set it back. It moves in clock ticks, though, so a
// file changed in the very tick in which it was opened could be changed again
// without a new stamp; such a parse is not kept.
//
// A parse is taken over (not copied): a second load of the same file parses
// again. Few parses are kept (the files opened last), and each cache has its
// own lock, so content objects and items on any thread may use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

#include "medialib/core/container.h"

namespace medialib {

class ParseCache {
  public:
    explicit ParseCache(size_t capacity) : capacity_(capacity) {}

    // Opens and parses `path` (as OpenMediaFile) and keeps the parse for the
    // next TakeOrParse of the unchanged file. Returns the container number;
    // nothing when the file does not open.
    std::optional<int32_t> ParseAndKeep(const std::filesystem::path& path);

    // The kept parse of `path` when the file is unchanged since, else a fresh
    // parse; null as OpenMediaFile.
    std::unique_ptr<OpenedFile> TakeOrParse(const std::filesystem::path& path);

    // Drops what is kept for `path` (after the engine has written the file).
    void Forget(const std::filesystem::path& path);

    // Parses made through this cache so far (for tests and benchmarks).
    uint64_t Parses() const;

  private:
    struct Entry {
        std::filesystem::path path;
        FileStamp stamp;
        std::unique_ptr<OpenedFile> file;
    };
    std::unique_ptr<OpenedFile> Parse(const std::filesystem::path& path, FileStamp* stamp, bool* keepable);

    const size_t capacity_;
    mutable std::mutex mutex_;
    std::list<Entry> entries_;  // newest first
    uint64_t parses_ = 0;
};

// The engine's cache (content objects and items of the module).
ParseCache& EngineParseCache();

}  // namespace medialib
