// Opening a file and reading every attribute of the listing, per container,
// beside TagLib alone reading an MP3 of the same size: the ratio says what the
// engine's content check, stream probe and attribute model cost on top of a
// bare tag read. Files are generated once with the ffmpeg command.
#include <benchmark/benchmark.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "bench/ratio_reporter.h"
#include "medialib/core/container.h"

namespace {

namespace fs = std::filesystem;

// The ids of the console program's attribute listing (with fallbacks).
constexpr uint32_t kListing[] = {0x1207, 0x1607, 0x1230, 0x1630, 0x1210, 0x1610, 0x1510, 0x120C,
                                 0x0207, 0x160C, 0x0210, 0x0251, 0x1208, 0x1213, 0x1212, 0x1105,
                                 0x110F, 0x112D, 0x1400, 0x1236, 0x1404, 0x1100, 0x111A, 0x1104,
                                 0x1101, 0x1102, 0x1103, 0x1129, 0x1110, 0x1112, 0x111C, 0x110C,
                                 0x1245, 0x126E, 0x122C, 0x1224, 0x122D, 0x1223, 0x122A, 0x1220};

const fs::path& Folder() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("cq-bench-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

fs::path Make(const std::string& name, const std::string& args) {
    const fs::path out = Folder() / name;
    if (!fs::exists(out)) {
        const std::string cmd =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=duration=10 -metadata title=T "
            "-metadata artist=A -metadata album=B " +
            args + " '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0) return {};
    }
    return out;
}

void OpenAndList(benchmark::State& state, const fs::path& file) {
    if (file.empty()) {
        state.SkipWithError("ffmpeg could not generate the file");
        return;
    }
    for (auto _ : state) {
        auto opened = medialib::OpenMediaFile(file);
        size_t present = 0;
        if (opened) {
            for (uint32_t id : kListing) present += opened->Attributes().count(id);
        }
        benchmark::DoNotOptimize(present);
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}

void BM_EngineMp3(benchmark::State& s) { OpenAndList(s, Make("b.mp3", "-c:a libmp3lame -b:a 128k")); }
void BM_EngineWav(benchmark::State& s) { OpenAndList(s, Make("b.wav", "-c:a pcm_s16le")); }
void BM_EngineM4a(benchmark::State& s) { OpenAndList(s, Make("b.m4a", "-c:a aac -b:a 128k")); }
void BM_Engine3gp(benchmark::State& s) { OpenAndList(s, Make("b.3gp", "-c:a aac -b:a 128k -f 3gp")); }

// TagLib alone on the MP3 the engine benchmark opens (same size): tags and
// audio properties, which is what a plain tag reader does.
void BM_TagLibMp3(benchmark::State& state) {
    const fs::path file = Make("b.mp3", "-c:a libmp3lame -b:a 128k");
    if (file.empty()) {
        state.SkipWithError("ffmpeg could not generate the file");
        return;
    }
    for (auto _ : state) {
        TagLib::FileRef ref(file.c_str(), true, TagLib::AudioProperties::Average);
        size_t present = 0;
        if (!ref.isNull() && ref.tag()) present = ref.tag()->title().size() + ref.tag()->artist().size();
        if (ref.audioProperties())
            present += static_cast<size_t>(ref.audioProperties()->lengthInMilliseconds());
        benchmark::DoNotOptimize(present);
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}

BENCHMARK(BM_TagLibMp3);
BENCHMARK(BM_EngineMp3);
BENCHMARK(BM_EngineWav);
BENCHMARK(BM_EngineM4a);
BENCHMARK(BM_Engine3gp);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithRatios(argc, argv, "BM_TagLibMp3"); }
