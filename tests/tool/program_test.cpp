// The built Quillet program, end to end: stdout bytes and exit codes compared
// with committed golden files, the program without a registered media
// library, and output to a terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support/processes.h"
#include "support/test_support.h"

namespace {

using Result = testsupport::ProgramResult;

// Runs bin/Quillet with `args`; `environment` entries ("NAME=value") replace
// or add to the test's own, and LC_ALL is C.UTF-8 unless they name it. With
// `terminal` stdout is a raw pseudo-terminal.
Result RunQuillet(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                  bool terminal = false) {
    std::vector<std::string> env = environment;
    bool locale_given = false;
    for (const auto& mine : environment) locale_given |= mine.rfind("LC_ALL=", 0) == 0;
    if (!locale_given) env.push_back("LC_ALL=C.UTF-8");
    return testsupport::RunProgram(testsupport::BinDir() / "Quillet", args, env, terminal);
}

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(CQ_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Program, GoldenOutputs) {
    struct Case {
        std::vector<std::string> args;
        const char* golden;
    };
    const std::vector<Case> cases = {
        {{}, "no_arguments.out"},
        {{"--Help"}, "help.out"},
        {{"--HELP", "--Get", "whatever.oma"}, "help.out"},
        {{"--version", "--Get", "x"}, "version.out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        const Result r = RunQuillet(c.args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, Golden(c.golden));
    }
}

TEST(Program, ExitAndUnknownWordsEndWithEos) {
    const std::string banner = Golden("banner_only.out");
    Result r = RunQuillet({"--Exit", "--Help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner + "EOS.\n");
    r = RunQuillet({"--NoSuchOption", "/no/such/file.oma"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner + "EOS.\n");
}

TEST(Program, WithoutTheLibraryEveryRunPrintsOnlyTheBannerAndFails) {
    testsupport::ScopedTempDir dir;
    const auto registry = dir / "registry.reg";
    // The application keys stay; the library's class registrations are gone.
    testsupport::WriteText(registry,
                           "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Sony Corporation\\OpenMG\\PC\\"
                           "{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D]\n");
    const auto song = dir / "song.oma";
    testsupport::WriteText(song, "x");
    const std::vector<std::vector<std::string>> runs = {
        {}, {"--Help"}, {"--Version"}, {"--Exit"}, {"--Get", song.string()}, {"--Create"}};
    for (const auto& args : runs) {
        const Result r = RunQuillet(args, {"CQ_REGISTRY_FILE=" + registry.string()});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, Golden("banner_only.out"));
    }
}

TEST(Program, TerminalOutputIsTextWithSingleLineFeeds) {
    const Result r = RunQuillet({"--Version"}, {}, true);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, Golden("version.out"));
}

// Files the project makes itself (make_demo_oma: a tagged OpenMG tone).
class DemoFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        song_ = dir_ / "song.oma";
        const Result made =
            testsupport::RunProgram(testsupport::BinDir() / "make_demo_oma", {song_.string(), "1"});
        ASSERT_EQ(made.exit_code, 0) << "make_demo_oma failed";
    }
    std::string Title(const std::filesystem::path& path) {
        const Result r = RunQuillet({"--Get", path.string()});
        const size_t at = r.out.find("\nTitle=");
        if (at == std::string::npos) return "<missing>";
        return r.out.substr(at + 7, r.out.find('\n', at + 1) - at - 7);
    }

    testsupport::ScopedTempDir dir_;
    std::filesystem::path song_;
};

// A read-only file is refused whoever runs the program (root too, who may
// write the folder), and the refusal is a failed run, not a listing of values
// that never reached the file.
TEST_F(DemoFileTest, PutOnAReadOnlyFileFailsAndKeepsTheFile) {
    std::filesystem::permissions(song_,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const std::vector<uint8_t> before = testsupport::ReadBytes(song_);
    const Result r = RunQuillet({"--Put", "--Title", "New", song_.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(testsupport::ReadBytes(song_) == before);
    EXPECT_NE(Title(song_), "New");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(DemoFileTest, GetAllOnAFileNamedLikeItsInfoFileKeepsTheAudio) {
    const auto named_info = dir_ / "song.info";
    std::filesystem::copy_file(song_, named_info);
    const std::vector<uint8_t> before = testsupport::ReadBytes(named_info);
    const Result r = RunQuillet({"--GetAll", "--ForceWrite", named_info.string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.find("InfoFile="), std::string::npos);
    EXPECT_TRUE(testsupport::ReadBytes(named_info) == before);
}

// A FIFO as target, info, base or jacket file: nothing waits, nothing is
// read from it or written to it. `timeout` ends a run that would hang.
TEST_F(DemoFileTest, FifosAreNotFilesToReadOrWrite) {
    const auto fifo = dir_ / "f.oma";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir_ / "g.info").c_str(), 0644), 0);
    const std::string quillet = testsupport::ShellQuote((testsupport::BinDir() / "Quillet").string());
    const std::string song = testsupport::ShellQuote(song_.string());
    const std::string f = testsupport::ShellQuote(fifo.string());
    auto run = [&](const std::string& args) {
        return testsupport::RunShell("LC_ALL=C.UTF-8 timeout 20 " + quillet + " " + args);
    };
    Result r = run("--Get " + f);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.HasKey("TargetTrack"));
    for (const char* option : {"--Info ", "--Base ", "--Jacket "}) {
        r = run(std::string("--Put --Quiet ") + option + f + " " + song);
        EXPECT_TRUE(r.HasLine("EOS.")) << option;
    }
    r = run("--Get --Quiet --ForceWrite --Info " + testsupport::ShellQuote((dir_ / "g").string()) + " " +
            song);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(r.HasKey("InfoFile"));
}

// Arguments are UTF-8 whatever the locale, and a name that is not UTF-8 is
// reached all the same.
TEST_F(DemoFileTest, ArgumentsAreUtf8UnderEveryLocaleAndEveryNameOpens) {
    const auto japanese = dir_ / "\xE6\x97\xA5\xE6\x9C\xAC.oma";
    std::filesystem::copy_file(song_, japanese);
    Result r =
        RunQuillet({"--Put", "--Quiet", "--Title", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", japanese.string()},
                   {"LC_ALL=C"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.HasKey("TargetTrack"));
    EXPECT_EQ(Title(japanese), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");

    const auto latin1 = dir_ / "caf\xE9.oma";
    std::filesystem::copy_file(song_, latin1);
    for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
        r = RunQuillet({"--Put", "--Quiet", "--Title", "Latin", latin1.string()}, {locale});
        EXPECT_EQ(r.exit_code, 0) << locale;
        EXPECT_TRUE(r.HasKey("TargetTrack")) << locale;
    }
    EXPECT_EQ(Title(latin1), "Latin");
}

// Real samples, worked on as copies. Each test skips while the media library
// cannot open the sample.
class RealSampleTest : public ::testing::Test {
  protected:
    // Copies the sample into the scoped folder as `name`; false (and a skip
    // message) when the sample is absent or the library does not open it.
    bool Prepare(const std::string& sample, const std::string& name, std::filesystem::path* copy) {
        const auto source = testsupport::SamplePath(sample);
        if (source.empty()) {
            skip_reason_ = "real sample '" + sample + "' not found";
            return false;
        }
        *copy = dir_ / name;
        std::filesystem::copy_file(source, *copy);
        std::filesystem::permissions(*copy, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        const Result probe = RunQuillet({"--Get", copy->string(), "--Quiet"});
        if (probe.out.find("TargetTrack=") == std::string::npos) {
            skip_reason_ = "the media library does not open " + sample + " yet";
            return false;
        }
        return true;
    }

    // The listing lines after "TargetTrack" and before "EOS.".
    static std::vector<std::string> Listing(const std::string& out) {
        std::vector<std::string> lines;
        size_t start = out.find("TargetTrack=");
        if (start == std::string::npos) return lines;
        start = out.find('\n', start) + 1;
        for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = out.substr(start, end - start);
            if (line == "EOS.") break;
            lines.push_back(line);
        }
        return lines;
    }

    static std::string Value(const std::vector<std::string>& listing, const std::string& name) {
        for (const auto& line : listing)
            if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
        return "<missing>";
    }

    testsupport::ScopedTempDir dir_;
    std::string skip_reason_;
};

#define CQ_PREPARE(sample, name, var) \
    std::filesystem::path var;        \
    if (!Prepare(sample, name, &var)) GTEST_SKIP() << skip_reason_

constexpr const char* kTaggedSample = "pronom_03-Untitled-3_atrac3plus.oma";
constexpr const char* kPlainSample = "atracdencU_test_atrac3_132k_noid3.oma";

TEST_F(RealSampleTest, GetPrintsTargetTrackAndThirtyFourLines) {
    CQ_PREPARE(kTaggedSample, "song.oma", song);
    const Result r = RunQuillet({"--Get", song.string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind(Golden("banner_only.out") + "TargetTrack=" + song.string() + "\n", 0), 0u);
    const auto listing = Listing(r.out);
    ASSERT_EQ(listing.size(), 34u);
    EXPECT_EQ(listing.front().rfind("Title=", 0), 0u);
    EXPECT_EQ(listing.back().rfind("Jacket=", 0), 0u);
    EXPECT_EQ(r.out.substr(r.out.size() - 5), "EOS.\n");
}

TEST_F(RealSampleTest, GetInfoWritesThirtyFourCrLfLines) {
    CQ_PREPARE(kTaggedSample, "song.oma", song);
    const auto info = dir_ / "x.info";
    const Result r = RunQuillet({"--Get", song.string(), "--Info", info.string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("InfoFile=" + info.string() + "\n"), std::string::npos);
    const auto bytes = testsupport::ReadBytes(info);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 34);
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
    EXPECT_EQ(text.find('\r'), text.find('\n') - 1);
}

TEST_F(RealSampleTest, PutInfoAndTagOptionsAreWrittenBack) {
    CQ_PREPARE(kTaggedSample, "song.oma", song);
    const auto info = dir_ / "in.info";
    testsupport::WriteText(info, "Title=From the info file\r\nAlbum=Info album\r\nGenre=Ambient\r\n");
    Result r = RunQuillet({"--Put", song.string(), "--Info", info.string(), "--Artist", "Option artist",
                           "--Album", "Option album", "--TrackNumber", "3/12", "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);
    r = RunQuillet({"--Get", song.string()});
    const auto listing = Listing(r.out);
    EXPECT_EQ(Value(listing, "Title"), "From the info file");
    EXPECT_EQ(Value(listing, "Artist"), "Option artist");
    EXPECT_EQ(Value(listing, "Album"), "Option album");
    EXPECT_EQ(Value(listing, "Genre"), "Ambient");
    EXPECT_EQ(Value(listing, "TrackNumber"), "3");
    EXPECT_EQ(Value(listing, "TotalTracks"), "12");
}

TEST_F(RealSampleTest, PutBaseCopiesEveryAttribute) {
    CQ_PREPARE(kTaggedSample, "base.oma", base);
    CQ_PREPARE(kPlainSample, "target.oma", target);
    Result r = RunQuillet(
        {"--Put", base.string(), "--Title", "Base title", "--Composer", "Base composer", "--Quiet"});
    ASSERT_EQ(r.exit_code, 0);
    r = RunQuillet({"--Put", target.string(), "--Base", base.string(), "--Quiet"});
    EXPECT_EQ(r.exit_code, 0);
    const auto from_base = Listing(RunQuillet({"--Get", base.string()}).out);
    const auto copied = Listing(RunQuillet({"--Get", target.string()}).out);
    ASSERT_EQ(copied.size(), 34u);
    ASSERT_EQ(from_base.size(), 34u);
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(copied[i], from_base[i]);  // every tag row
    EXPECT_EQ(Value(copied, "Composer"), "Base composer");
}

TEST_F(RealSampleTest, EncodingDigitsFollowTheCodePage) {
    CQ_PREPARE(kPlainSample, "song.oma", song);
    auto info_bytes = [&](const std::string& option, const std::string& name) {
        const auto info = dir_ / (name + ".info");
        RunQuillet({"--Get", song.string(), option, info.string(), "--Quiet"}, {"LC_ALL=C"});
        const auto bytes = testsupport::ReadBytes(info);
        return std::string(bytes.begin(), bytes.end());
    };
    RunQuillet({"--Put", song.string(), "--Title", "Plain ASCII", "--Quiet"});
    std::string text = info_bytes("--Info3", "ascii3");
    EXPECT_EQ(text.rfind("Title=Plain ASCII\r\n", 0), 0u);  // ANSI, no mark

    // A title outside US-ASCII, given through a UTF-8 info file.
    const auto in = dir_ / "wide.in";
    testsupport::WriteText(in, "\xEF\xBB\xBFTitle=Caf\xC3\xA9\r\n");
    RunQuillet({"--Put", song.string(), "--Info", in.string(), "--Quiet"});
    text = info_bytes("--Info3", "wide3");
    EXPECT_EQ(text.rfind(std::string("\xFF\xFET\0i\0t\0l\0e\0=\0C\0a\0f\0\xE9\0\r\0\n\0", 26), 0), 0u);
    text = info_bytes("--Info9", "wide9");
    EXPECT_EQ(text.rfind("\xEF\xBB\xBFTitle=Caf\xC3\xA9\r\n", 0), 0u);
    text = info_bytes("--Info1", "wide1");
    EXPECT_EQ(text.rfind("Title=Caf?\r\n", 0), 0u);
}

TEST_F(RealSampleTest, RedirectedListingIsAnsiAndTerminalListingIsUnicode) {
    CQ_PREPARE(kPlainSample, "song.oma", song);
    const auto in = dir_ / "wide.in";
    testsupport::WriteText(in, "\xEF\xBB\xBFTitle=Caf\xC3\xA9\r\n");
    RunQuillet({"--Put", song.string(), "--Info", in.string(), "--Quiet"});
    EXPECT_NE(RunQuillet({"--Get", song.string()}, {"LC_ALL=C"}).out.find("\nTitle=Caf?\n"),
              std::string::npos);
    EXPECT_NE(RunQuillet({"--Get", song.string()}, {"LC_ALL=C"}, true).out.find("\nTitle=Caf\xC3\xA9\n"),
              std::string::npos);
}

TEST_F(RealSampleTest, TwoFilesThatOpenOnlyTheLastIsWorkedOn) {
    CQ_PREPARE(kTaggedSample, "first.oma", first);
    CQ_PREPARE(kPlainSample, "second.oma", second);
    const Result r =
        RunQuillet({"--Put", first.string(), second.string(), "--Title", "Only second", "--Quiet"});
    EXPECT_EQ(r.out, Golden("banner_only.out") + "TargetTrack=" + second.string() + "\nEOS.\n");
    EXPECT_EQ(Value(Listing(RunQuillet({"--Get", second.string()}).out), "Title"), "Only second");
    EXPECT_NE(Value(Listing(RunQuillet({"--Get", first.string()}).out), "Title"), "Only second");
}

}  // namespace
