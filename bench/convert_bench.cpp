// A five-minute file converted by `Quillet --Convert` beside the equivalent
// `ffmpeg` command in the same run: WAV to AAC-LC 3GP at 128 kb/s, and an
// ATRAC3 OMA to PCM WAV. Each run is timed from process start to exit (the
// program's 500 ms polling of the library included) with output on
// /dev/null; a table of Quillet's time over FFmpeg's closes the output (the
// aim is at most 1.2). The WAV is generated; the ATRAC3 file repeats the
// frames of the real ATRAC3 sample (CQ_SAMPLES_DIR) to five minutes, and its
// row is left out without the sample. Run from a Release build:
//   build/<release>/bin/convert_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "medialib/core/atomic_save.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_writer.h"
#include "run_quiet.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

int Run(const std::vector<std::string>& words) { return benchrun::RunQuiet(words); }

struct Folder {
    fs::path path = fs::temp_directory_path() / ("cq-convert-bench-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const Folder& Work() {
    static Folder folder;
    return folder;
}

// Five minutes of a tone with noise, 44.1 kHz stereo 16-bit.
fs::path LongWav() {
    static const fs::path path = [] {
        const fs::path p = Work().path / "long.wav";
        Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=300", "-f",
             "lavfi", "-i", "anoisesrc=d=300:a=0.05", "-filter_complex", "amerge=inputs=2", "-c:a",
             "pcm_s16le", p.string()});
        return p;
    }();
    return path;
}

// The real ATRAC3 sample's frames repeated to five minutes; empty without it.
fs::path LongAtrac3() {
    static const fs::path path = []() -> fs::path {
        const char* env = std::getenv("CQ_SAMPLES_DIR");
        const fs::path sample =
            fs::path(env ? env : CQ_SAMPLES_DIR) / "atracdencU_test_atrac3_132k_noid3.oma";
        std::error_code ec;
        if (!fs::is_regular_file(sample, ec)) return {};
        std::vector<uint8_t> bytes(fs::file_size(sample));
        FILE* f = std::fopen(sample.c_str(), "rb");
        if (!f) return {};
        const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        const auto header = medialib::openmg::ParseEa3Header(std::span(bytes.data(), got));
        if (!header) return {};
        const uint32_t frame = (header->params & 0x3FF) * 8;
        const size_t frames = (got - medialib::openmg::kEa3HeaderSize) / frame;
        const auto start = medialib::openmg::RenderNewFileStart(*header);
        if (!start || frames == 0) return {};
        const size_t needed = static_cast<size_t>(300.0 * 44100 / 1024) + 1;
        const fs::path p = Work().path / "long.oma";
        const bool ok = medialib::WriteWholeFile(p, [&](int fd) {
            if (!medialib::WriteAll(fd, start->data(), start->size())) return false;
            for (size_t i = 0; i < needed; ++i) {
                const uint8_t* at = bytes.data() + medialib::openmg::kEa3HeaderSize + (i % frames) * frame;
                if (!medialib::WriteAll(fd, at, frame)) return false;
            }
            return true;
        });
        return ok ? p : fs::path();
    }();
    return path;
}

void Timed(benchmark::State& state, const std::vector<std::string>& words) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int code = Run(words);
        const auto end = std::chrono::steady_clock::now();
        if (code != 0) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

std::vector<std::string> Quillet(const fs::path& source, const std::string& type, const std::string& output,
                                 std::vector<std::string> more = {}) {
    std::vector<std::string> w = {
        (BinDir() / "Quillet").string(), "--Convert",    source.string(), "--FileType", type, "--Output",
        (Work().path / output).string(), "--ForceWrite", "--Quiet"};
    w.insert(w.end(), more.begin(), more.end());
    return w;
}

void WavToAac_Quillet(benchmark::State& state) {
    Timed(state, Quillet(LongWav(), "AACL", "q.3gp", {"--BitRate", "128000"}));
}
void WavToAac_ffmpeg(benchmark::State& state) {
    Timed(state, {"ffmpeg", "-v", "error", "-y", "-i", LongWav().string(), "-c:a", "aac", "-b:a", "128k",
                  (Work().path / "f.3gp").string()});
}
void Atrac3ToWav_Quillet(benchmark::State& state) {
    if (LongAtrac3().empty()) return state.SkipWithError("the real ATRAC3 sample is absent");
    Timed(state, Quillet(LongAtrac3(), "WAV", "q.wav"));
}
void Atrac3ToWav_ffmpeg(benchmark::State& state) {
    if (LongAtrac3().empty()) return state.SkipWithError("the real ATRAC3 sample is absent");
    Timed(state, {"ffmpeg", "-v", "error", "-y", "-i", LongAtrac3().string(), "-c:a", "pcm_s16le",
                  (Work().path / "f.wav").string()});
}

BENCHMARK(WavToAac_Quillet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(WavToAac_ffmpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Atrac3ToWav_Quillet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Atrac3ToWav_ffmpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Prints Quillet's time over FFmpeg's for each conversion once all have run
// (medians with --benchmark_repetitions).
class PairReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string base = name.substr(0, name.find("/"));
            if (median || (run.run_type == Run::RT_Iteration && !medians_.count(base))) {
                ms_[base] = run.GetAdjustedRealTime();
                if (median) medians_[base] = true;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-14s %12s %12s %8s\n", "conversion", "Quillet ms", "ffmpeg ms", "ratio");
        for (const char* pair : {"WavToAac", "Atrac3ToWav"}) {
            const auto q = ms_.find(std::string(pair) + "_Quillet");
            const auto f = ms_.find(std::string(pair) + "_ffmpeg");
            if (q == ms_.end() || f == ms_.end() || f->second <= 0) {
                std::printf("%-14s %12s %12s %8s\n", pair, "-", "-", "-");
                continue;
            }
            std::printf("%-14s %12.0f %12.0f %8.2f\n", pair, q->second, f->second, q->second / f->second);
        }
        std::printf("ratio = Quillet --Convert / ffmpeg, 5-minute file, same run (aim: at most 1.20)\n");
    }

  private:
    std::map<std::string, double> ms_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
