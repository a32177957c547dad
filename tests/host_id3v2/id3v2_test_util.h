// Shared pieces of the tag service tests: a host with its services, files in
// a temporary folder, and a field-by-field comparison of two file_info.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/tag_processor.h"
#include "support/test_support.h"

namespace id3test {

class TagServiceTest : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;
    tag_write_callback_dummy no_temp;

    std::string HostPath(const std::string& name) const { return "file://" + (dir / name).string(); }

    // Writes the tag of `info` into a new file `name`.
    void WriteTag(const std::string& name, const file_info& info);
    // Reads the tag of file `name` into a fresh file_info.
    file_info_impl ReadTag(const std::string& name);
    file_info_impl RoundTrip(const file_info& info) {
        WriteTag("rt.tag", info);
        return ReadTag("rt.tag");
    }
};

// Every field of `expected` (all values, in order) is in `actual` under a
// name equal without regard to case, nothing else is, and the ReplayGain
// values are equal.
void ExpectSameInfo(const file_info& expected, const file_info& actual);

}  // namespace id3test
