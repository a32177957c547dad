#include "plugin/tags/side_tags.h"

#include <functional>
#include <mutex>

#include "host/sdk/callstack.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/tag_processor.h"
#include "plugin/tags/local_paths.h"
#include "plugin/tags/profile_store.h"

namespace corvina {
namespace {

constexpr const char* kStreamSuffix = ":ID3v2.tag";
// Beside the target while a save is under way; its extension keeps it out of
// profile lookups.
constexpr const char* kPendingSuffix = ".new";

// Allocating a profile name and filling it must not interleave with another
// save in this process, or two audio files of one bucket could get the same
// name.
std::mutex g_profile_save_lock;

bool IsEmpty(const file_info& info) {
    return info.meta_get_count() == 0 && info.info_get_count() == 0 && info.get_replaygain().is_empty();
}

bool HasContent(const file_info& info) {
    return info.meta_get_count() != 0 || !info.get_replaygain().is_empty();
}

bool KeyPresent(LPCWSTR key_path) { return key_path && *key_path; }

// Reads the side-tag file at `path` into `info`. A file whose tag does not
// parse (damaged, cut short) is left where it is and ignored: the audio
// file's own tags are still worth reading, and the next save replaces it.
// Failures to open or read the file still propagate.
void ReadTagInto(const std::string& path, file_info& info, abort_callback& abort) {
    file_ptr f;
    {
        TRACK_CALL_TEXT("filesystem::g_open");
        filesystem::g_open(f, path.c_str(), filesystem::open_mode_read, abort);
    }
    file_info_impl read;
    try {
        tag_processor_id3v2::g_get()->read(f, read, abort);
    } catch (const exception_io_data&) {
        return;
    }
    // What the tag service sets: the metadata and the ReplayGain values.
    info.meta_remove_all();
    for (size_t i = 0; i < read.meta_get_count(); ++i) {
        for (size_t v = 0; v < read.meta_enum_value_count(i); ++v)
            info.meta_add(read.meta_enum_name(i), read.meta_enum_value(i, v));
    }
    info.set_replaygain(read.get_replaygain());
}

// Writes `target` through a file beside it that is renamed over the target
// when complete. On any failure the pending file is removed (as far as that
// works) and the target keeps what it had.
void WriteAside(const std::string& target, const std::function<void(const file_ptr&)>& fill,
                abort_callback& abort) {
    const std::string pending = target + kPendingSuffix;
    file_ptr f;
    try {
        {
            TRACK_CALL_TEXT("filesystem::g_open");
            filesystem::g_open(f, pending.c_str(), filesystem::open_mode_write_new, abort);
        }
        fill(f);
        f.release();  // closed before the rename
        TRACK_CALL_TEXT("filesystem::g_move");
        filesystem::g_move(pending.c_str(), target.c_str(), abort);
    } catch (...) {
        f.release();
        try {
            abort_callback_dummy cleanup;
            if (filesystem::g_exists(pending.c_str(), cleanup))
                filesystem::g_remove(pending.c_str(), cleanup);
        } catch (...) {
            // The original failure is the one to report.
        }
        throw;
    }
}

// Removes a pending file that a killed save left beside `target`. A save
// with content replaces it anyway (it is opened as a new file); a save that
// removes the side-tag file removes it too, so nothing stale stays behind.
void RemoveStalePending(const std::string& target) {
    const std::string pending = target + kPendingSuffix;
    try {
        abort_callback_dummy cleanup;
        if (PathExists(pending, cleanup)) filesystem::g_remove(pending.c_str(), cleanup);
    } catch (const exception_io&) {
        // A leftover that cannot be removed changes nothing for this save.
    }
}

void WriteTag(const file_ptr& f, const file_info& info, abort_callback& abort) {
    tag_write_callback_dummy no_temp_file;
    tag_processor_id3v2::g_get()->write(f, info, no_temp_file, abort);
}

void LoadFromStream(file_info& info, const char* host_path, abort_callback& abort) {
    if (!host_path || !*host_path) return;
    const std::string stream = StreamTagPath(host_path);
    if (PathExists(stream, abort)) ReadTagInto(stream, info, abort);
}

void LoadFromProfile(file_info& info, LPCWSTR key_path, const SideTagSettings& settings,
                     abort_callback& abort) {
    if (!KeyPresent(key_path)) return;
    std::string path;
    if (ResolveProfileTagPath(key_path, false, path, settings, abort) && PathExists(path, abort)) {
        ReadTagInto(path, info, abort);
    }
}

void SaveToStream(const file_info& info, const char* host_path, bool content, abort_callback& abort) {
    if (!host_path || !*host_path) return;
    const std::string stream = StreamTagPath(host_path);
    if (content) {
        WriteAside(
            stream, [&](const file_ptr& f) { WriteTag(f, info, abort); }, abort);
        return;
    }
    RemoveStalePending(stream);
    try {
        TRACK_CALL_TEXT("filesystem::g_remove");
        filesystem::g_remove(stream.c_str(), abort);
    } catch (const exception_io_not_found&) {
        // Nothing stored there: the record without content is what is wanted.
    }
}

void SaveToProfile(const file_info& info, LPCWSTR key_path, bool content, const SideTagSettings& settings,
                   abort_callback& abort) {
    if (!KeyPresent(key_path)) return;
    std::lock_guard<std::mutex> hold(g_profile_save_lock);
    // And against saves in other processes, from the lookup to the rename.
    const ProfileBucketLock bucket_lock(key_path, content, abort);
    std::string path;
    if (content) {
        if (!ResolveProfileTagPath(key_path, true, path, settings, abort)) return;
        const std::vector<uint8_t> trailer = ProfileTrailer(key_path);
        WriteAside(
            path,
            [&](const file_ptr& f) {
                WriteTag(f, info, abort);
                f->seek_ex(0, file::seek_from_eof, abort);
                f->write(trailer.data(), trailer.size(), abort);
            },
            abort);
    } else if (ResolveProfileTagPath(key_path, false, path, settings, abort)) {
        RemoveStalePending(path);
        TRACK_CALL_TEXT("filesystem::g_remove");
        filesystem::g_remove(path.c_str(), abort);
    }
}

}  // namespace

std::string StreamTagPath(const char* host_path) {
    return std::string(host_path ? host_path : "") + kStreamSuffix;
}

void LoadSideTags(file_info& info, const char* host_path, LPCWSTR key_path, const SideTagSettings& settings,
                  abort_callback& abort) {
    if (!IsEmpty(info)) return;
    bool stream_tried = false;
    bool profile_tried = false;
    auto stream = [&] {
        if (stream_tried || !IsEmpty(info)) return;
        stream_tried = true;
        LoadFromStream(info, host_path, abort);
    };
    auto profile = [&] {
        if (profile_tried || !IsEmpty(info)) return;
        profile_tried = true;
        LoadFromProfile(info, key_path, settings, abort);
    };
    if (settings.write_ntfs_stream()) stream();
    if (settings.use_user_profile()) profile();
    stream();
    profile();
}

void SaveSideTags(const file_info& info, const char* host_path, LPCWSTR key_path,
                  const SideTagSettings& settings, abort_callback& abort) {
    const bool content = HasContent(info);
    if (settings.write_ntfs_stream()) SaveToStream(info, host_path, content, abort);
    if (settings.use_user_profile()) SaveToProfile(info, key_path, content, settings, abort);
}

}  // namespace corvina
