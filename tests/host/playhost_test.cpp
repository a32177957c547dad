// The playhost program end to end, against the test component.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/processes.h"
#include "support/test_support.h"

namespace {

using testsupport::ScopedTempDir;

struct RunResult {
    int code = -1;
    std::string out;
    bool Has(const std::string& line) const {
        return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
    }
};

std::string Quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Playhost : public ::testing::Test {
  protected:
    ScopedTempDir dir;

    // Runs playhost with the test component and this test's profile; stdout
    // is captured, stderr discarded; `cwd`, when given, is its working folder.
    RunResult Run(const std::string& args, bool with_component = true, const std::string& cwd = {}) {
        std::string command = Command(args, with_component);
        if (!cwd.empty()) command = "cd " + Quote(cwd) + " && " + command;
        return Shell(command);
    }
    // The playhost command line for `args` (stderr discarded).
    std::string Command(const std::string& args, bool with_component = true) const {
        std::string command = Quote((testsupport::BinDir() / "playhost").string());
        if (with_component)
            command +=
                " --component " + Quote((testsupport::BinDir() / "playhost_testcomponent.so").string());
        return command + " --profile " + Quote((dir / "profile").string()) + " " + args + " 2>/dev/null";
    }
    // Runs a shell command line and captures its standard output.
    static RunResult Shell(const std::string& command) {
        RunResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return result;
        std::array<char, 4096> buffer{};
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            result.out.append(buffer.data(), n);
        const int status = ::pclose(pipe);
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
};

TEST_F(Playhost, ComponentsListsIdentityTypesAndTheSettingsTree) {
    const RunResult r = Run("components");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.Has("component.0.file=playhost_testcomponent.so"));
    EXPECT_TRUE(r.Has("component.0.name=Playhost Test Component"));
    EXPECT_TRUE(r.Has("component.0.version=1.0"));
    EXPECT_TRUE(r.Has("component.0.about=Exercises the host.\\nThe second line of the about text."));
    EXPECT_TRUE(r.Has("component.0.installed_correctly=true"));
    EXPECT_TRUE(r.Has("component.0.debug=false"));
    EXPECT_TRUE(r.Has("component.0.filetype.0.name=Test Files"));
    EXPECT_TRUE(r.Has("component.0.filetype.0.mask=*.TST;*.TXT"));
    EXPECT_TRUE(r.Has("component.0.filetype.0.associatable=true"));
    // The tree: the branch first, then its entries by priority.
    EXPECT_TRUE(r.Has("component.0.setting.0.kind=branch"));
    EXPECT_TRUE(r.Has("component.0.setting.0.parent={904C272B-2317-4C3C-B2FF-C5A0125E2CC2}"));
    EXPECT_TRUE(r.Has("component.0.setting.1.name=Claim every extension"));
    EXPECT_TRUE(r.Has("component.0.setting.1.kind=checkbox"));
    EXPECT_TRUE(r.Has("component.0.setting.1.guid={1D5B9E70-3C28-4F6A-8A13-E92C0D74B5F6}"));
    EXPECT_TRUE(r.Has("component.0.setting.1.parent={6A0F3D12-8B47-4C5E-9E21-D7B3A45C0F18}"));
    EXPECT_TRUE(r.Has("component.0.setting.1.priority=1"));
    EXPECT_TRUE(r.Has("component.0.setting.1.depth=1"));
    EXPECT_TRUE(r.Has("component.0.setting.1.setting=claim_all"));
    EXPECT_TRUE(r.Has("component.0.setting.1.state=off"));
    EXPECT_TRUE(r.Has("component.0.setting.2.name=Fail opens with \"I/O error\""));
    EXPECT_TRUE(r.Has("component.0.setting.2.kind=radio"));
    EXPECT_TRUE(r.Has("component.0.setting.3.kind=radio"));
    EXPECT_TRUE(r.Has("components=1"));
}

TEST_F(Playhost, SettingsPersistAcrossRuns) {
    RunResult r = Run("config claim_all on");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "claim_all=on\n");
    const auto saved = testsupport::ReadBytes(dir / "profile/settings.cfg");
    EXPECT_NE(std::string(saved.begin(), saved.end()).find("{1D5B9E70-3C28-4F6A-8A13-E92C0D74B5F6}=01\n"),
              std::string::npos);

    r = Run("config");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "claim_all=on\nfail_io=off\nfail_data=off\n");
    r = Run("components");
    EXPECT_TRUE(r.Has("component.0.setting.1.state=on"));

    // Addressed by GUID as well; back off, and that persists too.
    r = Run("config {1d5b9e70-3c28-4f6a-8a13-e92c0d74b5f6} off");
    ASSERT_EQ(r.code, 0);
    r = Run("config");
    EXPECT_TRUE(r.Has("claim_all=off"));
}

