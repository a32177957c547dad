// A host with a profile folder in a temporary folder, and helpers that make
// audio files, key paths and profile side-tag files the way the plug-in does.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "plugin/tags/profile_store.h"
#include "plugin/tags/side_tag_settings.h"
#include "plugin/tags/side_tags.h"
#include "support/test_support.h"

namespace sidetagtest {

class SideTagStore : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;
    corvina::SideTagFlags flags;

    // An audio file (any bytes) in the temporary folder; returns its path.
    std::filesystem::path MakeAudio(const std::string& relative);
    static std::string HostPath(const std::filesystem::path& p) { return "file://" + p.string(); }
    // The key path of a native path: the path in upper case, UTF-16.
    static std::u16string KeyOf(const std::filesystem::path& p);

    std::filesystem::path StoreRoot() const { return host.profile_dir() / "ID3v2"; }
    std::filesystem::path BucketFolder(const std::u16string& key) const;
    // Files in a bucket folder, by name.
    std::vector<std::string> BucketFiles(const std::u16string& key) const;

    // The tag of `info` as the host's service writes it.
    std::vector<uint8_t> TagBytes(const file_info& info);
    // Writes a profile side-tag file `name` into the bucket of `bucket_key`
    // holding the tag of `info` and a trailer with `stored_key`.
    std::filesystem::path Plant(const std::u16string& bucket_key, const std::string& name,
                                const std::u16string& stored_key, const file_info& info);

    static file_info_impl Titled(const std::string& title);
};

std::vector<uint8_t> Utf16Le(const std::u16string& text);

// A short key path "/AA...Ax.OMA" that lands in bucket `bucket`.
std::u16string ShortKeyInBucket(unsigned bucket);

}  // namespace sidetagtest
