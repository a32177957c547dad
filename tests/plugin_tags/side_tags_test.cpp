// Loading and saving side tags through both places: the order of the load
// attempts, saves with and without content, the exact bytes of a profile
// file, long paths, and saves that fail half-way.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>

#include "host/sdk/tag_processor.h"
#include "platform/text/text.h"
#include "side_tag_fixture.h"
#include "support/taglib_id3v2.h"
#include "throw_counter.h"

namespace {

using corvina::LoadSideTags;
using corvina::SaveSideTags;
using sidetagtest::SideTagStore;

class SideTags : public SideTagStore {
  protected:
    std::filesystem::path audio = MakeAudio("Music/Track.oma");
    std::string host_path = HostPath(audio);
    std::u16string key = KeyOf(audio);
    std::filesystem::path stream_file = audio.string() + ":ID3v2.tag";

    void Save(const file_info& info) { SaveSideTags(info, host_path.c_str(), key.c_str(), flags, abort); }
    file_info_impl Load() {
        file_info_impl info;
        LoadSideTags(info, host_path.c_str(), key.c_str(), flags, abort);
        return info;
    }
    // The single profile side-tag file of the key, or an empty path.
    std::filesystem::path ProfileFile() {
        const auto files = BucketFiles(key);
        if (files.size() != 1) return {};
        return BucketFolder(key) / files.front();
    }
    void PutBoth(const std::string& stream_title, const std::string& profile_title) {
        flags = {};
        flags.ntfs_stream = true;
        Save(Titled(stream_title));
        flags = {};
        flags.user_profile = true;
        Save(Titled(profile_title));
        flags = {};
    }
    std::string LoadedTitle() {
        const file_info_impl info = Load();
        const char* title = info.meta_get("title", 0);
        return title ? title : "";
    }
};

TEST_F(SideTags, StreamFileIsHostPathPlusStreamName) {
    flags.ntfs_stream = true;
    file_info_impl info = Titled("in the stream");
    info.meta_set("mood", "calm");
    Save(info);
    ASSERT_TRUE(std::filesystem::exists(stream_file));
    // The tag and nothing else.
    const auto bytes = testsupport::ReadBytes(stream_file);
    EXPECT_EQ(bytes, TagBytes(info));
    EXPECT_FALSE(std::filesystem::exists(StoreRoot()));
    EXPECT_EQ(std::string(Load().meta_get("mood", 0)), "calm");
}

// A read-only side-tag file is refused for every user (root included) and
// keeps what it held; no pending file is left beside it.
TEST_F(SideTags, ReadOnlySideTagFilesAreNotReplaced) {
    flags.ntfs_stream = true;
    flags.user_profile = true;
    Save(Titled("first"));
    const std::filesystem::path profile_file = ProfileFile();
    ASSERT_FALSE(profile_file.empty());
    for (const std::filesystem::path& f : {stream_file, profile_file}) {
        std::filesystem::permissions(f,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    }
    EXPECT_THROW(Save(Titled("second")), exception_io_denied);
    flags.ntfs_stream = false;
    EXPECT_THROW(Save(Titled("second")), exception_io_denied);
    flags.ntfs_stream = true;
    EXPECT_EQ(LoadedTitle(), "first");
    flags.ntfs_stream = false;
    EXPECT_EQ(LoadedTitle(), "first");
    EXPECT_FALSE(std::filesystem::exists(stream_file.string() + ".new"));
    EXPECT_FALSE(std::filesystem::exists(profile_file.string() + ".new"));
}

// A save killed between writing "<name>.new" and renaming it leaves the
// pending file; the next save of the same side-tag file does not leave it.
TEST_F(SideTags, StalePendingFilesAreClearedByTheNextSave) {
    flags.ntfs_stream = true;
    flags.user_profile = true;
    Save(Titled("first"));
    const std::filesystem::path profile_file = ProfileFile();
    ASSERT_FALSE(profile_file.empty());
    for (const std::filesystem::path& f : {stream_file, profile_file})
        testsupport::WriteText(f.string() + ".new", "left by a killed save");
    Save(Titled("second"));
    EXPECT_FALSE(std::filesystem::exists(stream_file.string() + ".new"));
    EXPECT_FALSE(std::filesystem::exists(profile_file.string() + ".new"));
    for (const std::filesystem::path& f : {stream_file, profile_file})
        testsupport::WriteText(f.string() + ".new", "left by a killed save");
    Save(file_info_impl());  // no content: both side-tag files go, and their leftovers
    EXPECT_FALSE(std::filesystem::exists(stream_file));
    EXPECT_FALSE(std::filesystem::exists(stream_file.string() + ".new"));
    EXPECT_FALSE(std::filesystem::exists(profile_file));
    EXPECT_FALSE(std::filesystem::exists(profile_file.string() + ".new"));
    EXPECT_EQ(LoadedTitle(), "");
}

TEST_F(SideTags, LoadOrderPrefersTheSwitchedOnPlace) {
    PutBoth("stream", "profile");
    flags.ntfs_stream = true;
    flags.user_profile = true;
    EXPECT_EQ(LoadedTitle(), "stream");
    flags.ntfs_stream = false;
    EXPECT_EQ(LoadedTitle(), "profile");
    flags.user_profile = false;
    EXPECT_EQ(LoadedTitle(), "stream");  // neither on: the stream first
    flags.ntfs_stream = true;
    EXPECT_EQ(LoadedTitle(), "stream");
}

TEST_F(SideTags, LoadFallsBackToTheOtherPlace) {
    flags.user_profile = true;
    Save(Titled("profile only"));
    flags = {};
    flags.ntfs_stream = true;
    EXPECT_EQ(LoadedTitle(), "profile only");  // attempt 4 with the profile off
    flags = {};
    EXPECT_EQ(LoadedTitle(), "profile only");

    std::filesystem::remove_all(StoreRoot());
    flags.ntfs_stream = true;
    Save(Titled("stream only"));
    flags = {};
    flags.user_profile = true;
    EXPECT_EQ(LoadedTitle(), "stream only");             // attempt 3
    EXPECT_FALSE(std::filesystem::exists(StoreRoot()));  // the lookup made no folder
}

TEST_F(SideTags, LoadLeavesARecordThatIsNotEmpty) {
    PutBoth("stream", "profile");
    flags.ntfs_stream = flags.user_profile = true;
    for (int kind = 0; kind < 3; ++kind) {
        file_info_impl info;
        if (kind == 0) info.meta_set("artist", "library");
        if (kind == 1) info.info_set("codec", "ATRAC3");
        if (kind == 2) {
            replaygain_info rg;
            rg.m_album_peak = 0.5f;
            info.set_replaygain(rg);
        }
        LoadSideTags(info, host_path.c_str(), key.c_str(), flags, abort);
        EXPECT_FALSE(info.meta_exists("title")) << kind;
    }
}

TEST_F(SideTags, LoadWithNothingStoredGivesNothing) {
    flags.ntfs_stream = flags.user_profile = flags.clean = true;
    const file_info_impl info = Load();
    EXPECT_EQ(info.meta_get_count(), 0u);
    file_info_impl no_key;
    LoadSideTags(no_key, host_path.c_str(), nullptr, flags, abort);
    EXPECT_EQ(no_key.meta_get_count(), 0u);
}

// "Not there" is the usual answer of every place, and it comes back as a
// value: no exception is thrown and caught on the way, with the store
// missing, empty or holding only other files' side tags.
TEST_F(SideTags, LoadWithNothingStoredThrowsNothing) {
    {
        const uint64_t start = sidetagtest::ExceptionsThrown();
        try {
            throw exception_io_not_found();
        } catch (const exception_io&) {
        }
        ASSERT_EQ(sidetagtest::ExceptionsThrown(), start + 1) << "the count sees this program's throws";
    }
    for (bool user_profile : {false, true}) {
        flags.ntfs_stream = !user_profile;
        flags.user_profile = user_profile;
        const uint64_t before = sidetagtest::ExceptionsThrown();
        EXPECT_EQ(Load().meta_get_count(), 0u);
        EXPECT_EQ(sidetagtest::ExceptionsThrown(), before) << "no store root";
    }
    std::filesystem::create_directories(BucketFolder(key));
    uint64_t before = sidetagtest::ExceptionsThrown();
    EXPECT_EQ(Load().meta_get_count(), 0u);
    EXPECT_EQ(sidetagtest::ExceptionsThrown(), before) << "an empty bucket";
    Plant(key, "00000000.tag", u"/ELSEWHERE/OTHER.OMA", Titled("other"));
    before = sidetagtest::ExceptionsThrown();
    EXPECT_EQ(Load().meta_get_count(), 0u);
    EXPECT_EQ(sidetagtest::ExceptionsThrown(), before) << "another file's side tag";
    // An error that is not "not there" still reaches the caller.
    const std::filesystem::path blocked = BucketFolder(key) / "00000001.tag";
    Plant(key, "00000001.tag", key, Titled("mine"));
    std::filesystem::permissions(blocked, std::filesystem::perms::none);
    if (::geteuid() != 0) {
        file_info_impl info;
        EXPECT_THROW(LoadSideTags(info, host_path.c_str(), key.c_str(), flags, abort), exception_io_denied);
    }
    std::filesystem::permissions(blocked, std::filesystem::perms::owner_all);
    EXPECT_STREQ(Load().meta_get("title", 0), "mine");
}

// A side-tag file whose tag does not parse must not make a good audio file
// unreadable: it is ignored (and left in place for the next save to replace),
// and the next place is tried.
TEST_F(SideTags, DamagedSideTagFilesAreIgnoredAndKept) {
    testsupport::WriteText(stream_file, "not a tag");
    flags.ntfs_stream = true;
    file_info_impl info;
    EXPECT_NO_THROW(LoadSideTags(info, host_path.c_str(), key.c_str(), flags, abort));
    EXPECT_EQ(info.meta_get_count(), 0u);
    EXPECT_TRUE(std::filesystem::exists(stream_file));

    // A profile file whose key path matches but whose tag claims more bytes
    // than it holds.
    std::vector<uint8_t> damaged = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x7F, 0x7F, 'T', 'I', 'T', '2'};
    const std::vector<uint8_t> trailer = corvina::ProfileTrailer(key.c_str());
    damaged.insert(damaged.end(), trailer.begin(), trailer.end());
    std::filesystem::create_directories(BucketFolder(key));
    const auto profile_file = BucketFolder(key) / "00000000.tag";
    testsupport::WriteBytes(profile_file, damaged);
    flags.user_profile = true;
    EXPECT_NO_THROW(LoadSideTags(info, host_path.c_str(), key.c_str(), flags, abort));
    EXPECT_EQ(info.meta_get_count(), 0u);
    EXPECT_TRUE(testsupport::ReadBytes(profile_file) == damaged);

    // The next save replaces the damaged profile file; with the stream file
    // still damaged, the load goes on to the profile place and finds it.
    flags = {};
    flags.user_profile = true;
    Save(Titled("from the profile"));
    EXPECT_EQ(BucketFiles(key), std::vector<std::string>{"00000000.tag"});
    flags.ntfs_stream = true;
    EXPECT_EQ(LoadedTitle(), "from the profile");
}

TEST_F(SideTags, SaveWithAndWithoutContentPerPlace) {
    file_info_impl content = Titled("t");
    file_info_impl rg_only;
    replaygain_info rg;
    rg.m_track_gain = -2;
    rg_only.set_replaygain(rg);
    file_info_impl nothing;
    nothing.info_set("codec", "ATRAC3");  // technical info is no content
    nothing.set_length(3);

    // Neither place on: nothing is written or removed.
    Save(content);
    EXPECT_FALSE(std::filesystem::exists(stream_file));
    EXPECT_FALSE(std::filesystem::exists(StoreRoot()));

    flags.ntfs_stream = true;
    Save(rg_only);
    EXPECT_TRUE(std::filesystem::exists(stream_file));
    EXPECT_EQ(Load().get_replaygain(), rg);
    Save(nothing);
    EXPECT_FALSE(std::filesystem::exists(stream_file));
    EXPECT_NO_THROW(Save(nothing));  // nothing there to remove

    flags = {};
    flags.user_profile = true;
    Save(content);
    const auto first = ProfileFile();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.filename(), "00000000.tag");
    Save(rg_only);
    EXPECT_EQ(ProfileFile(), first);  // overwritten in place, same name
    EXPECT_EQ(Load().get_replaygain(), rg);
    EXPECT_EQ(Load().meta_get_count(), 0u);
    Save(nothing);
    EXPECT_TRUE(BucketFiles(key).empty());
    EXPECT_NO_THROW(Save(nothing));