// Settings are written atomically and under the profile folder's lock: ten
// processes at once all succeed (each saves the test component's run
// counters), and changes made by processes running at the same time all
// persist.
TEST_F(Playhost, ConcurrentRunsNeitherFailNorLoseSettings) {
    ASSERT_EQ(Run("config claim_all on").code, 0);
    testsupport::WriteText(dir / "song.tst", "0123456789");
    std::string script;
    for (int i = 0; i < 10; ++i)
        script += "( " + Command("open " + Quote((dir / "song.tst").string())) +
                  " >/dev/null; echo \"exit $?\" ) & ";
    RunResult r = Shell(script + "wait");
    std::string all_succeed;
    for (int i = 0; i < 10; ++i) all_succeed += "exit 0\n";
    EXPECT_EQ(r.out, all_succeed);

    // Two processes changing different settings at once: both changes stay.
    r = Shell("( " + Command("config claim_all off") + " >/dev/null; echo \"exit $?\" ) & ( " +
              Command("config fail_data on") + " >/dev/null; echo \"exit $?\" ) & wait");
    EXPECT_EQ(r.out, "exit 0\nexit 0\n");
    EXPECT_EQ(Run("config").out, "claim_all=off\nfail_io=off\nfail_data=on\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "profile/settings.cfg.new"));
}

TEST_F(Playhost, RadioItemsExcludeEachOther) {
    ASSERT_EQ(Run("config fail_io on").code, 0);
    const RunResult r = Run("config fail_data on");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "fail_data=on\nfail_io=off\n");
    EXPECT_EQ(Run("config").out, "claim_all=off\nfail_io=off\nfail_data=on\n");
    // Switching a radio off touches nothing else.
    EXPECT_EQ(Run("config fail_data off").out, "fail_data=off\n");
}

TEST_F(Playhost, OpenPrintsStatsOfAllThreeObjects) {
    testsupport::WriteText(dir / "song.tst", "0123456789");
    for (const std::string& path : {(dir / "song.tst").string(), "file://" + (dir / "song.tst").string()}) {
        const RunResult r = Run("open " + Quote(path));
        ASSERT_EQ(r.code, 0) << r.out;
        EXPECT_TRUE(r.Has("path=" + path));
        EXPECT_TRUE(r.Has("input=playhost_testcomponent.so"));
        EXPECT_TRUE(r.Has("decode.size=10"));
        EXPECT_TRUE(r.Has("info_read.size=10"));
        EXPECT_TRUE(r.Has("info_write.size=10"));
        EXPECT_NE(r.out.find("decode.timestamp=1"), std::string::npos);  // after 1601 + 300 years
    }
}

TEST_F(Playhost, RelativePathsReachTheInputAbsolute) {
    std::filesystem::create_directories(dir / "music");
    testsupport::WriteText(dir / "music" / "song.tst", "0123456789");
    const RunResult r = Run("open ./music/../music/song.tst", true, dir.path().string());
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.Has("path=" + (dir / "music" / "song.tst").lexically_normal().string())) << r.out;
    EXPECT_TRUE(r.Has("decode.size=10"));
}

TEST_F(Playhost, OpenFailuresPrintTheExceptionText) {
    testsupport::WriteText(dir / "song.tst", "x");
    testsupport::WriteText(dir / "song.wav", "x");
    RunResult r = Run("open " + Quote((dir / "missing.tst").string()));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.Has("error=Object not found"));

    r = Run("open " + Quote((dir / "song.wav").string()));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.Has("error=Unsupported file format"));

    ASSERT_EQ(Run("config fail_io on").code, 0);
    r = Run("open " + Quote((dir / "song.tst").string()));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.Has("error=I/O error"));
    EXPECT_EQ(r.out.find("decode.size"), std::string::npos);

    ASSERT_EQ(Run("config claim_all on").code, 0);
    ASSERT_EQ(Run("config fail_io off").code, 0);
    r = Run("open " + Quote((dir / "song.wav").string()));
    EXPECT_EQ(r.code, 0) << r.out;
}

TEST_F(Playhost, UsageErrorsAndBadModules) {
    EXPECT_EQ(Run("").code, 2);
    EXPECT_EQ(Run("frobnicate").code, 2);
    EXPECT_EQ(Run("--bogus components").code, 2);
    EXPECT_EQ(Run("open").code, 2);
    EXPECT_EQ(Run("config claim_all maybe").code, 2);
    EXPECT_EQ(Run("components extra").code, 2);
    const RunResult unknown = Run("config no_such_setting on");
    EXPECT_EQ(unknown.code, 1);
    EXPECT_TRUE(unknown.Has("error=unknown setting: no_such_setting"));

    const RunResult help = Run("--help", false);
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("components"), std::string::npos);
    EXPECT_NE(help.out.find("open PATH"), std::string::npos);

    const RunResult bad =
        Run("--component " + Quote((testsupport::BinDir() / "playhost_notacomponent.so").string()) +
                " components",
            false);
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.out.find("error=not a component"), std::string::npos);
    const RunResult missing =
        Run("--component " + Quote((dir / "nothing.so").string()) + " components", false);
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.out.find("error=cannot load component"), std::string::npos);
}

