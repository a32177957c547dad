// One whole console run, `Quillet --Get --Quiet FILE`, from process start to
// exit, beside `ffprobe -v quiet FILE` on the same file: both start a process,
// load their libraries, open the file and read its header and tags, so the
// ratio says what the program's start-up (COM, picture services, registry,
// library module) and the library's open cost against FFmpeg's own probe.
// `Quillet --Get FILE` with the attribute listing is measured as well, since
// the listing decodes the jacket picture. The second peer is python3 reading
// the file's tags with mutagen (Debian's python3-mutagen): mutagen.File for
// MP3 and M4A, and for OpenMG the ea3 tag, which is ID3v2 under another magic,
// parsed by mutagen's ID3 reader.
//
// Files: the real samples when their folder is there (CQ_SAMPLES_DIR), always
// two generated OMA files, one plain and one with a 600 x 600 JPEG jacket, and
// a tagged MP3 and M4A that the ffmpeg command makes when it is on PATH. Each run is timed by hand around
// posix_spawn and waitpid, output to /dev/null, after a short warm-up that brings the files and libraries
// into the page cache. A table of the ratios closes the output; with
// --benchmark_repetitions=N it is made of the medians. Run from a Release build:
//   build/<release>/bin/quillet_get_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"
#include "platform/imaging/gdiplus.h"
#include "platform/text/text.h"
#include "run_quiet.h"

namespace attr = medialib::attr;

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// The first executable named `name` on PATH; empty when there is none.
fs::path FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const fs::path candidate = fs::path(list.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

int Run(const std::vector<std::string>& words) { return benchrun::RunQuiet(words); }

void RunProgram(benchmark::State& state, std::vector<std::string> words) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int code = Run(words);
        const auto end = std::chrono::steady_clock::now();
        if (code < 0) {
            state.SkipWithError("the program could not be run");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

// A JPEG of a colour gradient through the picture services.
std::vector<uint8_t> MakeJpeg(INT width, INT height) {
    std::vector<uint8_t> bytes;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return bytes;
    CLSID jpeg{};
    UINT count = 0, size = 0;
    GdipGetImageEncodersSize(&count, &size);
    std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (size != 0 && GdipGetImageEncoders(count, size, encoders) == Gdiplus::Ok) {
        for (UINT i = 0; i < count; ++i)
            if (encoders[i].MimeType && lstrcmpiW(encoders[i].MimeType, u"image/jpeg") == 0)
                jpeg = encoders[i].Clsid;
    }
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, Gdiplus::PixelFormat32bppARGB, nullptr, &bitmap) ==
        Gdiplus::Ok) {
        for (INT y = 0; y < height; ++y)
            for (INT x = 0; x < width; ++x)
                GdipBitmapSetPixel(bitmap, x, y,
                                   0xFF000000u | static_cast<uint32_t>(x % 256) << 16 |
                                       static_cast<uint32_t>(y % 256) << 8 | 0x40u);
        IStream* stream = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
            GdipSaveImageToStream(bitmap, stream, &jpeg, nullptr) == Gdiplus::Ok) {
            STATSTG stat{};
            stream->Stat(&stat, STATFLAG_NONAME);
            bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
            LARGE_INTEGER zero{};
            stream->Seek(zero, STREAM_SEEK_SET, nullptr);
            ULONG read = 0;
            stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
            bytes.resize(read);
        }
        if (stream) stream->Release();
        GdipDisposeImage(bitmap);
    }
    GdiplusShutdown(token);
    return bytes;
}

