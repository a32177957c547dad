// Helpers shared by the test executables: where the real third-party sample
// files are (they are never copied into the project), scoped temporary folders
// and file copies, and small byte-level file helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// Folder of the real sample files, or an empty path when it is absent. The
// environment variable CQ_SAMPLES_DIR overrides the configured location.
std::filesystem::path SamplesDir();

// Path of one real sample; calls GTEST_SKIP-compatible logic through the macro
// below when the folder or the file is missing.
std::filesystem::path SamplePath(const std::string& name);

// Folder of the built programs and modules (bin/ of the build tree).
std::filesystem::path BinDir();

// A fresh temporary folder, removed with everything in it when the object dies.
class ScopedTempDir {
  public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
// Copies `from` to `to` and gives the copy its owner's write permission: the
// samples are kept read-only, and a read-only file is never written.
void CopyWritable(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace testsupport

// Skips the current test with a clear message when a real sample is absent.
#define CQ_REQUIRE_SAMPLE(var, name)                                                       \
    const std::filesystem::path var = ::testsupport::SamplePath(name);                     \
    if (var.empty()) {                                                                     \
        GTEST_SKIP() << "real sample '" << (name) << "' not found (folder "                \
                     << "../shared/samples/real is absent); set CQ_SAMPLES_DIR to run it"; \
    }
