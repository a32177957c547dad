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
#include "library/media_ids.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"

namespace attr = medialib::attr;

namespace {

namespace fs = std::filesystem;

// The ids of the console program's attribute listing (with fallbacks).
constexpr uint32_t kListing[] = {attr::Title,          attr::SortTitle,
                                 attr::Subtitle,       attr::SortSubtitle,
                                 attr::Artist,         attr::SortArtist,
                                 attr::ArtistURL,      attr::Album,
                                 attr::AlbumAlt,       attr::SortAlbum,
                                 attr::AlbumArtist,    attr::SortAlbumArtist,
                                 attr::Genre,          attr::Composer,
                                 attr::Lyricist,       attr::TrackNumber,
                                 attr::TrackNumberAlt, attr::TotalTracks,
                                 attr::Release,        attr::ReleaseYear,
                                 attr::Import,         attr::Duration,
                                 attr::MilliSecond,    attr::Size,
                                 attr::Format,         attr::Codec,
                                 attr::BitRate,        attr::BitRateAlt,
                                 attr::Frequency,      attr::BitDepth,
                                 attr::BitDepthAlt,    attr::Channel,
                                 attr::Location,       attr::Extension,
                                 attr::LyricsText,     attr::LyricsPicture,
                                 attr::LinerNotesText, attr::LinerNotesPicture,
                                 attr::Jacket,         attr::JacketAlt};

// The generated files live for one run of the benchmark program and go with it.
struct ScratchFolder {
    fs::path path = fs::temp_directory_path() / ("cq-bench-" + std::to_string(::getpid()));
    ScratchFolder() { fs::create_directories(path); }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

const fs::path& Folder() {
    static const ScratchFolder folder;
    return folder.path;
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

// TagLib alone on the file the engine benchmark opens: tags and audio
// properties, which is what a plain tag reader does.
void TagLibRead(benchmark::State& state, const fs::path& file) {
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

void BM_TagLibMp3(benchmark::State& s) { TagLibRead(s, Make("b.mp3", "-c:a libmp3lame -b:a 128k")); }
void BM_TagLibWav(benchmark::State& s) { TagLibRead(s, Make("b.wav", "-c:a pcm_s16le")); }
void BM_TagLibM4a(benchmark::State& s) { TagLibRead(s, Make("b.m4a", "-c:a aac -b:a 128k")); }
void BM_TagLib3gp(benchmark::State& s) { TagLibRead(s, Make("b.3gp", "-c:a aac -b:a 128k -f 3gp")); }

BENCHMARK(BM_TagLibMp3);
BENCHMARK(BM_EngineMp3);
BENCHMARK(BM_EngineWav);
BENCHMARK(BM_EngineM4a);
BENCHMARK(BM_Engine3gp);
BENCHMARK(BM_TagLibWav);
BENCHMARK(BM_TagLibM4a);
BENCHMARK(BM_TagLib3gp);

}  // namespace

// The ratio column divides by TagLib on the MP3 (as this benchmark always
// did); the last column by TagLib reading the very file the engine opened.
int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv, "BM_TagLibMp3",
                                {{"BM_EngineMp3", "BM_TagLibMp3"},
                                 {"BM_EngineWav", "BM_TagLibWav"},
                                 {"BM_EngineM4a", "BM_TagLibM4a"},
                                 {"BM_Engine3gp", "BM_TagLib3gp"}});
}