struct Folder {
    fs::path path = fs::temp_directory_path() / ("cq-quillet-bench-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// python3 with mutagen: the system's interpreter (the one Debian's
// python3-mutagen is installed for) before whatever PATH finds first.
std::string MutagenPython() {
    for (const char* candidate : {"/usr/bin/python3", "/bin/python3"})
        if (access(candidate, X_OK) == 0 && Run({candidate, "-c", "import mutagen"}) == 0) return candidate;
    const fs::path found = FindOnPath("python3");
    if (!found.empty() && Run({found.string(), "-c", "import mutagen"}) == 0) return found.string();
    return {};
}

// Reads the tags of argv[1] and prints them (to /dev/null in the runs).
constexpr const char* kMutagenScript = R"(import io, sys
import mutagen, mutagen.id3
path = sys.argv[1]
with open(path, "rb") as f:
    head = f.read(10)
    if head[:3] == b"ea3" and len(head) == 10:
        size = (head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9]
        tag = b"ID3" + head[3:] + f.read(size)
        print(mutagen.id3.ID3(io.BytesIO(tag)).pprint())
    else:
        found = mutagen.File(path)
        print(found.pprint() if found else "")
)";

std::vector<fs::path> BenchFiles(const Folder& folder) {
    std::vector<fs::path> files;
    const char* samples_env = std::getenv("CQ_SAMPLES_DIR");
    const fs::path samples = samples_env ? fs::path(samples_env) : fs::path(CQ_SAMPLES_DIR);
    std::error_code ec;
    if (fs::is_directory(samples, ec)) {
        for (const auto& entry : fs::directory_iterator(samples, ec)) {
            const auto ext = entry.path().extension();
            if (ext == ".oma" || ext == ".omg" || ext == ".at3") files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
        std::fprintf(stderr, "real samples not found in %s: generated files only\n", samples.c_str());

    medialib::openmg::DemoOmaOptions plain;
    plain.tags[medialib::attr::Title] = {std::u16string(u"Tone")};
    plain.tags[medialib::attr::Artist] = {std::u16string(u"Quillet")};
    if (medialib::openmg::WriteDemoOma(folder.path / "generated_tone.oma", 10.0, plain))
        files.push_back(folder.path / "generated_tone.oma");
    medialib::openmg::DemoOmaOptions jacket = plain;
    auto picture = std::make_shared<medialib::PictureData>();
    picture->mime = "image/jpeg";
    picture->bytes = MakeJpeg(600, 600);
    jacket.tags[attr::Jacket] = {picture};
    if (!picture->bytes.empty() &&
        medialib::openmg::WriteDemoOma(folder.path / "generated_jacket.oma", 10.0, jacket))
        files.push_back(folder.path / "generated_jacket.oma");
    // MP3 and M4A: their stream values come from the engine's FFmpeg part.
    if (!FindOnPath("ffmpeg").empty()) {
        for (const auto& [name, codec] :
             {std::pair<const char*, const char*>{"generated_tone.mp3", "libmp3lame"},
              std::pair<const char*, const char*>{"generated_tone.m4a", "aac"}}) {
            const fs::path out = folder.path / name;
            if (Run({"ffmpeg",
                     "-nostdin",
                     "-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     "sine=frequency=440:sample_rate=44100:duration=10",
                     "-ac",
                     "2",
                     "-c:a",
                     codec,
                     "-b:a",
                     "128k",
                     "-metadata",
                     "title=Tone",
                     "-metadata",
                     "artist=Quillet",
                     out.string()}) == 0)
                files.push_back(out);
        }
    }
    return files;
}

// Keeps each benchmark's mean time per run and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median stands for the benchmark;
        // otherwise its one run does.
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times_[name] = run.GetAdjustedRealTime();
                medians_[name] = true;
            } else if (run.run_type == Run::RT_Iteration && run.iterations != 0 && !medians_.count(name)) {
                times_[name] = run.GetAdjustedRealTime();  // in the run's time unit (ms)
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-52s %10s %10s %10s %10s %8s %8s %8s\n", "file", "--Quiet ms", "listing ms",
                    "ffprobe ms", "mutagen ms", "ratio", "listing", "mutagen");
        for (const auto& [file, unused] : files_) {
            const double quiet = Time("Get/Quillet_quiet/" + file);
            const double listing = Time("Get/Quillet_listing/" + file);
            const double probe = Time("Get/ffprobe/" + file);
            const double mutagen = Time("Get/mutagen/" + file);
            std::printf("%-52s %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f %8.2f\n", file.c_str(), quiet, listing,
                        probe, mutagen, probe > 0 ? quiet / probe : 0.0, probe > 0 ? listing / probe : 0.0,
                        mutagen > 0 ? quiet / mutagen : 0.0);
        }
        std::printf(
            "ratio = Quillet --Quiet time / ffprobe time, listing = Quillet listing time / ffprobe time,\n"
            "mutagen = Quillet --Quiet time / python3 mutagen time (below 1: Quillet is faster)\n");
    }
    void AddFile(const std::string& name) { files_[name] = true; }

  private:
    double Time(const std::string& name) const {
        for (const auto& [key, value] : times_)
            if (key.rfind(name, 0) == 0) return value;
        return 0;
    }
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
    std::map<std::string, bool> files_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string quillet = (BinDir() / "Quillet").string();
    const std::string ffprobe = FindOnPath("ffprobe").string();
    if (access(quillet.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "%s is missing: build the Quillet target first\n", quillet.c_str());
        return 1;
    }
    if (ffprobe.empty()) std::fprintf(stderr, "ffprobe not found on PATH: it is not measured\n");
    const std::string python = MutagenPython();
    if (python.empty()) std::fprintf(stderr, "python3 with mutagen not found: it is not measured\n");

    Folder folder;
    RatioReporter reporter;
    for (const fs::path& file : BenchFiles(folder)) {
        const std::string name = file.filename().string();
        reporter.AddFile(name);
        benchmark::RegisterBenchmark(("Get/Quillet_quiet/" + name).c_str(), RunProgram,
                                     std::vector<std::string>{quillet, "--Get", "--Quiet", file.string()})
            ->UseManualTime()
            ->MinWarmUpTime(0.1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Get/Quillet_listing/" + name).c_str(), RunProgram,
                                     std::vector<std::string>{quillet, "--Get", file.string()})
            ->UseManualTime()
            ->MinWarmUpTime(0.1)
            ->Unit(benchmark::kMillisecond);
        if (!ffprobe.empty()) {
            benchmark::RegisterBenchmark(("Get/ffprobe/" + name).c_str(), RunProgram,
                                         std::vector<std::string>{ffprobe, "-v", "quiet", file.string()})
                ->UseManualTime()
                ->MinWarmUpTime(0.1)
                ->Unit(benchmark::kMillisecond);
        }
        if (!python.empty()) {
            benchmark::RegisterBenchmark(
                ("Get/mutagen/" + name).c_str(), RunProgram,
                std::vector<std::string>{python, "-c", kMutagenScript, file.string()})
                ->UseManualTime()
                ->MinWarmUpTime(0.1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
