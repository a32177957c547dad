// Reading and writing information end to end: the playhost program with the
// built corvina.so and the media library module, on copies of real samples
// and on files the engine generates. What the library stored is checked with
// the engine itself, the profile side-tag file byte by byte and with TagLib.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/sdk/advconfig.h"
#include "host/sdk/input.h"
#include "library/media_ids.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"
#include "medialib/openmg/openmg_file.h"
#include "platform/text/text.h"
#include "plugin/tags/profile_store.h"
#include "support/processes.h"
#include "support/taglib_id3v2.h"
#include "support/test_support.h"

namespace attr = medialib::attr;

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;
using testsupport::ScopedTempDir;
using testsupport::ShellQuote;

// The first text value of attribute `id` as the engine reads the file, or
// "<none>".
std::string LibraryText(const fs::path& file, uint32_t id) {
    auto opened = medialib::OpenMediaFile(file);
    if (!opened) return "<unreadable>";
    const auto& attributes = opened->Attributes();
    auto it = attributes.find(id);
    if (it == attributes.end() || it->second.empty()) return "<none>";
    if (const auto* text = std::get_if<std::u16string>(&it->second[0])) return platform::Utf16ToUtf8(*text);
    if (const auto* number = std::get_if<int32_t>(&it->second[0])) return std::to_string(*number);
    return "<other>";
}

// Metadata of the ID3v2 tag at the start of `bytes`, read by TagLib alone.
TagLib::PropertyMap TagLibProperties(const std::vector<uint8_t>& bytes) {
    return testsupport::ReadId3v2WithTagLib(bytes).properties;
}

std::string Prop(const TagLib::PropertyMap& props, const char* key) {
    auto it = props.find(key);
    return it == props.end() || it->second.isEmpty() ? "<none>" : it->second.front().to8Bit(true);
}

class InfoComponent : public ::testing::Test {
  protected:
    ProgramResult Playhost(const std::string& args) {
        const std::string command =
            ShellQuote((testsupport::BinDir() / "playhost").string()) + " --component " +
            ShellQuote((testsupport::BinDir() / "corvina.so").string()) + " --profile " +
            ShellQuote(Profile().string()) + " " + args + " 2>/dev/null";
        return testsupport::RunShell(command);
    }
    ProgramResult Info(const fs::path& file) { return Playhost("info " + ShellQuote(file.string())); }
    ProgramResult Tag(const fs::path& file, const std::vector<std::string>& words) {
        std::string args = "tag " + ShellQuote(file.string());
        for (const auto& w : words) args += " " + ShellQuote(w);
        return Playhost(args);
    }
    void Switch(const std::string& name, bool on) {
        ASSERT_EQ(Playhost("config " + name + (on ? " on" : " off")).exit_code, 0);
    }

    fs::path Profile() const { return dir / "profile"; }
    fs::path StoreRoot() const { return Profile() / "ID3v2"; }
    // Every file below the profile's side-tag store.
    std::vector<fs::path> StoreFiles() const {
        std::vector<fs::path> out;
        if (!fs::exists(StoreRoot())) return out;
        for (const auto& e : fs::recursive_directory_iterator(StoreRoot()))
            if (e.is_regular_file()) out.push_back(e.path());
        return out;
    }
    static std::u16string KeyOf(const fs::path& file) {
        return platform::ToUpper(platform::Utf8ToUtf16(file.string()));
    }

    fs::path Demo(const std::string& name, double seconds = 0.25) {
        medialib::openmg::DemoOmaOptions options;
        options.tags[medialib::attr::Title] = {std::u16string(u"Demo")};
        EXPECT_TRUE(medialib::openmg::WriteDemoOma(dir / name, seconds, options));
        return dir / name;
    }

    ScopedTempDir dir;
};