    // Without a key path the profile place is skipped.
    SaveSideTags(content, host_path.c_str(), nullptr, flags, abort);
    EXPECT_TRUE(BucketFiles(key).empty());
}

TEST_F(SideTags, ProfileFileLayoutBytes) {
    flags.user_profile = true;
    file_info_impl info = Titled("Layout ✓");
    info.meta_set("mood", "exact");
    replaygain_info rg;
    rg.m_album_gain = -6.5f;
    info.set_replaygain(rg);
    Save(info);
    const auto path = ProfileFile();
    ASSERT_FALSE(path.empty());
    const auto bytes = testsupport::ReadBytes(path);

    std::vector<uint8_t> expected = TagBytes(info);
    const size_t n = expected.size();
    expected.push_back(0);
    expected.push_back(0);
    const auto units = sidetagtest::Utf16Le(key);
    expected.insert(expected.end(), units.begin(), units.end());
    expected.push_back(0);
    expected.push_back(0);
    ASSERT_EQ(bytes.size(), expected.size());
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(std::memcmp(bytes.data(), "ID3", 3), 0);
    EXPECT_EQ(bytes[n], 0);
    EXPECT_EQ(bytes[n + 1], 0);

    // A second reader: TagLib parses the tag part on its own.
    const testsupport::TagLibId3v2 tag = testsupport::ReadId3v2WithTagLib(bytes);
    EXPECT_EQ(tag.title.to8Bit(true), "Layout ✓");
    const TagLib::PropertyMap& props = tag.properties;
    EXPECT_EQ(props["MOOD"].front().to8Bit(true), "exact");
    EXPECT_EQ(props["REPLAYGAIN_ALBUM_GAIN"].front().to8Bit(true), "-6.50 dB");
}

