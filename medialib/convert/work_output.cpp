#include "medialib/convert/work_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

namespace medialib::conversion {
namespace {

// Descriptors of published files, kept open (and so locked) until the process ends.
std::mutex g_held_mutex;
std::vector<int>& HeldDescriptors() {
    static std::vector<int>* held = new std::vector<int>();  // never destroyed: lives until exit
    return *held;
}

std::string RandomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 35);
    std::string s(6, 'x');
    for (char& c : s) c = kChars[pick(generator)];
    return s;
}

}  // namespace

WorkOutput::WorkOutput(const std::filesystem::path& folder) : folder_(folder) {
    fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644));
    if (fd_.valid()) {
        // Held from the start: a sweep by another run must see this file as alive.
        ::flock(fd_.get(), LOCK_SH | LOCK_NB);
        return;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return;
    // No unnamed files here: a hidden name that nobody else will pick.
    std::string pattern = (folder / ".cqconv-part-XXXXXX").string();
    fd_ = UniqueFd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd_.valid()) {
        stand_in_ = pattern;
        ::fchmod(fd_.get(), 0644);
        ::flock(fd_.get(), LOCK_SH | LOCK_NB);
    }
}

WorkOutput::~WorkOutput() {
    if (!published_ && !stand_in_.empty()) ::unlink(stand_in_.c_str());
}

std::filesystem::path WorkOutput::Publish(const std::string& base, const std::string& ext) {
    if (!fd_.valid() || published_) return {};
    if (::fsync(fd_.get()) != 0) return {};
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = base;
        name.append(kOutputMarker).append(RandomSuffix()).append(ext);
        const std::filesystem::path target = folder_ / name;
        int rc;
        if (stand_in_.empty()) {
            const std::string proc = "/proc/self/fd/" + std::to_string(fd_.get());
            rc = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
        } else {
            rc = ::link(stand_in_.c_str(), target.c_str());
        }
        if (rc != 0 && errno == EEXIST) continue;
        if (rc != 0) return {};
        if (!stand_in_.empty()) {
            ::unlink(stand_in_.c_str());
            stand_in_.clear();
        }
        published_ = true;
        std::lock_guard<std::mutex> lock(g_held_mutex);
        HeldDescriptors().push_back(::dup(fd_.get()));
        return target;
    }
    return {};
}

void SweepStaleOutputs(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        const bool ours =
            name.find(kOutputMarker) != std::string::npos || name.rfind(".cqconv-part-", 0) == 0;
        if (!ours || !entry.is_regular_file(ec)) continue;
        UniqueFd fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.valid()) continue;
        // A live process holds a shared lock on each file it published; a
        // stand-in being written has its writer's lock below.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        ::unlink(entry.path().c_str());
    }
}

}  // namespace medialib::conversion