// Several paths: each file's block exactly as `info` prints it for that path
// alone, an empty line between blocks; a missing file in the middle reports
// its error in its own block, the files after it are still read, and the
// exit code tells that one failed.
TEST_F(Playhost, InfoWithSeveralPathsPrintsOneBlockPerFile) {
    testsupport::WriteText(dir / "a.tst", "0123456789");
    testsupport::WriteText(dir / "c.tst", "x");
    testsupport::WriteText(dir / "d.wav", "x");
    const std::string a = (dir / "a.tst").string();
    const std::string missing = (dir / "missing.tst").string();
    const std::string c = (dir / "c.tst").string();
    const std::string wav = (dir / "d.wav").string();

    const RunResult one = Run("info " + Quote(a));
    ASSERT_EQ(one.code, 0) << one.out;
    EXPECT_EQ(one.out, "path=" + a + "\ninput=playhost_testcomponent.so\ntitle=" + a +
                           "\ninfo:codec=test\nlength=0.004353741496598639\n");
    const RunResult gone = Run("info " + Quote(missing));
    EXPECT_EQ(gone.code, 1);
    EXPECT_EQ(gone.out, "path=" + missing + "\ninput=playhost_testcomponent.so\nerror=Object not found\n");
    const RunResult last = Run("info " + Quote(c));
    ASSERT_EQ(last.code, 0);

    RunResult r = Run("info " + Quote(a) + " " + Quote(missing) + " " + Quote(c));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, one.out + "\n" + gone.out + "\n" + last.out);

    r = Run("info " + Quote(a) + " " + Quote(c));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, one.out + "\n" + last.out);

    // An unclaimed file fails its block alone as well.
    r = Run("info " + Quote(wav) + " " + Quote(a));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "path=" + wav + "\nerror=Unsupported file format\n\n" + one.out);
    EXPECT_EQ(Run("info").code, 2);
}

// A folder tree for scan: claimed files at two depths, an unclaimed one, a
// FIFO and links (to a file, to a folder with a claimed name, back to the
// top, and one that leads nowhere).
class PlayhostScan : public Playhost {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(top() / "sub" / "deeper");
        testsupport::WriteText(top() / "a.tst", "0123456789");
        testsupport::WriteText(top() / "b.txt", "not claimed");
        testsupport::WriteText(top() / "sub" / "c.tst", "c");
        testsupport::WriteText(top() / "sub" / "deeper" / "d.tst", "d");
        std::filesystem::create_symlink(top() / "sub" / "c.tst", top() / "link.tst");
        std::filesystem::create_directory_symlink(top() / "sub", top() / "folder.tst");
        std::filesystem::create_directory_symlink(top(), top() / "loop");
        std::filesystem::create_symlink(top() / "nowhere.tst", top() / "dangling.tst");
        ASSERT_EQ(::mkfifo((top() / "pipe.tst").c_str(), 0600), 0);
    }
    std::filesystem::path top() const { return dir / "music"; }
    std::string Line(const std::string& name) const {
        const std::string path = (top() / name).string();
        return "path=" + path + "\tcodec=test\tlength=0.004353741496598639\ttitle=" + path;
    }
};

TEST_F(PlayhostScan, ListsEveryClaimedFileOnceWithoutFollowingFolderLinks) {
    const RunResult r = Run("scan " + Quote(top().string()));
    EXPECT_EQ(r.code, 1) << "the dangling link is a file that cannot be read\n" << r.out;
    const std::string dangling = "path=" + (top() / "dangling.tst").string() + "\terror=Object not found";
    const std::string expected = Line("a.tst") + "\n" + dangling + "\n" + Line("link.tst") + "\n" +
                                 Line("sub/c.tst") + "\n" + Line("sub/deeper/d.tst") + "\n";
    ASSERT_GE(r.out.size(), expected.size()) << r.out;
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
    // b.txt (unclaimed), folder.tst and loop (links to folders), pipe.tst (a FIFO, never opened).
    const std::string closing = r.out.substr(expected.size());
    EXPECT_TRUE(std::regex_match(
        closing,
        std::regex("files=5\tfailed=1\tskipped=4\tseconds=[0-9]+\\.[0-9]{3}\tper_file=[0-9]+\\.[0-9] us\n")))
        << closing;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no progress display through a pipe";
    EXPECT_EQ(r.out.find("scanning"), std::string::npos);
}

