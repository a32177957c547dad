// Reading a file's information as the player does, per file: the loaded
// corvina.so (through playhost::Host) opens each of 1000 tagged OMA files
// for info reading and fills a file_info (library attributes, technical
// values, side-tag lookup with the switches off), beside TagLib reading the
// tags and audio properties of 1000 tagged MP3 files. Both sets are made
// once in a temporary folder: the OMA files by the engine's demo writer, the
// MP3 by the ffmpeg command (copied 1000 times and tagged with TagLib).
//   build/<release>/bin/plugin_info_bench
// "per_file" is the time for one file; the ratio of the two is the price of
// going through the component and the media library.
#include <benchmark/benchmark.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "host/core/host.h"
#include "host/sdk/input.h"
#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 1000;

fs::path ProgramDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

std::u16string Text(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The two file sets and the host with the component, made on first use and
// removed at exit.
struct Corpus {
    fs::path folder;
    std::vector<std::string> oma;
    std::vector<std::string> mp3;
    std::unique_ptr<playhost::Host> host;
    service_ptr_t<input_entry> input;

    Corpus() {
        char pattern[] = "/tmp/plugin_info_bench_XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
        folder = pattern;
        fs::create_directories(folder / "oma");
        fs::create_directories(folder / "mp3");

        for (int i = 0; i < kFiles; ++i) {
            medialib::openmg::DemoOmaOptions options;
            options.tags[medialib::attr::Title] = {Text("Track " + std::to_string(i))};
            options.tags[medialib::attr::Artist] = {Text("Artist " + std::to_string(i % 37))};
            options.tags[medialib::attr::Album] = {Text("Album " + std::to_string(i % 91))};
            options.tags[medialib::attr::Genre] = {Text("Ambient")};
            options.tags[medialib::attr::TrackNumber] = {int32_t{i % 20 + 1}};
            const fs::path path = folder / "oma" / ("track" + std::to_string(i) + ".oma");
            if (!medialib::openmg::WriteDemoOma(path, 0.05, options)) throw std::runtime_error("demo writer");
            oma.push_back(path.string());
        }

        const fs::path seed = folder / "seed.mp3";
        const std::string command =
            "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=0.5 -ac 2 "
            "-c:a libmp3lame -b:a 128k '" +
            seed.string() + "'";
        if (std::system(command.c_str()) != 0 || !fs::exists(seed)) throw std::runtime_error("ffmpeg");
        for (int i = 0; i < kFiles; ++i) {
            const fs::path path = folder / "mp3" / ("track" + std::to_string(i) + ".mp3");
            fs::copy_file(seed, path);
            TagLib::MPEG::File file(path.c_str());
            TagLib::Tag* tag = file.tag();
            tag->setTitle(TagLib::String("Track " + std::to_string(i), TagLib::String::UTF8));
            tag->setArtist(TagLib::String("Artist " + std::to_string(i % 37), TagLib::String::UTF8));
            tag->setAlbum(TagLib::String("Album " + std::to_string(i % 91), TagLib::String::UTF8));
            tag->setGenre("Ambient");
            tag->setTrack(static_cast<unsigned>(i % 20 + 1));
            if (!file.save(TagLib::MPEG::File::ID3v2)) throw std::runtime_error("TagLib save");
            mp3.push_back(path.string());
        }

        host = std::make_unique<playhost::Host>(folder / "profile");
        host->LoadComponent(ProgramDir() / "corvina.so");
        host->Start();
        auto inputs = host->Services<input_entry>();
        if (inputs.empty()) throw std::runtime_error("no input in corvina.so");
        input = inputs[0];
    }
    ~Corpus() {
        input.release();
        host.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

Corpus& TheCorpus() {
    static Corpus corpus;
    return corpus;
}

void PerFile(benchmark::State& state) {
    state.counters["per_file"] = benchmark::Counter(
        kFiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_CorvinaGetInfo(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    abort_callback_dummy abort;
    size_t fields = 0;
    for (auto _ : state) {
        for (const std::string& path : corpus.oma) {
            service_ptr_t<input_info_reader> reader;
            corpus.input->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
            file_info_impl info;
            reader->get_info(0, info, abort);
            fields += info.meta_get_count() + info.info_get_count();
        }
    }
    benchmark::DoNotOptimize(fields);
    if (fields != static_cast<size_t>(state.iterations()) * kFiles * 12)
        state.SkipWithError("unexpected fields");
    PerFile(state);
}
BENCHMARK(BM_CorvinaGetInfo)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TagLibMp3Tags(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    size_t fields = 0;
    for (auto _ : state) {
        for (const std::string& path : corpus.mp3) {
            TagLib::MPEG::File file(path.c_str(), true, TagLib::AudioProperties::Average);
            fields += file.properties().size();
            if (const TagLib::AudioProperties* audio = file.audioProperties())
                fields += audio->lengthInMilliseconds() > 0 && audio->sampleRate() > 0 ? 1 : 0;
        }
    }
    benchmark::DoNotOptimize(fields);
    PerFile(state);
}
BENCHMARK(BM_TagLibMp3Tags)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithRatios(argc, argv, "BM_TagLibMp3Tags"); }
