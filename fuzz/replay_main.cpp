// Runs one fuzz entry on files (or every file of folders) named on the
// command line, without libFuzzer: for reproducing a crash file under a
// debugger or a sanitizer build. Prints one line per file with the entry's
// result.
//   fuzz_replay TARGET FILE|FOLDER...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/entries.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const cqfuzz::Target* target = argc > 1 ? cqfuzz::FindTarget(argv[1]) : nullptr;
    if (!target) {
        std::fprintf(stderr, "usage: fuzz_replay TARGET FILE|FOLDER...\ntargets:");
        for (const cqfuzz::Target& t : cqfuzz::AllTargets()) std::fprintf(stderr, " %s", t.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
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
        const int result = target->run(bytes.data(), bytes.size());
        std::printf("%s: %s %d\n", p.string().c_str(), target->name, result);
    }
    return 0;
}
