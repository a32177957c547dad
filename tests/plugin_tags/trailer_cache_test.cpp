// The memory of side-tag buckets: a trailer answers only for an unchanged
// stamp, "no path" only up to the window it was read with, and the whole
// stays within its budget while threads take and put folders.
#include "plugin/tags/trailer_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using corvina::FileStamp;
using corvina::TrailerCache;

FileStamp Stamp(ino_t inode, off_t size, long changed_ns) {
    FileStamp stamp;
    stamp.device = 1;
    stamp.inode = inode;
    stamp.size = size;
    stamp.modified = {100, 5};
    stamp.changed = {100, changed_ns};
    return stamp;
}

TrailerCache::Folder OneFile(const std::string& name, std::optional<std::u16string> stored) {
    TrailerCache::Folder folder;
    folder.stamp = Stamp(1, 4096, 1);
    folder.files.push_back({name, true, TrailerCache::Known{Stamp(7, 1000, 1), std::move(stored), 65540}});
    return folder;
}

TEST(TrailerCache, AKnownTrailerAnswersOnlyWhileTheStampIsTheSame) {
    const TrailerCache::Known known = *OneFile("00000000.tag", u"D:\\MUSIC\\A.OMA").files[0].known;
    EXPECT_TRUE(TrailerCache::Answers(known, Stamp(7, 1000, 1), 65540));
    EXPECT_FALSE(TrailerCache::Answers(known, Stamp(8, 1000, 1), 65540));  // renamed into place
    EXPECT_FALSE(TrailerCache::Answers(known, Stamp(7, 1002, 1), 65540));  // grown
    EXPECT_FALSE(TrailerCache::Answers(known, Stamp(7, 1000, 2), 65540));  // written in place
    FileStamp other = Stamp(7, 1000, 1);
    other.modified.tv_nsec = 6;
    EXPECT_FALSE(TrailerCache::Answers(known, other, 65540));
    other = Stamp(7, 1000, 1);
    other.device = 2;
    EXPECT_FALSE(TrailerCache::Answers(known, other, 65540));
    // A path that was found stands for any window.
    EXPECT_TRUE(TrailerCache::Answers(known, Stamp(7, 1000, 1), 1 << 20));
}

TEST(TrailerCache, NoPathStandsOnlyForWindowsNoLargerThanTheOneRead) {
    const TrailerCache::Known none = *OneFile("odd.tag", std::nullopt).files[0].known;
    EXPECT_TRUE(TrailerCache::Answers(none, Stamp(7, 1000, 1), 65540));
    EXPECT_TRUE(TrailerCache::Answers(none, Stamp(7, 1000, 1), 520));
    EXPECT_FALSE(TrailerCache::Answers(none, Stamp(7, 1000, 1), 80000));
}

TEST(TrailerCache, AFolderIsOutWhileALookupHasIt) {
    TrailerCache cache(1 << 20);
    cache.Put("/bucket", OneFile("00000000.tag", u"/A.OMA"));
    TrailerCache::Folder taken = cache.Take("/bucket");
    ASSERT_EQ(taken.files.size(), 1u);
    EXPECT_EQ(*taken.files[0].known->stored, u"/A.OMA");
    EXPECT_TRUE(cache.Take("/bucket").files.empty());
    EXPECT_EQ(cache.bytes(), 0u);
    cache.Put("/bucket", std::move(taken));
    EXPECT_EQ(cache.folders(), 1u);
    cache.Put("/bucket", OneFile("00000001.tag", u"/B.OMA"));  // a later lookup's answer replaces it
    EXPECT_EQ(cache.folders(), 1u);
    EXPECT_EQ(cache.Take("/bucket").files[0].name, "00000001.tag");
}

TEST(TrailerCache, StaysWithinItsBudgetForgettingTheLeastRecentFolder) {
    const size_t folder_cost = TrailerCache::CostOf("/b/00", OneFile("00000000.tag", u"/A/B.OMA"));
    TrailerCache cache(3 * folder_cost);
    for (const char* name : {"/b/00", "/b/01", "/b/02"})
        cache.Put(name, OneFile("00000000.tag", u"/A/B.OMA"));
    EXPECT_EQ(cache.folders(), 3u);
    EXPECT_LE(cache.bytes(), 3 * folder_cost);
    cache.Put("/b/00", cache.Take("/b/00"));  // used again: now the most recent
    cache.Put("/b/03", OneFile("00000000.tag", u"/A/B.OMA"));
    EXPECT_EQ(cache.folders(), 3u);
    EXPECT_TRUE(cache.Take("/b/01").files.empty()) << "the least recently used folder goes first";
    EXPECT_FALSE(cache.Take("/b/00").files.empty());
    // An empty folder, or one larger than the whole budget, is not kept.
    cache.Put("/b/04", {});
    TrailerCache::Folder huge = OneFile("00000000.tag", u"/A/B.OMA");
    for (int i = 0; i < 10; ++i) huge.files.push_back(huge.files.front());
    cache.Put("/b/05", std::move(huge));
    EXPECT_TRUE(cache.Take("/b/04").files.empty());
    EXPECT_TRUE(cache.Take("/b/05").files.empty());
    EXPECT_LE(cache.bytes(), 3 * folder_cost);
}

TEST(TrailerCache, ThreadsTakeAndPutFoldersTogether) {
    TrailerCache cache(64 << 10);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string folder = "/b/" + std::to_string((i + t) % 40);
                TrailerCache::Folder known = cache.Take(folder);
                if (known.files.size() < 30)
                    known.files.push_back({"f" + std::to_string(i), true, std::nullopt});
                cache.Put(folder, std::move(known));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_LE(cache.bytes(), size_t{64} << 10);
    EXPECT_GT(cache.folders(), 0u);
    for (int f = 0; f < 40; ++f) cache.Take("/b/" + std::to_string(f));
    EXPECT_EQ(cache.bytes(), 0u);
    EXPECT_EQ(cache.folders(), 0u);
}

}  // namespace
