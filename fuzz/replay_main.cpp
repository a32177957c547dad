// Runs the fuzz entry on files (or every file of folders) named on the command
// line, without libFuzzer: for reproducing a crash file under a debugger or a
// sanitizer build. Prints one line per file with the opens that succeeded.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/open_entry.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto& e : fs::directory_iterator(argv[i], ec)) {
                if (e.is_regular_file()) files.push_back(e.path());
            }
        } else {
            files.emplace_back(argv[i]);
        }
    }
    for (const fs::path& p : files) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        const int opened = cqfuzz::OpenEverything(bytes.data(), bytes.size());
        std::printf("%s: opened mask %d\n", p.string().c_str(), opened);
    }
    return 0;
}
