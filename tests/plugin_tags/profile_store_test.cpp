// Lookups and allocations in the profile store: folders, names from
// 00000000.tag upwards, keeps-clean, portable, files that are never taken,
// and long paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/sdk/tag_processor.h"
#include "platform/text/text.h"
#include "side_tag_fixture.h"

namespace {

using corvina::ResolveProfileTagPath;
using sidetagtest::SideTagStore;

const std::u16string kTrack = u"D:\\MUSIC\\TRACK.OMA";

class ProfileStore : public SideTagStore {
  protected:
    // Resolves `key`; returns the file name found ("" for none). Every lookup
    // is made twice: the second answers from what the first read wherever
    // the files are unchanged, and must give the same answer (the first has
    // already removed what keeps-clean removes).
    std::string Resolve(const std::u16string& key, bool create) {
        const std::string first = ResolveOnce(key, create);
        EXPECT_EQ(ResolveOnce(key, create), first) << "a second lookup answered otherwise";
        return first;
    }
    std::string ResolveOnce(const std::u16string& key, bool create) {
        std::string out = "left over";
        const bool found = ResolveProfileTagPath(key.c_str(), create, out, flags, abort);
        EXPECT_EQ(found, !out.empty());
        if (!found) return "";
        const size_t slash = out.find_last_of("/\\");
        return out.substr(slash + 1);
    }
};

TEST_F(ProfileStore, LookupForReadingCreatesNothing) {
    EXPECT_EQ(Resolve(kTrack, false), "");
    EXPECT_FALSE(std::filesystem::exists(StoreRoot()));
    flags.clean = true;
    EXPECT_EQ(Resolve(kTrack, false), "");
    EXPECT_FALSE(std::filesystem::exists(StoreRoot()));
}

TEST_F(ProfileStore, CreateMakesRootAndBucketAndStartsAtZero) {
    std::string out;
    ASSERT_TRUE(ResolveProfileTagPath(kTrack.c_str(), true, out, flags, abort));
    EXPECT_EQ(out, host.get_profile_path() + std::string("\\ID3v2\\BD\\00000000.tag"));
    EXPECT_TRUE(std::filesystem::is_directory(StoreRoot() / "BD"));
    EXPECT_FALSE(std::filesystem::exists(StoreRoot() / "BD" / "00000000.tag"));  // allocated, not written
}

TEST_F(ProfileStore, NoProfileFolderNoProfilePlace) {
    std::filesystem::remove_all(host.profile_dir());
    EXPECT_EQ(Resolve(kTrack, true), "");
    EXPECT_FALSE(std::filesystem::exists(host.profile_dir()));
}

TEST_F(ProfileStore, BucketThatCannotBeMadeIsNoPlace) {
    std::filesystem::create_directories(StoreRoot());
    testsupport::WriteText(StoreRoot() / "BD", "a file where the bucket folder belongs");
    EXPECT_EQ(Resolve(kTrack, true), "");
}

TEST_F(ProfileStore, NamesAreAllocatedFromZeroUpwards) {
    Plant(kTrack, "00000000.tag", u"D:\\OTHER\\ONE.OMA", Titled("one"));
    Plant(kTrack, "00000002.tag", u"D:\\OTHER\\TWO.OMA", Titled("two"));
    EXPECT_EQ(Resolve(kTrack, true), "00000001.tag");
    Plant(kTrack, "00000001.tag", u"D:\\OTHER\\THREE.OMA", Titled("three"));
    EXPECT_EQ(Resolve(kTrack, true), "00000003.tag");
    // Hex digits in upper case.
    for (int i = 3; i < 10; ++i)
        testsupport::WriteText(BucketFolder(kTrack) / ("0000000" + std::to_string(i) + ".tag"), "x");
    EXPECT_EQ(Resolve(kTrack, true), "0000000A.tag");
}

TEST_F(ProfileStore, FindsItsFileWithoutRegardToCase) {
    Plant(kTrack, "00000000.tag", u"D:\\OTHER\\ONE.OMA", Titled("one"));
    Plant(kTrack, "00000001.tag", u"d:\\Music\\track.OMA", Titled("track"));
    EXPECT_EQ(Resolve(kTrack, false), "00000001.tag");
    EXPECT_EQ(Resolve(kTrack, true), "00000001.tag");  // an existing file keeps its name
}

TEST_F(ProfileStore, PortableMatchesAcrossDriveLetters) {
    Plant(kTrack, "00000000.tag", kTrack, Titled("track"));
    const std::u16string other_drive = u"E:\\MUSIC\\TRACK.OMA";
    EXPECT_EQ(Resolve(other_drive, false), "");
    EXPECT_EQ(Resolve(other_drive, true), "00000001.tag");  // a new name on the next save
    flags.drive_free = true;
    EXPECT_EQ(Resolve(other_drive, false), "00000000.tag");
    EXPECT_EQ(Resolve(u"\\MUSIC\\TRACK.OMA", false), "00000000.tag");
    EXPECT_EQ(Resolve(u"E:\\MUSIC\\TRACK2.OMA", false), "");
    EXPECT_EQ(Resolve(u"E:\\MUSIC2\\TRACK.OMA", false), "");
}

TEST_F(ProfileStore, KeepsCleanRemovesVanishedFilesAndDuplicates) {
    const auto kept_audio = MakeAudio("Music/Kept.oma");
    const std::u16string kept_key = KeyOf(kept_audio);
    // Plant everything into the bucket of kTrack, whatever their own buckets.
    Plant(kTrack, "00000000.tag", u"D:\\GONE\\A.OMA", Titled("gone a"));
    Plant(kTrack, "00000001.tag", kTrack, Titled("first"));
    Plant(kTrack, "00000002.tag", kept_key, Titled("kept"));
    Plant(kTrack, "00000003.tag", kTrack, Titled("duplicate"));
    Plant(kTrack, "00000004.tag", KeyOf(dir / "Music/Vanished.oma"), Titled("gone b"));

    // Off: nothing is removed and the first match ends the scan.
    EXPECT_EQ(Resolve(kTrack, false), "00000001.tag");
    EXPECT_EQ(BucketFiles(kTrack).size(), 5u);

    flags.clean = true;
    EXPECT_EQ(Resolve(kTrack, false), "00000001.tag");
    // The upper-case key of an existing file names it although Linux names
    // are case-sensitive: it stays.
    EXPECT_EQ(BucketFiles(kTrack), (std::vector<std::string>{"00000001.tag", "00000002.tag"}));
}

TEST_F(ProfileStore, KeepsCleanKeepsTheTagOfAFileWithADotlessI) {
    // Its key path holds I where the name has a dotless i.
    const auto audio = MakeAudio("Music/\u0131\u015F\u0131k.oma");
    Plant(kTrack, "00000000.tag", KeyOf(audio), Titled("still here"));
    flags.clean = true;
    EXPECT_EQ(Resolve(kTrack, false), "");
    EXPECT_EQ(BucketFiles(kTrack), (std::vector<std::string>{"00000000.tag"}));
}

TEST_F(ProfileStore, KeepsCleanWithPortableRemovesOnlyDuplicates) {
    Plant(kTrack, "00000000.tag", u"D:\\GONE\\A.OMA", Titled("gone"));
    Plant(kTrack, "00000001.tag", kTrack, Titled("first"));
    Plant(kTrack, "00000002.tag", u"E:\\MUSIC\\TRACK.OMA", Titled("same file, other drive"));
    flags.clean = true;
    flags.drive_free = true;
    EXPECT_EQ(Resolve(kTrack, false), "00000001.tag");
    EXPECT_EQ(BucketFiles(kTrack), (std::vector<std::string>{"00000000.tag", "00000001.tag"}));
}

TEST_F(ProfileStore, NewDriveLetterWithKeepsCleanRemovesTheOldFile) {
    Plant(kTrack, "00000000.tag", kTrack, Titled("old drive"));
    flags.clean = true;
    EXPECT_EQ(Resolve(u"E:\\MUSIC\\TRACK.OMA", true), "00000000.tag");  // removed, then free again
    EXPECT_TRUE(BucketFiles(kTrack).empty());
}

TEST_F(ProfileStore, FilesThatAreNotSideTagsAreNeverTakenOrRemoved) {
    const auto folder = BucketFolder(kTrack);
    std::filesystem::create_directories(folder);
    // At most 8 bytes, though they start like a tag and end like a trailer.
    testsupport::WriteBytes(folder / "00000000.tag", {'I', 'D', '3', 0, 0, 'X', 0, 0});
    // Upper-case extension, otherwise a perfect side-tag file of the key.
    Plant(kTrack, "00000001.TAG", kTrack, Titled("upper"));
    // Not starting with "ID3".
    {
        std::vector<uint8_t> bytes = {'I', 'D', '4', 4, 0, 0, 0, 0, 0, 0};
        const auto trailer = corvina::ProfileTrailer(kTrack.c_str());
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        testsupport::WriteBytes(folder / "00000002.tag", bytes);
    }
    // No trailer: ends with a non-zero unit.
    testsupport::WriteText(folder / "00000003.tag", "ID3 and then text without any trailer");
    // A trailer with an empty path.
    {
        std::vector<uint8_t> bytes = TagBytes(Titled("x"));
        bytes.insert(bytes.end(), {0, 0, 0, 0});
        testsupport::WriteBytes(folder / "00000004.tag", bytes);
    }
    // A pending file of an interrupted save.
    Plant(kTrack, "00000005.tag.new", kTrack, Titled("pending"));
    // A sub-folder is listed too; its files follow the same rules.
    std::filesystem::create_directories(folder / "sub");
    testsupport::WriteText(folder / "sub" / "x.tag", "ID3");

    const auto before = BucketFiles(kTrack);
    flags.clean = true;
    EXPECT_EQ(Resolve(kTrack, false), "");
    // Linux names keep their case, so "00000001.TAG" does not hold the name
    // 00000001.tag.
    EXPECT_EQ(Resolve(kTrack, true), "00000001.tag");
    EXPECT_EQ(BucketFiles(kTrack), before);
    EXPECT_TRUE(std::filesystem::exists(folder / "sub" / "x.tag"));
}

TEST_F(ProfileStore, MatchInASubFolderOfTheBucket) {
    const auto folder = BucketFolder(kTrack);
    std::filesystem::create_directories(folder / "old");
    Plant(kTrack, "old/00000007.tag", kTrack, Titled("moved"));
    std::string out;
    ASSERT_TRUE(ResolveProfileTagPath(kTrack.c_str(), false, out, flags, abort));
    EXPECT_NE(out.find("old/00000007.tag"), std::string::npos);
}

TEST_F(ProfileStore, WindowsStoreWithA259UnitPathIsRead) {
    // The longest path the Windows plug-in stored fills its whole 520-byte
    // window; lookups by it and by shorter keys must both see it whole.
    const std::u16string longest = u"D:\\" + std::u16string(246, u'F') + u"\\TRACK.OMA";
    ASSERT_EQ(longest.size(), 259u);
    Plant(longest, "00000000.tag", longest, Titled("longest"));
    EXPECT_EQ(Resolve(longest, false), "00000000.tag");
    // Same bucket, shorter key, keeps-clean: the stored file is gone, so the
    // side-tag file goes (it would stay if its path had been misread).
    const std::u16string shorter = sidetagtest::ShortKeyInBucket(*corvina::ProfileBucketOf(longest.c_str()));
    ASSERT_LT(shorter.size(), 200u);
    flags.clean = true;
    EXPECT_EQ(Resolve(shorter, false), "");
    EXPECT_TRUE(BucketFiles(longest).empty());
}

TEST_F(ProfileStore, LongKeyPathsAreFoundAgain) {
    // Written with a trailer far longer than the Windows window.
    const std::u16string long_key = u"/" + std::u16string(590, u'L') + u"/TRACK.OMA";
    ASSERT_GT(long_key.size(), 600u);
    Plant(long_key, "00000000.tag", long_key, Titled("long"));
    EXPECT_EQ(Resolve(long_key, false), "00000000.tag");
    EXPECT_EQ(Resolve(long_key, true), "00000000.tag");

    // A short key of the same bucket still reads the long stored path whole
    // for its keeps-clean check (the window grows).
    Plant(long_key, "00000001.tag", u"/X", Titled("short"));
    const std::u16string same_bucket =
        sidetagtest::ShortKeyInBucket(*corvina::ProfileBucketOf(long_key.c_str()));
    flags.clean = true;
    EXPECT_EQ(Resolve(same_bucket, false), "");
    EXPECT_TRUE(BucketFiles(long_key).empty());  // both stored files are gone
}

// Entries of a bucket that are not plain side-tag files: each is skipped or
// followed as a listing by the host's file system treats it, and nothing
// blocks (a FIFO is never opened to wait for a writer).
TEST_F(ProfileStore, FifosFoldersAndLinksInABucket) {
    const auto folder = BucketFolder(kTrack);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo((folder / "00000000.tag").c_str(), 0600), 0);
    std::filesystem::create_directories(folder / "00000001.tag");  // a folder with a side-tag name
    std::filesystem::create_symlink(folder / "nowhere.tag", folder / "00000002.tag");   // dangling
    std::filesystem::create_symlink("00000003.tag", folder / "00000003.tag");           // a loop
    std::filesystem::create_symlink(folder / "00000000.tag", folder / "00000004.tag");  // to the FIFO
    const auto before = BucketFiles(kTrack);
    flags.clean = true;
    EXPECT_EQ(Resolve(kTrack, false), "");
    // The FIFO, the links to the FIFO and the loop hold names; the dangling
    // link's name is free for the host's existence test.
    EXPECT_EQ(Resolve(kTrack, true), "00000002.tag");
    EXPECT_EQ(BucketFiles(kTrack), before);

