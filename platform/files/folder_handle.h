// A folder held open by a descriptor, for code that scans many files of one
// folder: the listing gives each name with the kind its directory entry
// records (no status call per entry), and files are opened by name relative
// to the folder (no path walk per file).
//
// This is a POSIX-shaped helper beside the Windows-shaped calls of files.h:
// Windows has no relative open in its documented API, and its folder listing
// (FindFirstFileW) already carries attributes and sizes, so code written
// against Windows calls keeps using those.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class FolderHandle {
  public:
    // What a directory entry says about a name. Links are not followed by
    // the listing; Unknown comes from file systems that do not record kinds.
    enum class Kind { File, Folder, Link, Other, Unknown };
    struct Entry {
        std::string name;
        Kind kind;
    };

    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // Opens the folder at a native path; invalid (errno set) when it cannot.
    static FolderHandle Open(const std::string& native_path);
    // Opens the subfolder `name` (links followed); invalid with errno.
    FolderHandle OpenFolder(const std::string& name) const;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Every entry except "." and "..", in the order the file system returns
    // them. False with errno when the folder cannot be read. Call once per
    // handle (the listing consumes the descriptor's position).
    bool List(std::vector<Entry>& out) const;

    // The kind of `name` by one status call, for entries listed as Link or
    // Unknown: with `follow` the kind of what a link leads to, without it
    // Link for a link. False (errno set) for a missing name or, with
    // `follow`, a dangling link.
    bool KindOf(const std::string& name, bool follow, Kind& kind) const;

    // Opens `name` for reading without waiting (a FIFO does not block the
    // open, a terminal does not become the controlling one). -1 with errno on
    // failure. The caller closes the descriptor; what it opened is whatever
    // the name is now (fstat tells), which a scan that trusts the listing's
    // kind reads as that kind, failing cleanly otherwise (a folder or FIFO
    // refuses pread).
    int OpenForReading(const std::string& name) const;

  private:
    explicit FolderHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace platform
