// Atomic replacement of a file's content.
//
// The new content is made in a fresh temporary file in the same folder (so the
// final rename never crosses file systems): either as a copy of the original
// that an editor then changes (EditAtomically), or written whole by the caller
// (WriteAtomically). Where the file system allows it the temporary file has no
// name (O_TMPFILE; editors reach it as /proc/self/fd/N) and is linked under a
// name only for the rename, so a save that is killed leaves nothing behind.
// Elsewhere it is ".<name>.cq-XXXXXX" (the name cut to fit the file system's
// limit), locked while in use; the next save of the same file removes such a
// leftover that nobody holds. The temporary file gets the original's
// permission bits, is flushed to disk and renamed over the original. Until that rename the
// original is never opened for writing, so any failure leaves it byte for
// byte; the temporary file is removed on every failure path. A target without
// write permission (read-only), or one the caller may not write, is refused
// before anything is made, whoever the caller is. A target that is
// a symbolic link is resolved first: the linked file is replaced and the link
// stays. A read-only target (no write bit, or not writable for this user) is
// refused, whoever runs the save.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>

namespace medialib {

// Runs `edit` on a temporary copy of `target` and replaces `target` with it when
// `edit` returns true. Returns false, with `target` untouched and no temporary
// file left, when copying, editing, flushing or renaming fails. The copy keeps
// the original's permission bits. `edit` must not throw; exceptions are caught
// and count as failure.
bool EditAtomically(const std::filesystem::path& target,
                    const std::function<bool(const std::filesystem::path& copy)>& edit);

// Like EditAtomically, but `write` produces the whole new content: it receives
// a descriptor of the empty temporary file, open for writing (owned by this
// function: `write` must not close it), and returns true when everything was
// written. `target` must exist as a regular file; it is read by nobody here, so
// `write` may read it while writing.
bool WriteAtomically(const std::filesystem::path& target, const std::function<bool(int fd)>& write);

// Writes `target` whole through `write` (as WriteAtomically): an existing
// file is replaced atomically; a missing one is created (permission bits
// 0644 less the umask) and removed again when `write` fails, so no caller is
// left with a half-written file.
bool WriteWholeFile(const std::filesystem::path& target, const std::function<bool(int fd)>& write);

// Writes all `size` bytes at `data` to `fd`, continuing after short writes and
// interruptions. False when a write fails (disk full, file size limit, ...).
bool WriteAll(int fd, const void* data, size_t size);

// Test hook: makes the next EditAtomically and WriteAtomically calls fail at a
// stage (1 = after the copy was made or the content written, 2 = after the
// edit, before the rename; 0 = off).
void SetAtomicEditFaultForTesting(int stage);

// Test hook: false makes saves use the named temporary file even where the
// file system offers unnamed ones (true is the default).
void SetUnnamedTemporaryForTesting(bool allowed);

}  // namespace medialib