    // A side-tag file reached through a link to it, after one inside the
    // folder with the side-tag name.
    flags.clean = false;
    Plant(kTrack, "00000001.tag/00000009.tag", u"/OTHER/FILE.OMA", Titled("inside"));
    std::filesystem::create_directories(dir / "elsewhere");
    {
        std::vector<uint8_t> bytes = TagBytes(Titled("linked"));
        const auto trailer = corvina::ProfileTrailer(kTrack.c_str());
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        testsupport::WriteBytes(dir / "elsewhere" / "real.tag", bytes);
    }
    std::filesystem::create_symlink(dir / "elsewhere" / "real.tag", folder / "00000005.tag");
    EXPECT_EQ(Resolve(kTrack, false), "00000005.tag");
}

TEST_F(ProfileStore, ALinkedSubfolderAndOddNamesAreListedAsTheHostListsThem) {
    const auto folder = BucketFolder(kTrack);
    std::filesystem::create_directories(folder);
    // A subfolder that is a link to a folder elsewhere, holding the match.
    std::filesystem::create_directories(dir / "moved");
    {
        std::vector<uint8_t> bytes = TagBytes(Titled("moved"));
        const auto trailer = corvina::ProfileTrailer(kTrack.c_str());
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        testsupport::WriteBytes(dir / "moved" / "00000007.tag", bytes);
    }
    std::filesystem::create_directory_symlink(dir / "moved", folder / "linked");
    // A name holding a backslash, which the host's paths read as a separator.
    Plant(kTrack, "odd\\name.tag", u"/ODD/NAME.OMA", Titled("odd"));
    std::string out;
    ASSERT_TRUE(ResolveProfileTagPath(kTrack.c_str(), false, out, flags, abort));
    EXPECT_NE(out.find("linked/00000007.tag"), std::string::npos) << out;
}

