#include "plugin/tags/local_paths.h"

#include <sys/stat.h>

#include <cerrno>

#include "host/sdk/callstack.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/text.h"

namespace corvina {

std::optional<std::string> LocalNativePath(const std::string& host_path) {
    const std::string_view text = host_path;
    if (!fb2k::starts_with_nocase(text, "file://")) {
        // "scheme://" before any separator names another file system.
        const size_t colon = text.find("://");
        if (colon != std::string_view::npos && text.find_first_of("/\\") >= colon) return std::nullopt;
    }
    return fb2k::host_path_to_native(host_path.c_str());
}

bool PathExists(const std::string& host_path, abort_callback& abort) {
    if (const std::optional<std::string> native = LocalNativePath(host_path)) {
        abort.check();
        struct stat st {};
        if (::stat(native->c_str(), &st) == 0) return true;
        // The answers the host's local file system gives as "not found".
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return false;
    }
    TRACK_CALL_TEXT("filesystem::g_get_stats");
    return filesystem::g_exists(host_path.c_str(), abort);
}

}  // namespace corvina
