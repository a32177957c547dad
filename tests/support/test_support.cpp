#include "support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

fs::path SamplesDir() {
    const char* env = std::getenv("CQ_SAMPLES_DIR");
    fs::path dir = (env && *env) ? fs::path(env) : fs::path(CQ_SAMPLES_DIR);
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return fs::canonical(dir, ec);
    return {};
}

fs::path SamplePath(const std::string& name) {
    fs::path dir = SamplesDir();
    if (dir.empty()) return {};
    fs::path p = dir / name;
    std::error_code ec;
    return fs::is_regular_file(p, ec) ? p : fs::path{};
}

fs::path BinDir() { return fs::path(CQ_BIN_DIR); }

ScopedTempDir::ScopedTempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("cq-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ec;
    // Files may have been made read-only by a test; give write access back first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void CopyWritable(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::copy_file(from, to);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

}  // namespace testsupport