TEST_F(ProfileStore, UnreadableCandidatesStillFailAsTheHostFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    Plant(kTrack, "00000000.tag", u"/OTHER.OMA", Titled("other"));
    const auto blocked = BucketFolder(kTrack) / "00000000.tag";
    std::filesystem::permissions(blocked, std::filesystem::perms::none);
    std::string out;
    EXPECT_THROW(ResolveProfileTagPath(kTrack.c_str(), false, out, flags, abort), exception_io_denied);
    std::filesystem::permissions(blocked, std::filesystem::perms::owner_all);
}

TEST_F(ProfileStore, LargeSideTagFilesAreReadByTheirWindow) {
    // Most side-tag files fit a page and are read whole; one with long text
    // has its trailer read from the end of the file.
    file_info_impl big = Titled("big");
    big.meta_set("lyrics", std::string(20000, 'x').c_str());
    const auto path = Plant(kTrack, "00000003.tag", kTrack, big);
    ASSERT_GT(std::filesystem::file_size(path), 16384u);
    Plant(kTrack, "00000001.tag", u"/SOMEWHERE/ELSE.OMA", big);
    EXPECT_EQ(Resolve(kTrack, false), "00000003.tag");
}

TEST_F(ProfileStore, ALookupSeesEveryChangeSinceTheLastOne) {
    // What the trailers said is kept between lookups, each file checked by
    // its status: a file renamed into place, one rewritten in place with the
    // same size, one removed and one added are all seen by the next lookup.
    Plant(kTrack, "00000000.tag", u"D:\\OTHER\\ONE.OMA", Titled("one"));
    const auto second = Plant(kTrack, "00000001.tag", u"D:\\OTHER\\TWO00.OMA", Titled("two"));
    EXPECT_EQ(ResolveOnce(kTrack, false), "");

    // Same length of key path, so the same size: only the trailer differs.
    const std::u16string same_length = u"D:\\MUSIC\\TRACK.OMX";
    ASSERT_EQ(same_length.size(), kTrack.size());
    Plant(kTrack, "00000001.tag", kTrack, Titled("two"));  // rewritten in place
    EXPECT_EQ(ResolveOnce(kTrack, false), "00000001.tag");

    const auto aside = BucketFolder(kTrack) / "new.tmp";
    std::filesystem::copy_file(second, aside);
    Plant(kTrack, "00000001.tag", same_length, Titled("two"));
    EXPECT_EQ(ResolveOnce(kTrack, false), "");
    std::filesystem::rename(aside, second);  // renamed into place
    EXPECT_EQ(ResolveOnce(kTrack, false), "00000001.tag");

    std::filesystem::remove(second);
    EXPECT_EQ(ResolveOnce(kTrack, false), "");
    Plant(kTrack, "00000007.tag", kTrack, Titled("seven"));
    EXPECT_EQ(ResolveOnce(kTrack, false), "00000007.tag");

    // A file that turns unreadable is read again, and fails as the host fails.
    if (::geteuid() != 0) {
        const auto seven = BucketFolder(kTrack) / "00000007.tag";
        std::filesystem::permissions(seven, std::filesystem::perms::none);
        std::string out;
        EXPECT_THROW(ResolveProfileTagPath(kTrack.c_str(), false, out, flags, abort), exception_io_denied);
        std::filesystem::permissions(seven, std::filesystem::perms::owner_all);
    }
}

}  // namespace
