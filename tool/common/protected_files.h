// The files a run works on: the target and every base file opened through
// OpenMediaItem. No export (info file, text file, picture) may be written
// onto one of them: the default names are made from the target's own name
// ("--GetAll" on song.info exports song.info), and a user's path may name a
// base file, so an export could otherwise replace the audio it was read from.
//
// Files are known by their identity on disk (device and inode), so another
// spelling, a hard link or a symbolic link to the same file is caught too.
// Single-threaded, like the rest of the program.
#pragma once

#include "platform/wintypes.h"

namespace quillet {

// Remembers the file that `path` names now (nothing when it names none).
void ProtectFile(LPCWSTR path);

// Forgets every remembered file: called when a run starts.
void ClearProtectedFiles();

// Whether `path` names one of the remembered files.
bool IsProtectedFile(LPCWSTR path);

// Whether an export may be written to `path`: it names no remembered file and
// nothing but a regular file (or nothing yet). A FIFO or a device is refused:
// opening one for writing waits for a reader that may never come.
bool MayExportOnto(LPCWSTR path);

}  // namespace quillet
