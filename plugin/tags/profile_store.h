// The profile side-tag store: ID3v2 side tags of audio files kept below the
// host's profile folder, found again through the audio file's key path.
//
// Layout: <profile>\ID3v2\<bucket>\<name>.tag, where the bucket is two
// upper-case hex digits computed from the key path (so one lookup lists one
// folder of 256) and names are "%08X.tag" allocated from 00000000.tag
// upwards. Each file is the ID3v2 tag, then a path trailer: 00 00, the key
// path in UTF-16LE without terminator, 00 00. There is no index: a lookup
// lists the bucket, and for each candidate (a ".tag" file of at least 9
// bytes starting with "ID3") reads the trailer from the end of the file and
// compares the stored path with the key path (without regard to case; with
// `portable`, without the drive). With `keeps_clean`, the lookup goes on past
// the first match and removes further matches (duplicates) and, unless
// `portable`, the side-tag files whose stored audio file no longer exists.
//
// The bucket rule, names and layout are those of the Windows plug-in, so a
// store it wrote is read here. Unlike its 260-unit buffers, paths of any
// length are split and found: the trailer window grows with the key path and
// with stored paths longer than it.
//
// Buckets on the local file system are listed and read directly, relative to
// the bucket folder; what their trailers said is kept between calls, checked
// against each file's status (trailer_cache.h). Everything else goes through
// the host's file-system service with host paths. SaveSideTags (side_tags.h)
// serialises its allocations and writes with ProfileBucketLock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/sdk/abort_callback.h"
#include "platform/wintypes.h"
#include "plugin/tags/side_tag_settings.h"

namespace corvina {

// The bucket number (0-255) of a key path: the unsigned 32-bit sum of the
// UTF-16 units of its folder, name and extension (Windows splitting rules,
// drive left out), then (bits 8-15 + bits 0-7) mod 256. Nothing for a null
// or empty key path.
std::optional<unsigned> ProfileBucketOf(LPCWSTR key_path);

// The trailer that follows the tag in a profile side-tag file.
std::vector<uint8_t> ProfileTrailer(LPCWSTR key_path);

// Finds the profile side-tag file of `key_path` (null: none). Clears `out`
// first; on true `out` is its host path: an existing file, or with `create`
// a name that does not exist yet (the store root and the bucket folder are
// created as needed). False when there is none, when the key path has no
// bucket, or when the profile folder, store root or bucket folder is missing
// and cannot be made. Reads keeps_clean() and portable() of `settings` once
// per call. Errors of the host's file system while opening, reading,
// listing or removing propagate (exception_io and its subclasses,
// exception_aborted), except that a candidate removed by someone else between
// the listing and its turn is skipped.
bool ResolveProfileTagPath(LPCWSTR key_path, bool create, std::string& out, const SideTagSettings& settings,
                           abort_callback& abort);

// An advisory lock (flock) on the bucket folder of a key path, held for as
// long as the object lives. A save takes it around looking up or allocating
// the name and writing the file, so saves in different processes (two
// players, a player and a tagger) cannot give two audio files of one bucket
// the same new name and lose one file's side tags. The lock is on the folder
// itself: the store's layout gains no file. With `create` the store root and
// bucket folder are made when missing; a bucket folder that does not exist
// (and, without a profile folder, nothing) is not locked, as nothing will be
// found or saved there. Blocks until the lock is had.
class ProfileBucketLock {
  public:
    ProfileBucketLock(LPCWSTR key_path, bool create, abort_callback& abort);
    ~ProfileBucketLock();
    ProfileBucketLock(const ProfileBucketLock&) = delete;
    ProfileBucketLock& operator=(const ProfileBucketLock&) = delete;

  private:
    int fd_ = -1;
};

// The stored key path at the end of a profile side-tag file, given the last
// `window.size()` bytes of it (an even count) and whether they start at the
// beginning of the file. Nothing when the window does not end with 00 00,
// holds no path, or (`needs_more` set) when the path reaches the start of the
// window and a larger window could hold all of it.
std::optional<std::u16string> StoredKeyPathIn(const std::vector<uint8_t>& window, bool window_is_whole_file,
                                              bool& needs_more);

// The stored key path of a profile side-tag file of `size` bytes (nothing
// when it is not one: too short, no "ID3" at its start, no trailer), read
// through `read(offset, buffer, n)`, which returns the bytes read. The first
// window of the file's end that is tried holds `first_window` bytes; it grows
// while a path may go on before it.
std::optional<std::u16string> StoredKeyPathOfFile(
    uint64_t size, uint64_t first_window, const std::function<size_t(uint64_t, uint8_t*, size_t)>& read);

// Whether a stored key path names an existing file (not a folder). Key paths
// are upper case while Linux names are case-sensitive, so a path that does
// not exist as written is looked up again one component at a time without
// regard to case.
bool StoredFileExists(const std::u16string& stored_path);

}  // namespace corvina
