// Side tags: the whole file_info of an audio file (every metadata field and
// the ReplayGain values) kept as an ID3v2 tag outside the audio file, for
// what the media library cannot store.
//
// Two places, each switched on by a setting: the stream side-tag file, named
// host path + ":ID3v2.tag" (on NTFS an alternate data stream of the audio
// file, here a file of that name beside it), holding just the tag; and the
// profile side-tag file of profile_store.h. The tag is made and read by the
// host's ID3v2 tag service (tag_processor_id3v2). Saves never leave a
// half-written side-tag file: the new content goes to a file named
// <target>.new beside the target, which is then renamed over it, so an
// interrupted save keeps the previous file.
#pragma once

#include <string>

#include "host/sdk/abort_callback.h"
#include "host/sdk/file_info.h"
#include "platform/wintypes.h"
#include "plugin/tags/side_tag_settings.h"

namespace corvina {

// The stream side-tag file of an audio file's host path.
std::string StreamTagPath(const char* host_path);

// Merges one side-tag file into `info` if `info` is empty (no metadata, no
// technical information, no ReplayGain value); otherwise does nothing. The
// places are tried in this order, each only while `info` is still empty:
// the stream if write_ntfs_stream(), the profile if use_user_profile(), then
// the stream and the profile whatever the settings (a place already tried is
// not tried again). A null or empty `host_path` has no stream place, a null
// or empty `key_path` no profile place. Host errors (unreadable side-tag file, file-system
// failures, abort) propagate.
void LoadSideTags(file_info& info, const char* host_path, LPCWSTR key_path, const SideTagSettings& settings,
                  abort_callback& abort);

// Stores `info` in each enabled place: with content (a metadata field or a
// ReplayGain value) the place's side-tag file is written anew; without, it
// is removed (a stream side-tag file that is not there counts as removed).
// The stream place needs a host path, the profile place a key path; the
// profile side-tag file keeps its name across saves. Host errors propagate;
// the previous side-tag file is then still in place.
void SaveSideTags(const file_info& info, const char* host_path, LPCWSTR key_path,
                  const SideTagSettings& settings, abort_callback& abort);

}  // namespace corvina
