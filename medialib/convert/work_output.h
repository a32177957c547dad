// The files a conversion writes into its work folder.
//
// Output is written into an unnamed file of the work folder (O_TMPFILE), so
// a conversion that fails, or a process that is killed halfway, leaves no
// partial file behind: the kernel frees an unnamed file with its last
// descriptor. Only a complete, flushed file gets a name, and that name is new
// ("<base>.cqconv-XXXXXX<ext>", linked without replacing anything). Where the
// file system has no unnamed files, a hidden named file is used instead and
// removed on every failure path.
//
// A published file stays locked (flock) by this process until it ends. Its
// name marks it as the engine's own; SweepStaleOutputs removes such files
// that no live process holds, i.e. the leftovers of a process that was
// killed between the conversion and the caller's final move or deletion.
#pragma once

#include <filesystem>
#include <string>

#include "medialib/core/unique_fd.h"

namespace medialib::conversion {

class WorkOutput {
  public:
    // Opens a new unnamed file in `folder`; check valid().
    explicit WorkOutput(const std::filesystem::path& folder);
    ~WorkOutput();  // removes a named stand-in that was not published
    WorkOutput(const WorkOutput&) = delete;
    WorkOutput& operator=(const WorkOutput&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // Flushes the file and gives it a new name "<base>.cqconv-XXXXXX<ext>" in the
    // folder. Returns the path, or an empty path when that fails (nothing is
    // left behind then).
    std::filesystem::path Publish(const std::string& base, const std::string& ext);

  private:
    std::filesystem::path folder_;
    std::filesystem::path stand_in_;  // named fallback file, empty with O_TMPFILE
    UniqueFd fd_;
    bool published_ = false;
};

// Removes the engine's own outputs in `folder` that no live process holds.
void SweepStaleOutputs(const std::filesystem::path& folder);

// The marker that the engine's output names carry.
inline constexpr const char* kOutputMarker = ".cqconv-";

}  // namespace medialib::conversion