TEST_F(PlayhostScan, EveryExtensionOnceTheComponentClaimsThem) {
    ASSERT_EQ(Run("config claim_all on").code, 0);
    const RunResult r = Run("scan " + Quote((top() / "sub").string()));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, r.out.find("files=")),
              Line("sub/c.tst") + "\n" + Line("sub/deeper/d.tst") + "\n");
    EXPECT_NE(r.out.find("files=2\tfailed=0\tskipped=0\t"), std::string::npos) << r.out;

    testsupport::WriteText(top() / "sub" / "e.doc", "e");
    EXPECT_NE(Run("scan " + Quote((top() / "sub").string())).out.find("files=3\tfailed=0\t"),
              std::string::npos);
}

TEST_F(PlayhostScan, AProgressLineOnATerminalOnly) {
    const auto r = testsupport::RunProgram(
        testsupport::BinDir() / "playhost",
        {"--component", (testsupport::BinDir() / "playhost_testcomponent.so").string(), "--profile",
         (dir / "profile").string(), "scan", (top() / "sub").string()},
        {}, true);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("\r\033[Kscanning 1/2 (50%) c.tst"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\r\033[Kscanning 2/2 (100%) d.tst"), std::string::npos) << r.out;
    // The results stay whole lines, the progress line cleared before each and at the end.
    EXPECT_NE(r.out.find("\r\033[K" + Line("sub/deeper/d.tst") + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\r\033[Kfiles=2\tfailed=0\t"), std::string::npos) << r.out;
}

TEST_F(PlayhostScan, FoldersThatCannotBeListedAreReportedAndSkipped) {
    if (::geteuid() == 0) GTEST_SKIP() << "root lists every folder whatever its mode";
    std::filesystem::create_directories(top() / "sub" / "locked");
    testsupport::WriteText(top() / "sub" / "locked" / "x.tst", "x");
    std::filesystem::permissions(top() / "sub" / "locked", std::filesystem::perms::none);
    const RunResult r = Run("scan " + Quote((top() / "sub").string()));
    std::filesystem::permissions(top() / "sub" / "locked", std::filesystem::perms::owner_all);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.Has("folder=" + (top() / "sub" / "locked").string() + "\terror=Permission denied"))
        << r.out;
    EXPECT_TRUE(r.Has(Line("sub/deeper/d.tst"))) << r.out;
}

// A folder whose full path is longer than the system takes (PATH_MAX) cannot
// be listed, whoever runs the scan: it is reported, and the rest is read.
TEST_F(PlayhostScan, AFolderBeyondThePathLimitIsReportedAndTheRestRead) {
    const std::string name(200, 'n');
    constexpr int kDepth = 24;  // 24 x 201 bytes: well past 4096
    int fd = ::open((top() / "sub").c_str(), O_DIRECTORY | O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<int> fds{fd};
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(::mkdirat(fds.back(), name.c_str(), 0700), 0);
        fds.push_back(::openat(fds.back(), name.c_str(), O_DIRECTORY | O_RDONLY));
        ASSERT_GE(fds.back(), 0);
    }
    const RunResult r = Run("scan " + Quote((top() / "sub").string()));
    // Removed from the deepest up, relative to each parent (the full paths are too long to name).
    for (int i = kDepth; i > 0; --i) {
        ::close(fds[i]);
        ::unlinkat(fds[i - 1], name.c_str(), AT_REMOVEDIR);
    }
    ::close(fds[0]);

    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("\terror=File name too long\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nfolder=" + (top() / "sub").string() + "/" + name + "/"), std::string::npos)
        << r.out;
    EXPECT_TRUE(r.Has(Line("sub/c.tst"))) << r.out;
    EXPECT_TRUE(r.Has(Line("sub/deeper/d.tst"))) << r.out;
    EXPECT_NE(r.out.find("files=2\tfailed=0\t"), std::string::npos) << r.out;
}

TEST_F(PlayhostScan, UsageAndNoFolder) {
    EXPECT_EQ(Run("scan").code, 2);
    EXPECT_EQ(Run("scan a b").code, 2);
    RunResult r = Run("scan " + Quote((top() / "a.tst").string()));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "error=not a folder: " + (top() / "a.tst").string() + "\n");
    r = Run("scan " + Quote((dir / "none").string()));
    EXPECT_EQ(r.code, 1);
    // An empty folder: nothing found, nothing failed.
    std::filesystem::create_directories(dir / "empty");
    r = Run("scan " + Quote((dir / "empty").string()));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 34), "files=0\tfailed=0\tskipped=0\tseconds");
}

}  // namespace
