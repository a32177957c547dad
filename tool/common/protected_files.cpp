#include "tool/common/protected_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/files/files.h"

namespace quillet {
namespace {

using Identity = std::pair<dev_t, ino_t>;

std::vector<Identity> g_protected;

std::optional<Identity> IdentityOf(LPCWSTR path) {
    if (!path || !*path) return std::nullopt;
    struct stat st {};
    if (::stat(platform::NativePath(path).c_str(), &st) != 0) return std::nullopt;
    return Identity{st.st_dev, st.st_ino};
}

}  // namespace

void ProtectFile(LPCWSTR path) {
    const std::optional<Identity> identity = IdentityOf(path);
    if (identity && std::find(g_protected.begin(), g_protected.end(), *identity) == g_protected.end())
        g_protected.push_back(*identity);
}

void ClearProtectedFiles() { g_protected.clear(); }

bool IsProtectedFile(LPCWSTR path) {
    const std::optional<Identity> identity = IdentityOf(path);
    return identity && std::find(g_protected.begin(), g_protected.end(), *identity) != g_protected.end();
}

bool MayExportOnto(LPCWSTR path) {
    if (!path || !*path) return false;
    struct stat st {};
    if (::stat(platform::NativePath(path).c_str(), &st) != 0) return true;  // a new file
    if (!S_ISREG(st.st_mode)) return false;
    return std::find(g_protected.begin(), g_protected.end(), Identity{st.st_dev, st.st_ino}) ==
           g_protected.end();
}

}  // namespace quillet
