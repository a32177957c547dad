// Atomic in-place edits of a file.
//
// The file is copied to a fresh temporary file in the same folder (so the final
// rename never crosses file systems), the editor changes the copy, the copy is
// flushed to disk and renamed over the original. Until that rename the original
// is never opened for writing, so any failure leaves it byte for byte; the
// temporary file is removed on every failure path.
#pragma once

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

// Test hook: makes the next EditAtomically calls fail at a stage (1 = after the
// copy was made, 2 = after the edit, before the rename; 0 = off).
void SetAtomicEditFaultForTesting(int stage);

}  // namespace medialib