TEST_F(SideTags, PathOf600CharactersRoundTrips) {
    const std::string deep = std::string(250, 'd') + "/" + std::string(250, 'e') + "/" + std::string(90, 'f');
    audio = MakeAudio(deep + "/Track.oma");
    host_path = HostPath(audio);
    key = KeyOf(audio);
    ASSERT_GE(key.size(), 600u);
    flags.user_profile = true;
    Save(Titled("long path"));
    Save(Titled("long path again"));
    ASSERT_EQ(BucketFiles(key).size(), 1u);  // not a new file on every save
    flags = {};
    EXPECT_EQ(LoadedTitle(), "long path again");
    flags.user_profile = true;
    Save(file_info_impl{});
    EXPECT_TRUE(BucketFiles(key).empty());
}

TEST_F(SideTags, SavesForFilesOfOneBucketGetTheirOwnNames) {
    flags.user_profile = true;
    // Two names with the same letters add up to the same sum.
    const std::u16string a = u"/MUSIC/AB.OMA", b = u"/MUSIC/BA.OMA";
    ASSERT_EQ(corvina::ProfileBucketOf(a.c_str()), corvina::ProfileBucketOf(b.c_str()));
    std::thread other([&] {
        abort_callback_dummy own_abort;
        for (int i = 0; i < 20; ++i)
            SaveSideTags(Titled("a"), "/nowhere/ab.oma", a.c_str(), flags, own_abort);
    });
    for (int i = 0; i < 20; ++i) SaveSideTags(Titled("b"), "/nowhere/ba.oma", b.c_str(), flags, abort);
    other.join();
    EXPECT_EQ(BucketFiles(a), (std::vector<std::string>{"00000000.tag", "00000001.tag"}));
    for (const auto& [k, title] : {std::pair{a, "a"}, std::pair{b, "b"}}) {
        file_info_impl info;
        LoadSideTags(info, "", k.c_str(), flags, abort);
        EXPECT_STREQ(info.meta_get("title", 0), title);
    }
}

