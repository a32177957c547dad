// The reader and writer driven directly against the shared fake item, with a real
// host behind them (file system, profile folder, ID3v2 tag service) so the
// side-tag store works as in the player.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/core/host.h"
#include "host/sdk/file_info.h"
#include "platform/text/text.h"
#include "plugin/tags/info_reader.h"
#include "plugin/tags/info_writer.h"
#include "plugin/tags/side_tag_settings.h"
#include "support/fake_media_library.h"
#include "support/test_support.h"

namespace infotest {

class InfoTest : public ::testing::Test {
  protected:
    testsupport::ScopedTempDir dir;
    playhost::Host host{dir / "profile"};
    abort_callback_dummy abort;
    corvina::SideTagFlags flags;
    ComPtr<testsupport::FakeMediaItem> item_object = testsupport::FakeMediaItem::Make();
    testsupport::FakeMediaItem& item = *item_object.Get();

    // The paths of an input object opened on `host_path`.
    struct Paths {
        std::string host;
        std::u16string library;
        std::u16string key;
        corvina::InputFile file(MediaItem* item) const {
            return {host.c_str(), library.c_str(), key.c_str(), item};
        }
    };
    static Paths PathsOf(const std::string& host_path) {
        Paths p;
        p.host = host_path;
        const std::string rest = host_path.rfind("file://", 0) == 0 ? host_path.substr(7) : host_path;
        p.library = platform::Utf8ToUtf16(rest);
        p.key = platform::ToUpper(p.library);
        return p;
    }
    // A host path in the temporary folder.
    std::string InDir(const std::string& name) const { return (dir / name).string(); }

    void Read(const std::string& host_path, file_info& info) {
        const Paths p = PathsOf(host_path);
        corvina::ReadInfo(p.file(&item), flags, info, abort);
    }
    void Write(const std::string& host_path, const file_info& info) {
        const Paths p = PathsOf(host_path);
        corvina::WriteInfo(p.file(&item), flags, info, abort);
    }
};

}  // namespace infotest
