// Side-tag files on the local disk, reached without the host's exceptions
// where a missing file is an ordinary answer.
//
// The side-tag store asks "does it exist?" several times per lookup, and the
// answer is usually no (no stream side-tag file, no store root yet). Through
// the host's file system that "no" is an exception thrown and caught. For
// the paths the host's local file system serves (plain paths and "file://"
// paths), these helpers ask the system directly and give every answer the
// host would give as a value; anything unusual (an error other than "not
// there", another file system) still goes to the host, whose exceptions
// propagate as before.
#pragma once

#include <optional>
#include <string>

#include "host/sdk/abort_callback.h"

namespace corvina {

// The operating-system path of a host path that the host's local file
// system serves (as that service converts it); nothing for a path of another
// file system ("scheme://...").
std::optional<std::string> LocalNativePath(const std::string& host_path);

// filesystem::g_exists with the same answers: true for an existing file or
// folder, false for a missing one (without an exception on local paths);
// other failures propagate as the host's exceptions.
bool PathExists(const std::string& host_path, abort_callback& abort);

}  // namespace corvina