TEST_F(SideTags, LookupsWhileAnotherFileOfTheBucketIsSavedStillSucceed) {
    flags.user_profile = true;
    flags.clean = true;  // a misread trailer would also remove the other file's tags
    const auto ab = MakeAudio("Music/ab.oma"), ba = MakeAudio("Music/ba.oma");
    const std::u16string ab_key = KeyOf(ab), ba_key = KeyOf(ba);
    ASSERT_EQ(corvina::ProfileBucketOf(ab_key.c_str()), corvina::ProfileBucketOf(ba_key.c_str()));
    SaveSideTags(Titled("b"), HostPath(ba).c_str(), ba_key.c_str(), flags, abort);
    SaveSideTags(Titled("a"), HostPath(ab).c_str(), ab_key.c_str(), flags, abort);

    // The other file's side-tag file keeps changing size while this one is
    // looked up: each save swaps in a file of another length.
    std::atomic<bool> done{false};
    std::thread saver([&] {
        abort_callback_dummy own_abort;
        const std::string long_title(3000, 'a');
        for (int i = 0; !done; ++i) {
            SaveSideTags(Titled(i % 2 ? long_title : "a"), HostPath(ab).c_str(), ab_key.c_str(), flags,
                         own_abort);
        }
    });
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        try {
            file_info_impl info;
            LoadSideTags(info, HostPath(ba).c_str(), ba_key.c_str(), flags, abort);
            if (!info.meta_get("title", 0) || std::strcmp(info.meta_get("title", 0), "b") != 0) ++failures;
        } catch (const std::exception&) {
            ++failures;
        }
    }
    done = true;
    saver.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(BucketFiles(ab_key), (std::vector<std::string>{"00000000.tag", "00000001.tag"}));
}

