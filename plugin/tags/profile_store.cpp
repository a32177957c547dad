#include "plugin/tags/profile_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <new>

#include "host/sdk/callstack.h"
#include "host/sdk/core_api.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/text.h"
#include "platform/files/files.h"
#include "platform/files/folder_handle.h"
#include "platform/text/text.h"
#include "plugin/tags/local_paths.h"
#include "plugin/tags/trailer_cache.h"

namespace corvina {
namespace {

// The window the Windows plug-in reads: room for a 259-unit path and its
// terminator. Ours starts there and grows for longer key paths.
constexpr uint64_t kBaseWindow = 520;
// Beyond the longest path Windows can name (32767 units) plus both zeros.
constexpr uint64_t kMaxWindow = 2 * (32767 + 2);
// A candidate no larger than this is read whole in one read (one page).
constexpr uint64_t kWholeReadSize = 4096;
// A candidate must be longer than "ID3" plus an empty trailer.
constexpr uint64_t kMinCandidateSize = 9;

// The path split by the Windows rules. The buffers are sized from the path
// itself, so a long path splits instead of failing.
struct SplitKey {
    std::u16string drive, folder, name, extension;
};

std::optional<SplitKey> Split(LPCWSTR path) {
    if (!path) return std::nullopt;
    const size_t units = static_cast<size_t>(lstrlenW(path)) + 1;
    std::u16string drive(3, u'\0'), folder(units, u'\0'), name(units, u'\0'), extension(units, u'\0');
    if (_wsplitpath_s(path, drive.data(), drive.size(), folder.data(), folder.size(), name.data(),
                      name.size(), extension.data(), extension.size()) != 0) {
        return std::nullopt;
    }
    auto trim = [](std::u16string& s) { s.resize(std::char_traits<char16_t>::length(s.c_str())); };
    trim(drive);
    trim(folder);
    trim(name);
    trim(extension);
    return SplitKey{drive, folder, name, extension};
}

bool SameNoCase(const std::u16string& a, const std::u16string& b) {
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

// Whether a folder entry's name is a component of a stored key path. The key
// path was made with the upper-case mapping, which is not undone by case
// folding for every letter (dotless i upper-cases to I, which folds to i), so
// a name also matches when its upper-case form is the component.
bool NameMatchesStored(const std::u16string& name, const std::u16string& component) {
    return platform::EqualsNoCase(name, component) || platform::ToUpper(name) == platform::ToUpper(component);
}

bool Matches(const std::u16string& stored, LPCWSTR key, const SplitKey& key_parts, bool portable) {
    if (lstrcmpiW(stored.c_str(), key) == 0) return true;
    if (!portable) return false;
    const std::optional<SplitKey> stored_parts = Split(stored.c_str());
    return stored_parts && SameNoCase(stored_parts->folder, key_parts.folder) &&
           SameNoCase(stored_parts->name, key_parts.name) &&
           SameNoCase(stored_parts->extension, key_parts.extension);
}

// "%08X.tag" in the bucket folder.
std::string TagFileName(const std::string& bucket_folder, uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof(name), "%08X.tag", number);
    return bucket_folder + name;
}

bool Exists(const std::string& path, abort_callback& abort) { return PathExists(path, abort); }

// Creates a folder of the store when asked and reports whether it exists
// afterwards. A folder that cannot be made leaves the profile place
// unavailable rather than failing the caller.
bool EnsureFolder(const std::string& path, bool create, abort_callback& abort) {
    if (Exists(path, abort)) return true;
    if (!create) return false;
    try {
        TRACK_CALL_TEXT("filesystem::g_create_directory");
        filesystem::g_create_directory(path.c_str(), abort);
    } catch (const exception_io&) {
        // Another caller may just have made it; the test below decides.
    }
    return Exists(path, abort);
}

// The file name part of a host path, after the last "/" or "\".
std::string_view FileNameOf(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool HasTagExtension(std::string_view path) {
    const std::string_view name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot != std::string_view::npos && name.substr(dot) == ".tag";  // ".TAG" does not count
}

// The stored key path of one candidate file, or nothing when it is not a
// side-tag file of this store. The size is the open file's own: a save
// renames a new file over the listed one, so the listing's size may belong to
// content that is gone, and a window placed by it would miss the trailer.
std::optional<std::u16string> ReadStoredKeyPath(const std::string& path, uint64_t first_window,
                                                abort_callback& abort) {
    file_ptr f;
    try {
        TRACK_CALL_TEXT("filesystem::g_open");
        filesystem::g_open(f, path.c_str(), filesystem::open_mode_read, abort);
    } catch (const exception_io_not_found&) {
        return std::nullopt;  // removed since the listing (another lookup's keeps-clean)
    }
    const uint64_t size = f->get_size(abort);
    if (size == t_filestats::filesize_invalid) return std::nullopt;
    return StoredKeyPathOfFile(size, first_window, [&](uint64_t offset, uint8_t* buffer, size_t n) {
        f->seek(offset, abort);
        return f->read(buffer, n, abort);
    });
}

// One file of a bucket listing. Through the host: its host path. Listed
// directly: the folder it is in (by index) and its name there, so that it is
// opened relative to that folder; its host path is made only when needed.
struct Listed {
    std::string path;
    size_t folder = 0;
    std::string name;
    bool worth_reading = false;  // a regular file (direct listing) or one of 9 bytes or more (host listing)
};

// The bucket listing of the host's local file system, made with one
// descriptor per folder and the kinds the directory entries record: no
// status call per entry, and the candidates are later opened relative to
// their folder. Same files, same order (names sorted by bytes, a subfolder's
// files at its place), same host paths as filesystem::g_list_directory
// (recursive) gives. Anything out of the ordinary (a link to a folder, a
// name holding a "\\", a folder that cannot be read) makes it give up: the
// caller then lists through the host, which gives its own answer or error.
//
// A plain bucket (one folder of files, no links) is remembered in the trailer
// cache: listed again only when its stamp changed, with what the trailers of
// its files said. The memory is put back when the listing ends.
class DirectListing {
  public:
    enum Result { kListed, kMissing, kUnusual };
    DirectListing() = default;
    ~DirectListing() {
        if (!plain_) return;
        try {
            TrailerCache::Shared().Put(paths_.front(), std::move(memory_));
        } catch (const std::bad_alloc&) {
            // Out of memory: the folder is simply read again next time.
        }
    }
    DirectListing(const DirectListing&) = delete;
    DirectListing& operator=(const DirectListing&) = delete;

    // kMissing: the folder does not exist (nothing else was looked at).
    Result List(const std::string& host_folder) {
        const std::optional<std::string> native = LocalNativePath(host_folder);
        if (!native) return kUnusual;
        std::string folder = *native;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        host_form_ = fb2k::starts_with_nocase(host_folder, "file://");
        platform::FolderHandle handle = platform::FolderHandle::Open(folder);
        if (!handle.valid()) return errno == ENOENT ? kMissing : kUnusual;
        // The folder's stamp is taken before it is listed, so that a listing
        // kept is never newer than its stamp.
        TrailerCache::Folder before = TrailerCache::Shared().Take(folder);
        struct stat st {};
        const bool stamped = ::fstat(handle.fd(), &st) == 0;
        const FileStamp stamp = stamped ? FileStamp::Of(st) : FileStamp{};
        if (stamped && !before.files.empty() && before.stamp == stamp) {
            folders_.push_back(std::make_unique<platform::FolderHandle>(std::move(handle)));
            paths_.push_back(folder);
            files_.reserve(before.files.size());
            for (const TrailerCache::File& file : before.files)
                files_.push_back({{}, 0, file.name, file.regular});
            memory_ = std::move(before);
            plain_ = true;
            return kListed;
        }
        if (!ListInto(std::move(handle), folder)) return kUnusual;
        plain_ = stamped && folders_.size() == 1 && !saw_link_;
        if (plain_) Remember(stamp, std::move(before));
        return kListed;
    }
    std::vector<Listed>& files() { return files_; }
    const platform::FolderHandle& FolderOf(const Listed& file) const { return *folders_[file.folder]; }
    // What is remembered of the file at `index` of files(), where a folder is remembered.
    TrailerCache::File* MemoryOf(size_t index) { return plain_ ? &memory_.files[index] : nullptr; }
    // The host path the host's listing gives the file.
    std::string HostPathOf(const Listed& file) const {
        const std::string& folder = paths_[file.folder];
        std::string child = (folder == "/" ? "" : folder) + "/" + file.name;
        return host_form_ ? fb2k::native_path_to_host(child) : child;
    }

  private:
    bool ListInto(platform::FolderHandle handle, const std::string& folder) {
        std::vector<platform::FolderHandle::Entry> entries;
        if (!handle.List(entries)) return false;
        const size_t index = folders_.size();
        folders_.push_back(std::make_unique<platform::FolderHandle>(std::move(handle)));
        paths_.push_back(folder);
        const platform::FolderHandle& here = *folders_.back();
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        for (platform::FolderHandle::Entry& entry : entries) {
            if (entry.name.find('\\') != std::string::npos) return false;
            platform::FolderHandle::Kind kind = entry.kind;
            if (kind == platform::FolderHandle::Kind::Unknown && !here.KindOf(entry.name, false, kind))
                continue;  // gone since the listing
            if (kind == platform::FolderHandle::Kind::Link) {
                saw_link_ = true;  // what it leads to may change while the folder does not
                if (!here.KindOf(entry.name, true, kind)) continue;  // dangling, as the host skips it
                if (kind == platform::FolderHandle::Kind::Folder) return false;
            }
            if (kind == platform::FolderHandle::Kind::Folder) {
                platform::FolderHandle sub = here.OpenFolder(entry.name);
                if (!sub.valid() ||
                    !ListInto(std::move(sub), (folder == "/" ? "" : folder) + "/" + entry.name))
                    return false;
                continue;
            }
            files_.push_back({{}, index, std::move(entry.name), kind == platform::FolderHandle::Kind::File});
        }
        return true;
    }

    // The memory of a plain folder just listed: its files, with what was
    // known of each name that is still a regular file (both lists are sorted
    // by name).
    void Remember(const FileStamp& stamp, TrailerCache::Folder before) {
        memory_.stamp = stamp;
        memory_.files.reserve(files_.size());
        size_t j = 0;
        for (const Listed& file : files_) {
            TrailerCache::File& remembered = memory_.files.emplace_back();
            remembered.name = file.name;
            remembered.regular = file.worth_reading;
            while (j < before.files.size() && before.files[j].name < file.name) ++j;
            if (file.worth_reading && j < before.files.size() && before.files[j].name == file.name)
                remembered.known = std::move(before.files[j].known);
        }
    }

    bool host_form_ = false;
    bool saw_link_ = false;
    bool plain_ = false;  // one folder of files, no links: remembered
    std::vector<std::unique_ptr<platform::FolderHandle>> folders_;
    std::vector<std::string> paths_;  // native path of each folder
    std::vector<Listed> files_;
    TrailerCache::Folder memory_;  // of a plain folder, in the order of files_
};

// The stored key path of a candidate of a direct listing. A candidate whose
// status is what it was when its trailer was last read is answered from
// memory with one status call. Otherwise it is read with one relative open,
// a status call on the descriptor (before reading, so that what is
// remembered can only be older than its stamp, never newer) and, for a file
// of up to a page (side-tag files are about a kilobyte: the tag and its
// padding), one read of the whole file, whose size is what that read gives;
// only a larger file is sized by its descriptor and has its window read
// apart. The bytes looked at are the same as reading the head and the window
// apart; the page is read either way. Fails (false) where the host's file
// system would have something to say (an error other than a file gone since
// the listing or a name that is no longer a file); the caller then reads the
// candidate through the host.
bool ReadStoredKeyPathDirect(const platform::FolderHandle& folder, const Listed& candidate,
                             uint64_t first_window, std::vector<uint8_t>& head,
                             std::optional<std::u16string>& stored, TrailerCache::File* memory) {
    stored.reset();
    const uint64_t limit = std::max(kMaxWindow, first_window);
    if (memory && memory->known) {
        struct stat st {};
        if (::fstatat(folder.fd(), candidate.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && TrailerCache::Answers(*memory->known, FileStamp::Of(st), limit)) {
            stored = memory->known->stored;
            return true;
        }
        memory->known.reset();
    }
    const int fd = folder.OpenForReading(candidate.name);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return true;  // not a file any more
    auto pread_once = [&](uint64_t offset, uint8_t* buffer, size_t n) -> ssize_t {
        ssize_t got;
        do {
            got = ::pread(fd, buffer, n, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        return got;
    };
    head.resize(static_cast<size_t>(std::max(kWholeReadSize, first_window)));
    const ssize_t got = pread_once(0, head.data(), head.size());
    if (got < 0) return errno == EISDIR || errno == ESPIPE || errno == EINVAL;
    // A regular file reads short only at its end.
    const uint64_t size = static_cast<uint64_t>(got) == head.size() ? static_cast<uint64_t>(st.st_size)
                                                                    : static_cast<uint64_t>(got);
    if (size >= kMinCandidateSize) {
        const uint64_t held = static_cast<uint64_t>(got);
        bool failed = false;
        stored = StoredKeyPathOfFile(
            size, first_window, [&](uint64_t offset, uint8_t* buffer, size_t n) -> size_t {
                if (offset + n <= held) {
                    std::copy_n(head.data() + offset, n, buffer);
                    return n;
                }
                size_t done = 0;
                while (done < n) {
                    const ssize_t part = pread_once(offset + done, buffer + done, n - done);
                    if (part < 0) failed = true;
                    if (part <= 0) break;
                    done += static_cast<size_t>(part);
                }
                return done;
            });
        if (failed) return false;
    }
    if (memory) memory->known = TrailerCache::Known{FileStamp::Of(st), stored, limit};
    return true;
}

// Removes a side-tag file found in the listing; one that another lookup has
// removed meanwhile is just as gone.
void RemoveCandidate(const std::string& path, abort_callback& abort) {
    try {
        TRACK_CALL_TEXT("filesystem::g_remove");
        filesystem::g_remove(path.c_str(), abort);
    } catch (const exception_io_not_found&) {
    }
}

}  // namespace

ProfileBucketLock::ProfileBucketLock(LPCWSTR key_path, bool create, abort_callback& abort) {
    const std::optional<unsigned> bucket = ProfileBucketOf(key_path);
    if (!bucket) return;
    const std::string profile = core_api::get_profile_path();
    if (!Exists(profile, abort)) return;
    const std::string root = profile + "\\ID3v2\\";
    if (!EnsureFolder(root, create, abort)) return;
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%02X", *bucket);
    const std::string bucket_folder = root + digits + "\\";
    if (!EnsureFolder(bucket_folder, create, abort)) return;
    const std::string native = fb2k::host_path_to_native(bucket_folder.c_str());
    fd_ = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

ProfileBucketLock::~ProfileBucketLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
}

std::optional<unsigned> ProfileBucketOf(LPCWSTR key_path) {
    if (!key_path || !*key_path) return std::nullopt;
    const std::optional<SplitKey> parts = Split(key_path);
    if (!parts) return std::nullopt;
    uint32_t sum = 0;
    for (const std::u16string* part : {&parts->folder, &parts->name, &parts->extension}) {
        for (char16_t unit : *part) sum += unit;
    }
    return (((sum >> 8) & 0xFF) + (sum & 0xFF)) % 256;
}

std::vector<uint8_t> ProfileTrailer(LPCWSTR key_path) {
    std::vector<uint8_t> out = {0, 0};
    for (LPCWSTR p = key_path; p && *p; ++p) {
        out.push_back(static_cast<uint8_t>(*p & 0xFF));
        out.push_back(static_cast<uint8_t>(*p >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::optional<std::u16string> StoredKeyPathOfFile(
    uint64_t size, uint64_t first_window, const std::function<size_t(uint64_t, uint8_t*, size_t)>& read) {
    if (size < kMinCandidateSize) return std::nullopt;
    uint8_t magic[3];
    if (read(0, magic, sizeof(magic)) != sizeof(magic) || magic[0] != 'I' || magic[1] != 'D' ||
        magic[2] != '3')
        return std::nullopt;
    // The trailer ends at the end of the file, so the window is aligned to
    // 2-byte units from there.
    const uint64_t whole = size & ~uint64_t{1};
    const uint64_t limit = std::max(kMaxWindow, first_window);
    uint64_t window_size = std::min(whole, first_window);
    for (;;) {
        std::vector<uint8_t> window;
        try {
            window.resize(static_cast<size_t>(window_size));
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        if (read(size - window_size, window.data(), window.size()) != window.size()) return std::nullopt;
        bool needs_more = false;
        std::optional<std::u16string> stored = StoredKeyPathIn(window, window_size == size, needs_more);
        if (stored || !needs_more || window_size >= whole || window_size >= limit) return stored;
        window_size = std::min({whole, limit, window_size * 2});
    }
}

std::optional<std::u16string> StoredKeyPathIn(const std::vector<uint8_t>& window, bool window_is_whole_file,
                                              bool& needs_more) {
    needs_more = false;
    const size_t units = window.size() / 2;
    auto unit = [&](size_t i) { return static_cast<char16_t>(window[2 * i] | (window[2 * i + 1] << 8)); };
    if (units == 0 || unit(units - 1) != 0) return std::nullopt;
    size_t start = units - 1;
    while (start > 0 && unit(start - 1) != 0) --start;
    if (start == 0) {
        // No zero unit before the path inside the window: either the path
        // goes on before it, or (the whole file seen) there is no trailer.
        needs_more = !window_is_whole_file && units > 1;
        return std::nullopt;
    }
    if (start == units - 1) return std::nullopt;  // an empty path
    std::u16string path;
    for (size_t i = start; i < units - 1; ++i) path.push_back(unit(i));
    return path;
}

namespace {

// Folder listings made during one lookup. The case-insensitive walk of each
// stored path lists every folder on its way, and the stored paths of one
// bucket share most of them (the root, the home and music folders); each is
// listed once per lookup instead of once per candidate.
using FolderListings = std::map<std::u16string, std::optional<std::vector<platform::FolderEntry>>>;

const std::optional<std::vector<platform::FolderEntry>>& ListingOf(const std::u16string& folder,
                                                                   FolderListings& listings) {
    auto found = listings.find(folder);
    if (found == listings.end()) found = listings.emplace(folder, platform::ListFolder(folder)).first;
    return found->second;
}

bool StoredFileExistsIn(const std::u16string& stored_path, FolderListings& listings) {
    const DWORD attributes = GetFileAttributesW(stored_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (stored_path.empty() || stored_path.front() != u'/') return false;

    std::vector<std::u16string> components;
    size_t pos = 1;
    while (pos <= stored_path.size()) {
        const size_t slash = std::min(stored_path.find(u'/', pos), stored_path.size());
        if (slash > pos) components.push_back(stored_path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    if (components.empty()) return false;
    // Every folder whose name matches so far (names differing only in case
    // may all exist side by side).
    std::vector<std::u16string> folders = {u"/"};
    for (size_t c = 0; c < components.size(); ++c) {
        const bool last = c + 1 == components.size();
        std::vector<std::u16string> next;
        for (const std::u16string& folder : folders) {
            const auto& entries = ListingOf(folder, listings);
            if (!entries) continue;
            for (const platform::FolderEntry& entry : *entries) {
                if (!NameMatchesStored(entry.name, components[c])) continue;
                const bool is_folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                if (last && !is_folder) return true;
                if (!last && is_folder) next.push_back(entry.path);
            }
        }
        folders = std::move(next);
        if (folders.empty()) return false;
    }
    return false;
}

}  // namespace

bool StoredFileExists(const std::u16string& stored_path) {
    FolderListings listings;
    return StoredFileExistsIn(stored_path, listings);
}

bool ResolveProfileTagPath(LPCWSTR key_path, bool create, std::string& out, const SideTagSettings& settings,
                           abort_callback& abort) {
    out.clear();
    const std::optional<unsigned> bucket = ProfileBucketOf(key_path);
    if (!bucket) return false;
    const std::optional<SplitKey> key_parts = Split(key_path);

    const std::string profile = core_api::get_profile_path();
    const std::string root = profile + "\\ID3v2\\";
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%02X", *bucket);
    const std::string bucket_folder = root + digits + "\\";
    if (create && (!Exists(profile, abort) || !EnsureFolder(root, true, abort) ||
                   !EnsureFolder(bucket_folder, true, abort)))
        return false;

    // One listing answers both "is the bucket empty" and "which files are
    // in it"; an empty-folder test first would list the bucket twice. The
    // bucket is listed directly where the host's local file system serves it
    // (see DirectListing), otherwise through the host. A lookup creates
    // nothing, so for it the bucket folder alone decides whether there is a
    // store: it exists only below an existing store root and profile folder.
    DirectListing direct;
    std::vector<Listed> host_listed;
    std::vector<Listed>* files = &direct.files();
    const DirectListing::Result listed = direct.List(bucket_folder);
    if (listed == DirectListing::kMissing && !create) return false;
    if (listed != DirectListing::kListed) {
        if (!create && !Exists(bucket_folder, abort)) return false;
        directory_callback_impl listing(true);
        {
            TRACK_CALL_TEXT("filesystem::g_list_directory");
            filesystem::g_list_directory(bucket_folder.c_str(), listing, abort);
        }
        for (const directory_callback_impl::entry& entry : listing.get_files()) {
            // Sizes from the listing: a file too small is not opened.
            const bool big_enough = entry.stats.m_size != t_filestats::filesize_invalid &&
                                    entry.stats.m_size >= kMinCandidateSize;
            host_listed.push_back({entry.path, 0, {}, big_enough});
        }
        files = &host_listed;
    }
    const bool keeps_clean = settings.keeps_clean();
    const bool portable = settings.portable();
    if (files->empty()) {
        if (!create) return false;
        out = TagFileName(bucket_folder, 0);
        return true;
    }

    // Enough for the key path with a drive in front, both zeros, and a
    // little more; a longer stored path makes the window grow.
    FolderListings listings;  // for keeps-clean's existence tests
    const uint64_t first_window =
        std::max<uint64_t>(kBaseWindow, 2 * (static_cast<uint64_t>(lstrlenW(key_path)) + 4));
    const bool direct_listing = files != &host_listed;
    std::vector<uint8_t> head;  // reused by every candidate
    for (const Listed& candidate : *files) {
        if (!candidate.worth_reading || !HasTagExtension(direct_listing ? candidate.name : candidate.path))
            continue;
        abort.check();
        std::optional<std::u16string> stored;
        // Made only for what needs it: the host's reading, the answer, a removal.
        auto host_path = [&] { return direct_listing ? direct.HostPathOf(candidate) : candidate.path; };
        if (!direct_listing ||
            !ReadStoredKeyPathDirect(direct.FolderOf(candidate), candidate, first_window, head, stored,
                                     direct.MemoryOf(static_cast<size_t>(&candidate - files->data()))))
            stored = ReadStoredKeyPath(host_path(), first_window, abort);
        if (!stored) continue;

        if (Matches(*stored, key_path, *key_parts, portable)) {
            if (out.empty()) {
                out = host_path();
                if (!keeps_clean) break;
                continue;
            }
            RemoveCandidate(host_path(), abort);  // a duplicate of the first match
        } else if (keeps_clean && !portable && !StoredFileExistsIn(*stored, listings)) {
            RemoveCandidate(host_path(), abort);  // its audio file is gone
        }
    }
    if (!out.empty()) return true;
    if (!create) return false;

    for (uint64_t number = 0; number <= 0xFFFFFFFFu; ++number) {
        std::string name = TagFileName(bucket_folder, static_cast<uint32_t>(number));
        if (!Exists(name, abort)) {
            out = std::move(name);
            return true;
        }
    }
    out.clear();
    return false;
}

}  // namespace corvina
