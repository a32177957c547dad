// What lookups in the profile side-tag store have learnt of a bucket folder,
// kept for the life of the process: its listing, and what the trailer of
// each file said. A lookup in a bucket it has seen before then asks the
// kernel for the folder's status instead of listing it, and for each
// candidate's status (one call) instead of opening, reading and closing it
// (three).
//
// Everything is checked by stamps (device, inode, size, modification and
// change times). The listing stands while the folder's stamp is the one
// taken before it was read: adding, removing or renaming a name changes it.
// A trailer stands while the file's stamp is the one taken from the
// descriptor it was read through, before reading: a save that renames a new
// file into place has another inode and change time, a write in place moves
// the change time (kernels with fine-grained timestamps give one after a
// status query, which was made, even within one clock tick). The store's own
// saves keep the trailer of a name anyway: a file is only ever rewritten for
// the key path it holds.
//
// Bounded: past the byte budget whole folders are forgotten, least recently
// used first. Shared by the threads of the process; a folder is taken out for
// the length of one lookup and put back after, so lookups never wait on one
// another (two in one folder at once: the second reads as if cold).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvina {

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};

    static FileStamp Of(const struct stat& st);
    bool operator==(const FileStamp& other) const;
};

class TrailerCache {
  public:
    // What the trailer of one file said: the stored key path, or nothing
    // (not a side-tag file). `limit` is the largest window the reading
    // would grow to: an answer of nothing stands for a later lookup only
    // when that lookup would not look further.
    struct Known {
        FileStamp stamp;
        std::optional<std::u16string> stored;
        uint64_t limit = 0;
    };
    struct File {
        std::string name;
        bool regular = false;  // a regular file (others are listed, never read)
        std::optional<Known> known;
    };
    // One bucket folder: its stamp when it was listed and its files in
    // listing order (names sorted by bytes). Empty `files`: nothing known.
    struct Folder {
        FileStamp stamp;
        std::vector<File> files;
    };

    explicit TrailerCache(size_t budget_bytes) : budget_(budget_bytes) {}

    // The cache of the whole process.
    static TrailerCache& Shared();

    // Takes what is known of a folder out for one lookup.
    Folder Take(const std::string& folder);
    // Puts a folder back, replacing anything kept for it meanwhile, and
    // forgets other folders while over the budget.
    void Put(const std::string& folder, Folder known);

    // Whether `known` answers for a file that now has `stamp`, in a lookup
    // whose reading would grow its window up to `limit`.
    static bool Answers(const Known& known, const FileStamp& stamp, uint64_t limit);

    // Roughly the memory a folder takes, for the budget.
    static size_t CostOf(const std::string& path, const Folder& folder);

    // Forgets everything (as at the start of the process).
    void Clear();

    size_t bytes() const;
    size_t folders() const;

  private:
    struct Kept {
        Folder folder;
        size_t bytes = 0;
        std::list<std::string>::iterator recent;
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Kept> kept_;
    std::list<std::string> recent_;  // most recently put first
    size_t bytes_ = 0;
    const size_t budget_;
};

}  // namespace corvina
