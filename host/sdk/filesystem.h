// Files and folders as the host names them.
//
// A host path is UTF-8 and is either a plain path or "file://" followed by
// one (the prefix compared without regard to case). The host's file-system
// service turns either form into an operating-system path, treating both "/"
// and "\" as separators, so component code that joins paths with "\" works
// unchanged. `filesystem::g_*` find the file-system service that claims a path
// through the host and forward to it. Timestamps are Windows file times
// (100 ns units since 1601-01-01 UTC). Failures throw: exception_io_not_found
// for a missing object, exception_io_denied for refused access,
// exception_io_already_exists when creating an existing folder, exception_io
// for anything else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/sdk/abort_callback.h"
#include "host/sdk/exceptions.h"
#include "host/sdk/service.h"

// Size and last-write time of a file.
struct t_filestats {
    static constexpr uint64_t filesize_invalid = ~uint64_t{0};
    static constexpr uint64_t filetimestamp_invalid = 0;
    uint64_t m_size = filesize_invalid;
    uint64_t m_timestamp = filetimestamp_invalid;
    friend bool operator==(const t_filestats&, const t_filestats&) = default;
};

// An open file: a byte stream with a position.
class file : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{6C1E47A2-93D8-4F05-B2C7-1E8A5D4F0B36}");
    using t_interface_parent = service_base;

    enum t_seek_mode { seek_from_beginning = 0, seek_from_current = 1, seek_from_eof = 2 };

    // Reads up to `bytes` bytes; returns the count read (0 at the end).
    virtual size_t read(void* buffer, size_t bytes, abort_callback& abort) = 0;
    // Writes all `bytes` bytes at the position or throws.
    virtual void write(const void* buffer, size_t bytes, abort_callback& abort) = 0;
    virtual uint64_t get_size(abort_callback& abort) = 0;
    virtual uint64_t get_position(abort_callback& abort) = 0;
    // Moves the position; throws exception_io_data for a position before 0.
    virtual void seek_ex(int64_t offset, t_seek_mode mode, abort_callback& abort) = 0;
    // Cuts the file at the current position.
    virtual void truncate_here(abort_callback& abort) = 0;
    virtual t_filestats get_stats(abort_callback& abort) = 0;

    void seek(uint64_t position, abort_callback& abort) {
        seek_ex(static_cast<int64_t>(position), seek_from_beginning, abort);
    }
    // Reads exactly `bytes` bytes or throws exception_io_data.
    void read_object(void* buffer, size_t bytes, abort_callback& abort);
    // Reads from the position to the end.
    std::vector<uint8_t> read_till_eof(abort_callback& abort);
};
using file_ptr = service_ptr_t<file>;

class filesystem;

// Receives folder entries from list_directory.
class directory_callback {
  public:
    // One entry: its host path, whether it is a folder, and its stats. Return
    // false to stop the listing.
    virtual bool on_entry(filesystem* owner, abort_callback& abort, const char* path, bool is_subdirectory,
                          const t_filestats& stats) = 0;

  protected:
    ~directory_callback() = default;
};

// Collects the files of a folder (and of its subfolders when recursive).
class directory_callback_impl final : public directory_callback {
  public:
    struct entry {
        std::string path;
        t_filestats stats;
    };
    explicit directory_callback_impl(bool recursive) : m_recursive(recursive) {}
    bool on_entry(filesystem* owner, abort_callback& abort, const char* path, bool is_subdirectory,
                  const t_filestats& stats) override;
    const std::vector<entry>& get_files() const { return m_files; }
    size_t get_count() const { return m_files.size(); }

  private:
    bool m_recursive;
    std::vector<entry> m_files;
};

class filesystem : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{A3E5B9C1-2F47-4D86-8E0B-5C9A71D3F428}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = filesystem;

    enum t_open_mode {
        open_mode_read,            // existing file, read only
        open_mode_write_existing,  // existing file, read and write
        open_mode_write_new,       // created or emptied, read and write
    };

    // Whether this service handles `path`.
    virtual bool is_our_path(const char* path) = 0;
    virtual void open(file_ptr& out, const char* path, t_open_mode mode, abort_callback& abort) = 0;
    // Removes a file or an empty folder.
    virtual void remove(const char* path, abort_callback& abort) = 0;
    virtual void create_directory(const char* path, abort_callback& abort) = 0;
    // Stats of a file (a folder reports size filesize_invalid) and whether it
    // can be written.
    virtual void get_stats(const char* path, t_filestats& stats, bool& is_writeable,
                           abort_callback& abort) = 0;
    // Calls `callback` for each entry of the folder, sorted by name; entries
    // carry host paths in the same form (with or without "file://") as `path`.
    virtual void list_directory(const char* path, directory_callback& callback, abort_callback& abort) = 0;
    // Renames the file `from` to `to`, replacing a file `to` in one step:
    // anyone opening `to` finds either the old or the new content, never a
    // mix, which is what lets a writer build a file aside and swap it in.
    // The local service flushes the content to disk before renaming (a flush
    // that fails throws and keeps `to`). Both paths must belong to this service. A service that cannot rename
    // keeps this default, which throws exception_io.
    virtual void move(const char* from, const char* to, abort_callback& abort);

    // The service that claims `path`; throws exception_io_not_found when none.
    static service_ptr_t<filesystem> g_get_interface(const char* path);
    static void g_open(file_ptr& out, const char* path, t_open_mode mode, abort_callback& abort);
    static void g_open_read(file_ptr& out, const char* path, abort_callback& abort) {
        g_open(out, path, open_mode_read, abort);
    }
    static void g_open_write_new(file_ptr& out, const char* path, abort_callback& abort) {
        g_open(out, path, open_mode_write_new, abort);
    }
    static void g_get_stats(const char* path, t_filestats& stats, bool& is_writeable, abort_callback& abort);
    static void g_list_directory(const char* path, directory_callback& callback, abort_callback& abort);
    static void g_remove(const char* path, abort_callback& abort);
    static void g_create_directory(const char* path, abort_callback& abort);
    // Renames through the service that claims `from` (see move()).
    static void g_move(const char* from, const char* to, abort_callback& abort);
    // True when the file or folder exists; a missing object gives false, any
    // other failure propagates.
    static bool g_exists(const char* path, abort_callback& abort);
    // True when the folder exists and holds no entry; a missing folder gives false.
    static bool g_is_empty_directory(const char* path, abort_callback& abort);
};

// Host paths to and from operating-system paths, as the host's file system
// resolves them (exposed for components and tests that need the same rules).
namespace fb2k {
// Strips a leading "file://" (any case) and turns "\" into "/".
std::string host_path_to_native(const char* host_path);
// "file://" + the native path.
std::string native_path_to_host(const std::string& native_path);
// Windows file time of a POSIX time (seconds and nanoseconds since 1970).
uint64_t windows_file_time(int64_t seconds, int64_t nanoseconds);
}  // namespace fb2k