// Aborts at the n-th time it is asked, so a save can be cut off at every
// step it takes.
class AbortAfter final : public abort_callback {
  public:
    explicit AbortAfter(int n) : m_left(n) {}
    bool is_aborting() const override { return m_left-- <= 0; }

  private:
    mutable int m_left;
};

TEST_F(SideTags, InterruptedSaveKeepsThePreviousFile) {
    file_info_impl old_info = Titled("previous");
    file_info_impl new_info = Titled("next");
    for (int i = 0; i < 100; ++i) new_info.meta_set(("f" + std::to_string(i)).c_str(), "value");
    flags.ntfs_stream = true;
    flags.user_profile = true;
    Save(old_info);
    const auto profile_file = ProfileFile();
    ASSERT_FALSE(profile_file.empty());
    const auto old_stream = testsupport::ReadBytes(stream_file);
    const auto old_profile = testsupport::ReadBytes(profile_file);

    int completed_at = -1;
    for (int n = 0; n < 200 && completed_at < 0; ++n) {
        AbortAfter cut(n);
        try {
            SaveSideTags(new_info, host_path.c_str(), key.c_str(), flags, cut);
            completed_at = n;
        } catch (const exception_aborted&) {
            // The stream is saved before the profile: once it has the new
            // tag, only the profile file may still hold the old one.
            const auto stream_now = testsupport::ReadBytes(stream_file);
            if (stream_now != old_stream) {
                EXPECT_EQ(stream_now, TagBytes(new_info)) << n;
            }
            EXPECT_EQ(testsupport::ReadBytes(profile_file), old_profile) << n;
            EXPECT_EQ(BucketFiles(key).size(), 1u) << n;  // no pending file left behind
            EXPECT_FALSE(std::filesystem::exists(stream_file.string() + ".new")) << n;
        }
    }
    ASSERT_GT(completed_at, 0);
    flags = {};
    flags.user_profile = true;
    EXPECT_EQ(LoadedTitle(), "next");
}

TEST_F(SideTags, FullDiskDuringSaveKeepsThePreviousFile) {
    flags.user_profile = true;
    flags.ntfs_stream = true;
    Save(Titled("previous"));
    const auto profile_file = ProfileFile();
    const auto old_profile = testsupport::ReadBytes(profile_file);
    const auto old_stream = testsupport::ReadBytes(stream_file);

    file_info_impl big = Titled("too big");
    big.meta_set("payload", std::string(64 * 1024, 'p').c_str());
    // Writes past 16 KiB fail as on a full disk (EFBIG instead of ENOSPC).
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        Save(big);
    } catch (const exception_io&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_TRUE(threw);
    EXPECT_EQ(testsupport::ReadBytes(stream_file), old_stream);
    EXPECT_EQ(testsupport::ReadBytes(profile_file), old_profile);
    EXPECT_FALSE(std::filesystem::exists(stream_file.string() + ".new"));
    EXPECT_EQ(LoadedTitle(), "previous");
}

}  // namespace