// A file name of 246 to 255 bytes has no room for the stream side-tag name
// (name + ":ID3v2.tag"): that means "no stream side tag" when reading, and the
// file is read and tagged like any other. Only a save that needs the stream
// side-tag file fails.
TEST_F(InfoComponent, NamesNearTheFileSystemLimitAreReadAndTagged) {
    const fs::path file = Demo(std::string(246, 'n') + ".oma");
    ProgramResult r = Info(file);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("title=Demo")) << r.out;
    r = Tag(file, {"title=Long"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(LibraryText(file, medialib::attr::Title), "Long");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
        << "the file and the profile folder, no temporary";

    Switch("write_ntfs_stream", true);
    r = Tag(file, {"title=Stream", "mood=Calm"});
    EXPECT_NE(r.exit_code, 0) << "the stream side-tag file cannot be written";
    EXPECT_EQ(LibraryText(file, medialib::attr::Title), "Long");
    EXPECT_TRUE(Info(file).HasLine("title=Long"));
}

// A library scan through the component: every OMA file below the folder is
// read in one process, in name order, with its summary line. A FIFO with a
// claimed name is passed over unopened: not listed, not failed, counted as
// skipped (a reader that opened it could wait for a writer for ever; `timeout`
// turns such a hang into a failure here). A link back up the tree is not
// followed.
TEST_F(InfoComponent, ScanReadsEveryFileOnceAndNeverOpensAFifo) {
    fs::create_directories(dir / "music" / "cd1");
    const fs::path one = Demo("music/one.oma");
    const fs::path two = Demo("music/cd1/two.oma");
    ASSERT_EQ(::mkfifo((dir / "music" / "cd1" / "pipe.oma").c_str(), 0600), 0);
    fs::create_directory_symlink(dir / "music", dir / "music" / "cd1" / "up");

    const ProgramResult r = testsupport::RunShell(
        "timeout 60 " + ShellQuote((testsupport::BinDir() / "playhost").string()) + " --component " +
        ShellQuote((testsupport::BinDir() / "corvina.so").string()) + " --profile " +
        ShellQuote(Profile().string()) + " scan " + ShellQuote((dir / "music").string()) + " 2>/dev/null");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    const std::string facts = "\tcodec=PCM\tsamplerate=44100\tchannels=2\tlength=0.25\ttitle=Demo\n";
    const std::string lines = "path=" + two.string() + facts + "path=" + one.string() + facts;
    EXPECT_EQ(r.out.substr(0, lines.size()), lines) << r.out;
    EXPECT_EQ(r.out.find("files=2\tfailed=0\tskipped=2\t", lines.size()), lines.size()) << r.out;
}

// Ten playhost processes tag ten files of one bucket at once (the names add
// up alike). Each save holds the bucket's lock from the lookup to the
// rename, so no two files get the same new name: ten side-tag files, every
// file keeps its own tags, every process succeeds.
TEST_F(InfoComponent, ConcurrentProcessesTaggingOneBucketKeepEveryFilesSideTags) {
    const std::vector<std::string> names = {"A",    "AKZZ", "ALYZ", "ALZY", "AMXZ",
                                            "AMYY", "AMZX", "ANWZ", "ANXY", "ANYX"};
    // The names add up alike, one unit sum 255 apart, which lands in the same
    // bucket unless the rest of the path leaves a low byte of 0 (no carry):
    // the temporary folder's name is random, so a subfolder whose name moves
    // the sum is chosen where needed.
    std::string sub;
    for (char c = 'a'; c <= 'z' && sub.empty(); ++c) {
        std::set<unsigned> buckets;
        for (const std::string& name : names)
            buckets.insert(
                *corvina::ProfileBucketOf(KeyOf(dir / std::string(1, c) / (name + ".oma")).c_str()));
        if (buckets.size() == 1) sub = std::string(1, c);
    }
    ASSERT_FALSE(sub.empty()) << "the names must share a bucket";
    fs::create_directory(dir / sub);
    for (const std::string& name : names) Demo(sub + "/" + name + ".oma", 0.1);
    Switch("use_user_profile", true);

    const std::string playhost = ShellQuote((testsupport::BinDir() / "playhost").string()) + " --component " +
                                 ShellQuote((testsupport::BinDir() / "corvina.so").string()) + " --profile " +
                                 ShellQuote(Profile().string());
    std::string script;
    for (const std::string& name : names) {
        script += "( " + playhost + " tag " + ShellQuote((dir / sub / (name + ".oma")).string()) + " mood=m" +
                  name + " >/dev/null 2>&1; echo \"exit " + name + " $?\" ) & ";
    }
    script += "wait";
    const ProgramResult r = testsupport::RunShell(script);
    for (const std::string& name : names) EXPECT_TRUE(r.HasLine("exit " + name + " 0")) << r.out;
    EXPECT_EQ(StoreFiles().size(), names.size());
    for (const std::string& name : names) {
        const ProgramResult info = Info(dir / sub / (name + ".oma"));
        EXPECT_TRUE(info.HasLine("mood=m" + name)) << info.out;
    }
}

// Reading changes no setting, so ten playhost info runs at once leave the
// settings file as it was (not even rewritten) and all succeed.
TEST_F(InfoComponent, ConcurrentInfoRunsDoNotRewriteTheSettings) {
    const fs::path file = Demo("x.oma", 0.1);
    Switch("use_user_profile", true);
    const fs::path settings = Profile() / "settings.cfg";
    struct stat before {};
    ASSERT_EQ(::stat(settings.c_str(), &before), 0);
    std::string script;
    for (int i = 0; i < 10; ++i)
        script += "( " + ShellQuote((testsupport::BinDir() / "playhost").string()) + " --component " +
                  ShellQuote((testsupport::BinDir() / "corvina.so").string()) + " --profile " +
                  ShellQuote(Profile().string()) + " info " + ShellQuote(file.string()) +
                  " >/dev/null 2>&1; echo \"exit $?\" ) & ";
    const ProgramResult r = testsupport::RunShell(script + "wait");
    std::string all_succeed;
    for (int i = 0; i < 10; ++i) all_succeed += "exit 0\n";
    EXPECT_EQ(r.out, all_succeed);
    struct stat after {};
    ASSERT_EQ(::stat(settings.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec)
        << "a run that changed nothing rewrote the settings";
}

TEST_F(InfoComponent, ProfileSideTagCarriesWhatTheLibraryCannotStore) {
    const fs::path file = Demo("x.oma", 0.5);
    Switch("use_user_profile", true);
    ProgramResult r = Tag(file, {"title=T", "mood=Happy", "replaygain_track_gain=-6.5 dB"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("written=true")) << r.out;

    r = Info(file);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("input=corvina.so")) << r.out;
    EXPECT_TRUE(r.HasLine("title=T")) << r.out;
    EXPECT_TRUE(r.HasLine("mood=Happy")) << r.out;
    EXPECT_TRUE(r.HasLine("replaygain:track_gain=-6.50 dB")) << r.out;
    EXPECT_TRUE(r.HasLine("info:format=OMA")) << r.out;
    EXPECT_TRUE(r.HasLine("info:codec=PCM")) << r.out;
    EXPECT_TRUE(r.HasLine("info:encoding=lossless")) << r.out;
    EXPECT_TRUE(r.HasLine("info:samplerate=44100")) << r.out;
    EXPECT_TRUE(r.HasLine("info:channels=2")) << r.out;
    EXPECT_TRUE(r.HasLine("length=0.5")) << r.out;

    // The title went into the file through the library; the custom field did not.
    EXPECT_EQ(LibraryText(file, medialib::attr::Title), "T");

    // One profile side-tag file, in the key path's bucket, ending with the key path.
    const std::u16string key = KeyOf(file);
    const auto bucket = corvina::ProfileBucketOf(key.c_str());
    ASSERT_TRUE(bucket);
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02X", *bucket);
    const fs::path tag_file = StoreRoot() / digits / "00000000.tag";
    ASSERT_EQ(StoreFiles(), std::vector<fs::path>{tag_file});
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(tag_file);
    ASSERT_GT(bytes.size(), 3 + 4 + 2 * key.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
    std::vector<uint8_t> trailer = {0, 0};
    for (char16_t unit : key) {
        trailer.push_back(static_cast<uint8_t>(unit & 0xFF));
        trailer.push_back(static_cast<uint8_t>(unit >> 8));
    }
    trailer.insert(trailer.end(), {0, 0});
    EXPECT_TRUE(std::equal(trailer.rbegin(), trailer.rend(), bytes.rbegin()));
    EXPECT_FALSE(fs::exists(file.string() + ":ID3v2.tag"));

    const TagLib::PropertyMap props = TagLibProperties(bytes);
    EXPECT_EQ(Prop(props, "TITLE"), "T");
    EXPECT_EQ(Prop(props, "MOOD"), "Happy");
    EXPECT_EQ(Prop(props, "REPLAYGAIN_TRACK_GAIN"), "-6.50 dB");

    // A second edit keeps the file's name and removes the gain.
    r = Tag(file, {"replaygain_track_gain=", "mood=Calm"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(StoreFiles(), std::vector<fs::path>{tag_file});
    r = Info(file);
    EXPECT_TRUE(r.HasLine("mood=Calm")) << r.out;
    EXPECT_FALSE(r.HasKey("replaygain:track_gain")) << r.out;
    EXPECT_TRUE(r.HasLine("title=T")) << r.out;
}

TEST_F(InfoComponent, WithBothSideTagPlacesOffOnlyTheLibraryIsWritten) {
    const fs::path file = Demo("x.oma");
    ProgramResult r = Tag(file, {"title=Only library", "mood=Happy", "replaygain_track_gain=-3 dB"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(LibraryText(file, medialib::attr::Title), "Only library");
    EXPECT_FALSE(fs::exists(StoreRoot()));
    EXPECT_FALSE(fs::exists(file.string() + ":ID3v2.tag"));
    r = Info(file);
    EXPECT_TRUE(r.HasLine("title=Only library")) << r.out;
    EXPECT_FALSE(r.HasKey("mood")) << r.out;
    EXPECT_FALSE(r.HasKey("replaygain:track_gain")) << r.out;
}

TEST_F(InfoComponent, StreamSideTagFileSitsBesideTheAudioFile) {
    const fs::path file = Demo("x.oma");
    Switch("write_ntfs_stream", true);
    ASSERT_EQ(Tag(file, {"mood=Happy"}).exit_code, 0);
    ASSERT_TRUE(fs::exists(file.string() + ":ID3v2.tag"));
    EXPECT_FALSE(fs::exists(StoreRoot()));
    EXPECT_EQ(Prop(TagLibProperties(testsupport::ReadBytes(file.string() + ":ID3v2.tag")), "TITLE"), "Demo");
    // The setting is read at each use: switched off, the stream is still read.
    Switch("write_ntfs_stream", false);
    const ProgramResult r = Info(file);
    EXPECT_TRUE(r.HasLine("mood=Happy")) << r.out;
    EXPECT_TRUE(r.HasLine("title=Demo")) << r.out;
}

TEST_F(InfoComponent, NumbersDatesAndRemovalsReachTheFile) {
    const fs::path file = Demo("x.oma");
    ProgramResult r = Tag(file, {"tracknumber=7", "date=1999", "album=Al", "genre=Rock"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(LibraryText(file, medialib::attr::TrackNumber), "7");
    EXPECT_EQ(LibraryText(file, attr::ReleaseYear), "1999");
    r = Info(file);
    EXPECT_TRUE(r.HasLine("tracknumber=7")) << r.out;
    EXPECT_TRUE(r.HasLine("date=1999/01/01")) << r.out;
    EXPECT_TRUE(r.HasLine("album=Al")) << r.out;

    r = Tag(file, {"album=", "genre=", "title=Ünïcode \xe2\x99\xab"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(LibraryText(file, attr::Album), "<none>");
    EXPECT_EQ(LibraryText(file, attr::AlbumAlt), "<none>");
    EXPECT_EQ(LibraryText(file, attr::Genre), "<none>");
    r = Info(file);
    EXPECT_FALSE(r.HasKey("album")) << r.out;
    EXPECT_FALSE(r.HasKey("genre")) << r.out;
    EXPECT_TRUE(r.HasLine("title=Ünïcode \xe2\x99\xab")) << r.out;
    EXPECT_TRUE(r.HasLine("tracknumber=7")) << r.out;
}

TEST_F(InfoComponent, KdrKeepsTheSideTagsFieldsItsFormatCannotHold) {
    const fs::path kdr = Demo("x.kdr");
    const fs::path oma = Demo("y.oma");
    Switch("use_user_profile", true);
    for (const fs::path& file : {kdr, oma}) ASSERT_EQ(Tag(file, {"composer=C", "date=2001"}).exit_code, 0);
    EXPECT_EQ(LibraryText(kdr, medialib::attr::Composer), "<none>");
    EXPECT_EQ(LibraryText(oma, medialib::attr::Composer), "C");
    ProgramResult r = Info(kdr);
    EXPECT_TRUE(r.HasLine("info:format=KDR")) << r.out;
    EXPECT_TRUE(r.HasLine("composer=C")) << r.out;
    EXPECT_TRUE(r.HasLine("date=2001")) << r.out;
    r = Info(oma);
    EXPECT_TRUE(r.HasLine("composer=C")) << r.out;
    EXPECT_TRUE(r.HasLine("date=2001/01/01")) << r.out;
}

TEST_F(InfoComponent, RealSampleReadsItsTagsAndTechnicalValuesAndTakesAnEdit) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_03-Untitled-3_atrac3plus.oma");
    const fs::path file = dir / "Untitled.oma";
    testsupport::CopyWritable(sample, file);
    ProgramResult r = Info(file);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    for (const char* line : {"title=Untitled(3)", "album=Star Trek", "tracknumber=3", "info:format=OMA",
                             "info:codec=ATRAC3plus", "info:encoding=lossy", "info:bitrate=192",
                             "info:samplerate=44100", "info:channels=2", "length=17.786"})
        EXPECT_TRUE(r.HasLine(line)) << line << "\n" << r.out;

    Switch("use_user_profile", true);
    r = Tag(file, {"title=New", "album=", "replaygain_album_peak=0.5"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(LibraryText(file, medialib::attr::Title), "New");
    EXPECT_EQ(LibraryText(file, attr::Album), "<none>");
    r = Info(file);
    EXPECT_TRUE(r.HasLine("title=New")) << r.out;
    EXPECT_FALSE(r.HasKey("album")) << r.out;
    EXPECT_TRUE(r.HasLine("replaygain:album_peak=0.500000")) << r.out;
    EXPECT_TRUE(r.HasLine("info:codec=ATRAC3plus")) << r.out;
}

TEST_F(InfoComponent, LosslessSampleIsNamedHybrid) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_02-Untitled-2_aal_atrac3.oma");
    const ProgramResult r = Info(sample);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("info:codec=AAL(ATRAC3)")) << r.out;
    EXPECT_TRUE(r.HasLine("info:encoding=hybrid")) << r.out;
}

TEST_F(InfoComponent, WrongWordsAndUnusableFilesFailCleanly) {
    const fs::path file = Demo("x.oma");
    const auto before = testsupport::ReadBytes(file);
    EXPECT_EQ(Tag(file, {"no-equals-sign"}).exit_code, 2);
    EXPECT_EQ(Tag(file, {"=value"}).exit_code, 2);
    EXPECT_EQ(Tag(file, {"replaygain_track_gain=loud"}).exit_code, 2);
    EXPECT_EQ(Tag(file, {"replaygain_track_peak=-1"}).exit_code, 2);
    EXPECT_EQ(Playhost("tag " + ShellQuote(file.string())).exit_code, 2);
    EXPECT_EQ(Playhost("info").exit_code, 2);
    EXPECT_EQ(testsupport::ReadBytes(file), before);

    ProgramResult r = Info(dir / "missing.oma");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
    testsupport::WriteText(dir / "x.mp3", "not ours");
    r = Tag(dir / "x.mp3", {"title=T"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
    EXPECT_FALSE(r.HasKey("input")) << r.out;
}

// Within one running host, each read and write asks for the switches anew.
TEST_F(InfoComponent, SwitchesChangedWhileTheHostRunsCountFromTheNextWrite) {
    const fs::path file = Demo("x.oma");
    playhost::Host host(Profile());
    host.LoadComponent(testsupport::BinDir() / "corvina.so");
    host.Start();
    service_ptr_t<advconfig_entry_checkbox_v2> profile_switch;
    for (auto& box : host.Services<advconfig_entry_checkbox_v2>()) {
        std::string name;
        box->get_setting_name(name);
        if (name == "use_user_profile") profile_switch = box;
    }
    ASSERT_TRUE(profile_switch);
    auto inputs = host.Services<input_entry>();
    ASSERT_EQ(inputs.size(), 1u);
    abort_callback_dummy abort;
    const std::string path = file.string();
    auto write = [&](const char* mood) {
        file_info_impl info;
        service_ptr_t<input_info_reader> reader;
        inputs[0]->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
        reader->get_info(0, info, abort);
        info.meta_set("mood", mood);
        service_ptr_t<input_info_writer> writer;
        inputs[0]->open_for_info_write(writer, file_ptr(), path.c_str(), abort);
        writer->set_info(0, info, abort);
        writer->commit(abort);
    };
    write("off");
    EXPECT_TRUE(StoreFiles().empty());
    profile_switch->set_state(true);
    write("on");
    EXPECT_EQ(StoreFiles().size(), 1u);
    file_info_impl info;
    service_ptr_t<input_info_reader> reader;
    inputs[0]->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
    reader->get_info(0, info, abort);
    EXPECT_STREQ(info.meta_get("mood", 0), "on");
    EXPECT_STREQ(info.meta_get("title", 0), "Demo");
    reader.release();
    host.Stop();
}

}  // namespace
