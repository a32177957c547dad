// Profile side-tag store lookups in a store of 50 000 side-tag files (about
// 200 per bucket on average, up to about 1 000 in the buckets the similar
// paths crowd into), made once in a temporary profile folder. Each lookup
// lists one bucket and reads the head and trailer of its candidates until
// one matches; a missing key reads them all. What a lookup read is kept for
// the next one (the trailer cache): the Existing and Missing cases measure
// lookups in a store this process has seen, as a player does after its first
// lookups; the FirstTime cases forget everything before each lookup.
//   build/default/bin/side_tag_lookup_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/tag_processor.h"
#include "plugin/tags/profile_store.h"
#include "plugin/tags/side_tag_settings.h"
#include "plugin/tags/trailer_cache.h"

namespace {

constexpr int kFiles = 50000;

std::u16string KeyOf(int i) {
    std::string path =
        "/HOME/USER/MUSIC/ARTIST " + std::to_string(i % 997) + "/TRACK " + std::to_string(i) + ".OMA";
    return std::u16string(path.begin(), path.end());
}

// The store, made on first use and removed at exit.
struct Store {
    std::filesystem::path folder;
    std::unique_ptr<playhost::Host> host;
    std::vector<std::u16string> keys;

    Store() {
        char pattern[] = "/tmp/side_tag_bench_XXXXXX";
        folder = ::mkdtemp(pattern);
        host = std::make_unique<playhost::Host>(folder / "profile");

        file_info_impl info;
        info.meta_set("title", "A title");
        info.meta_set("mood", "calm");
        replaygain_info rg;
        rg.m_track_gain = -6.5f;
        info.set_replaygain(rg);
        abort_callback_dummy abort;
        const std::string scratch = (folder / "scratch").string();
        {
            file_ptr f;
            filesystem::g_open_write_new(f, scratch.c_str(), abort);
            tag_write_callback_dummy none;
            tag_processor_id3v2::g_get()->write(f, info, none, abort);
        }
        std::ifstream in(scratch, std::ios::binary);
        const std::vector<char> tag((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

        std::vector<unsigned> next_name(256, 0);
        for (int i = 0; i < kFiles; ++i) {
            keys.push_back(KeyOf(i));
            const unsigned bucket = *corvina::ProfileBucketOf(keys.back().c_str());
            char relative[32];
            std::snprintf(relative, sizeof(relative), "%02X/%08X.tag", bucket, next_name[bucket]++);
            const std::filesystem::path path = folder / "profile" / "ID3v2" / relative;
            std::filesystem::create_directories(path.parent_path());
            std::ofstream out(path, std::ios::binary);
            out.write(tag.data(), static_cast<std::streamsize>(tag.size()));
            const std::vector<uint8_t> trailer = corvina::ProfileTrailer(keys.back().c_str());
            out.write(reinterpret_cast<const char*>(trailer.data()),
                      static_cast<std::streamsize>(trailer.size()));
        }
    }
    ~Store() {
        host.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Store& TheStore() {
    static Store store;
    return store;
}

void BM_LookupExisting(benchmark::State& state) {
    Store& store = TheStore();
    corvina::SideTagFlags flags;
    abort_callback_dummy abort;
    std::mt19937 random(7);
    std::string out;
    for (auto _ : state) {
        const std::u16string& key = store.keys[random() % store.keys.size()];
        if (!corvina::ResolveProfileTagPath(key.c_str(), false, out, flags, abort)) {
            state.SkipWithError("a stored key was not found");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupExisting)->Unit(benchmark::kMicrosecond);

void BM_LookupMissing(benchmark::State& state) {
    Store& store = TheStore();
    corvina::SideTagFlags flags;
    abort_callback_dummy abort;
    std::string out;
    int i = 0;
    for (auto _ : state) {
        const std::u16string key = KeyOf(kFiles + (i++ % 1000));
        if (corvina::ResolveProfileTagPath(key.c_str(), false, out, flags, abort)) {
            state.SkipWithError("a key that was never stored was found");
            break;
        }
    }
    (void)store;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupMissing)->Unit(benchmark::kMicrosecond);

// Lookups with nothing kept from before, as the first lookup in each bucket.
void LookupFirstTime(benchmark::State& state, bool existing) {
    Store& store = TheStore();
    corvina::SideTagFlags flags;
    abort_callback_dummy abort;
    std::mt19937 random(7);
    std::string out;
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        corvina::TrailerCache::Shared().Clear();
        const std::u16string key =
            existing ? store.keys[random() % store.keys.size()] : KeyOf(kFiles + (i++ % 1000));
        state.ResumeTiming();
        if (corvina::ResolveProfileTagPath(key.c_str(), false, out, flags, abort) != existing) {
            state.SkipWithError("a lookup answered wrongly");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_LookupExistingFirstTime(benchmark::State& state) { LookupFirstTime(state, true); }
void BM_LookupMissingFirstTime(benchmark::State& state) { LookupFirstTime(state, false); }
BENCHMARK(BM_LookupExistingFirstTime)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookupMissingFirstTime)->Unit(benchmark::kMicrosecond);

// The memory the trailer cache holds once every bucket has been looked in.
void BM_CacheSizeOfTheWholeStore(benchmark::State& state) {
    Store& store = TheStore();
    corvina::SideTagFlags flags;
    abort_callback_dummy abort;
    std::string out;
    for (auto _ : state) {
        corvina::TrailerCache::Shared().Clear();
        std::vector<bool> seen(256, false);
        // The last file of each bucket: its lookup reads every trailer there.
        for (auto key = store.keys.rbegin(); key != store.keys.rend(); ++key) {
            const unsigned bucket = *corvina::ProfileBucketOf(key->c_str());
            if (seen[bucket]) continue;
            seen[bucket] = true;
            corvina::ResolveProfileTagPath(key->c_str(), false, out, flags, abort);
        }
    }
    state.counters["cache_MiB"] = static_cast<double>(corvina::TrailerCache::Shared().bytes()) / (1 << 20);
    state.counters["folders"] = static_cast<double>(corvina::TrailerCache::Shared().folders());
}
BENCHMARK(BM_CacheSizeOfTheWholeStore)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
