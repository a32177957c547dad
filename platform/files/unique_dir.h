// An open directory stream (opendir) owned by its scope.
#pragma once

#include <dirent.h>

#include <memory>

namespace platform {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace platform
