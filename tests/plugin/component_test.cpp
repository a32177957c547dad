// The built corvina.so as the host sees it: loaded by playhost::Host (and by
// the playhost program), listed, configured across restarts, opening real and
// generated files through the media library module, losing and regaining the
// library's registration while the host runs, and unloading cleanly.
#include "host/sdk/component.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "host/core/host.h"
#include "host/sdk/advconfig.h"
#include "host/sdk/input.h"
#include "medialib/openmg/openmg_file.h"
#include "support/processes.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;
using testsupport::ScopedTempDir;
using testsupport::ShellQuote;

fs::path Module() { return testsupport::BinDir() / "corvina.so"; }

// Windows file time (100 ns since 1601) of a file's last write.
uint64_t WriteTime(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
           static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
}

// A registry file without the media library's classes, and one naming the
// built library module by its absolute path, for tests that take the library
// away and give it back.
std::string EmptyRegistry() { return "Windows Registry Editor Version 5.00\n"; }

std::string LibraryRegistry() {
    std::ifstream in(testsupport::BinDir() / "registry.reg");
    std::stringstream text;
    text << in.rdbuf();
    std::string reg = text.str();
    const std::string relative = "@=\"medialib.so\"";
    const std::string absolute = "@=\"" + (testsupport::BinDir() / "medialib.so").string() + "\"";
    for (size_t at = reg.find(relative); at != std::string::npos;
         at = reg.find(relative, at + absolute.size()))
        reg.replace(at, relative.size(), absolute);
    return reg;
}

// Replaces the registry file as an installer would: written aside, renamed over.
void InstallRegistry(const fs::path& path, const std::string& text) {
    const fs::path aside = path.string() + ".new";
    testsupport::WriteText(aside, text);
    fs::rename(aside, path);
}

class CorvinaComponent : public ::testing::Test {
  protected:
    void TearDown() override { ::unsetenv("CQ_REGISTRY_FILE"); }

    // Runs the playhost program with corvina.so and this test's profile.
    ProgramResult Playhost(const std::string& args, const std::string& env = "") {
        std::string command = env + " " + ShellQuote((testsupport::BinDir() / "playhost").string()) +
                              " --component " + ShellQuote(Module().string()) + " --profile " +
                              ShellQuote((dir / "profile").string()) + " " + args + " 2>/dev/null";
        return testsupport::RunShell(command);
    }

    // Expects `playhost open` to succeed for all three roles with the file's size and time.
    void ExpectOpens(const fs::path& file, const std::string& host_path = "") {
        const ProgramResult r = Playhost("open " + ShellQuote(host_path.empty() ? file.string() : host_path));
        ASSERT_EQ(r.exit_code, 0) << r.out;
        EXPECT_TRUE(r.HasLine("input=corvina.so")) << r.out;
        for (const char* role : {"decode", "info_read", "info_write"}) {
            EXPECT_TRUE(r.HasLine(std::string(role) + ".size=" + std::to_string(fs::file_size(file))))
                << r.out;
            EXPECT_TRUE(r.HasLine(std::string(role) + ".timestamp=" + std::to_string(WriteTime(file))))
                << r.out;
        }
    }

    ScopedTempDir dir;
};

// Opens `path` through the loaded component's input for reading its info;
// returns "" on success or the exception's text.
std::string OpenThroughHost(playhost::Host& host, const std::string& path) {
    abort_callback_dummy abort;
    for (auto& input : host.Services<input_entry>()) {
        if (!input->is_our_path(path.c_str(), input_entry::g_extension(path.c_str()).c_str())) continue;
        try {
            service_ptr_t<input_info_reader> reader;
            input->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
            return "";
        } catch (const std::exception& e) {
            return e.what();
        }
    }
    return "not claimed";
}

TEST_F(CorvinaComponent, HostListsIdentityFileTypeAndSixSwitchesOff) {
    playhost::Host host(dir / "profile");
    const playhost::ComponentModule& module = host.LoadComponent(Module());
    EXPECT_EQ(module.file_name, "corvina.so");
    host.Start();

    auto versions = host.Services<componentversion>();
    ASSERT_EQ(versions.size(), 1u);
    std::string text;
    versions[0]->get_file_name(text);
    EXPECT_EQ(text, "corvina.so");
    versions[0]->get_component_name(text);
    EXPECT_EQ(text, "Pellwick");
    versions[0]->get_component_version(text);
    EXPECT_EQ(text, "111029");
    versions[0]->get_about_message(text);
    EXPECT_EQ(text, "\"Sony Media Library Earth\" is necessary for this component.");

    auto validators = host.Services<component_installation_validator>();
    ASSERT_EQ(validators.size(), 1u);
    EXPECT_TRUE(validators[0]->is_installed_correctly());

    auto types = host.Services<input_file_type>();
    ASSERT_EQ(types.size(), 1u);
    ASSERT_TRUE(types[0]->get_name(0, text));
    EXPECT_EQ(text, "OMA/3GP Files");
    ASSERT_TRUE(types[0]->get_mask(0, text));
    EXPECT_EQ(text, "*.OMA;*.OMG;*.KDR;*.3GP");

    EXPECT_EQ(host.Services<input_entry>().size(), 1u);
    EXPECT_EQ(host.Services<initquit>().size(), 1u);
    EXPECT_EQ(host.Services<advconfig_branch>().size(), 2u);
    auto switches = host.Services<advconfig_entry_checkbox_v2>();
    ASSERT_EQ(switches.size(), 6u);
    std::vector<std::string> names;
    for (auto& box : switches) {
        box->get_setting_name(text);
        names.push_back(text);
        EXPECT_FALSE(box->get_state()) << text;
    }
    const std::vector<std::string> expected = {"buffering_mode", "support_3gp", "use_user_profile",
                                               "keeps_clean",    "portable",    "write_ntfs_stream"};
    EXPECT_EQ(names, expected);
    host.Stop();
}

TEST_F(CorvinaComponent, ProgramListsTheComponentAndASettingSurvivesARestart) {
    ProgramResult r = Playhost("components");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.HasLine("component.0.name=Pellwick"));
    EXPECT_TRUE(r.HasLine("component.0.installed_correctly=true"));
    EXPECT_TRUE(r.HasLine("component.0.filetype.0.mask=*.OMA;*.OMG;*.KDR;*.3GP"));

    r = Playhost("config");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    for (const char* name : {"buffering_mode", "support_3gp", "use_user_profile", "keeps_clean", "portable",
                             "write_ntfs_stream"})
        EXPECT_TRUE(r.HasLine(std::string(name) + "=off")) << r.out;

    ASSERT_EQ(Playhost("config support_3gp on").exit_code, 0);
    r = Playhost("config");
    EXPECT_TRUE(r.HasLine("support_3gp=on")) << r.out;
    EXPECT_TRUE(r.HasLine("buffering_mode=off")) << r.out;

    // The switch takes effect: a .3gp file is now claimed (and refused by
    // the library as it is not a media file).
    testsupport::WriteText(dir / "clip.3gp", "not a media file");
    r = Playhost("open " + ShellQuote((dir / "clip.3gp").string()));
    EXPECT_TRUE(r.HasLine("input=corvina.so")) << r.out;
    EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
}

TEST_F(CorvinaComponent, ThreeGpIsNotClaimedWhileTheSwitchIsOff) {
    testsupport::WriteText(dir / "clip.3gp", "x");
    const ProgramResult r = Playhost("open " + ShellQuote((dir / "clip.3gp").string()));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(r.HasLine("input=corvina.so")) << r.out;
    EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
}

class RealSamples : public CorvinaComponent, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealSamples, OpenForAllThreeRolesWithSizeAndTime) {
    CQ_REQUIRE_SAMPLE(sample, GetParam());
    ExpectOpens(sample);
}

INSTANTIATE_TEST_SUITE_P(Corvina, RealSamples,
                         ::testing::Values("pronom_03-Untitled-3_atrac3plus.oma",
                                           "pronom_02-Untitled-2_aal_atrac3.oma",
                                           "pronom_02-Untitled-2_openmg_legacy.omg",
                                           "atracdencU_test_atrac3_132k_noid3.oma",
                                           "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma"));

TEST_F(CorvinaComponent, RiffAtracSampleOpensUnderAClaimedName) {
    // The library opens by content; the input claims by extension only.
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3");
    ProgramResult r = Playhost("open " + ShellQuote(sample.string()));
    EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
    EXPECT_FALSE(r.HasLine("input=corvina.so")) << r.out;
    fs::create_symlink(sample, dir / "sine.OMA");
    ExpectOpens(sample, (dir / "sine.OMA").string());
}

TEST_F(CorvinaComponent, GeneratedFilesOpenUnderEveryClaimedExtensionAndFileScheme) {
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "tone.oma", 1.0));
    ExpectOpens(dir / "tone.oma");
    ExpectOpens(dir / "tone.oma", "FILE://" + (dir / "tone.oma").string());
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "Tone Été.OMG", 0.5));
    ExpectOpens(dir / "Tone Été.OMG");
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "tone.kdr", 0.25));
    ExpectOpens(dir / "tone.kdr");
}

TEST_F(CorvinaComponent, MissingEmptyOrNonAudioFilesAreUnsupported) {
    testsupport::WriteText(dir / "text.oma", "This is a text file, not audio.\n");
    testsupport::WriteBytes(dir / "empty.omg", {});
    std::vector<uint8_t> truncated;
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "whole.oma", 0.5));
    truncated = testsupport::ReadBytes(dir / "whole.oma");
    truncated.resize(64);
    testsupport::WriteBytes(dir / "cut.oma", truncated);
    for (const fs::path& file : {dir / "missing.oma", dir / "text.oma", dir / "empty.omg", dir / "cut.oma"}) {
        const ProgramResult r = Playhost("open " + ShellQuote(file.string()));
        EXPECT_EQ(r.exit_code, 1) << file;
        EXPECT_TRUE(r.HasLine("input=corvina.so")) << r.out;
        EXPECT_TRUE(r.HasLine("error=Unsupported file format")) << r.out;
    }
    const ProgramResult r = Playhost("open " + ShellQuote("/music/\xff.oma"));
    EXPECT_TRUE(r.HasLine("error=Unsupported format or corrupted file")) << r.out;
}

TEST_F(CorvinaComponent, UnregisteredLibraryIsAnIoErrorInTheProgram) {
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "tone.oma", 0.25));
    testsupport::WriteText(dir / "empty.reg", EmptyRegistry());
    const ProgramResult r = Playhost("open " + ShellQuote((dir / "tone.oma").string()),
                                     "CQ_REGISTRY_FILE=" + ShellQuote((dir / "empty.reg").string()));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.HasLine("input=corvina.so")) << r.out;
    EXPECT_TRUE(r.HasLine("error=I/O error")) << r.out;
}

TEST_F(CorvinaComponent, RegistrationThatReturnsIsUsedWithoutRestartingTheHost) {
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "tone.oma", 0.25));
    const fs::path registry = dir / "registry.reg";
    testsupport::WriteText(registry, EmptyRegistry());
    ::setenv("CQ_REGISTRY_FILE", registry.c_str(), 1);

    playhost::Host host(dir / "profile");
    host.LoadComponent(Module());
    host.Start();  // the library cannot be created at start-up
    const std::string path = (dir / "tone.oma").string();
    EXPECT_EQ(OpenThroughHost(host, path), "I/O error");
    EXPECT_EQ(OpenThroughHost(host, path), "I/O error");

    InstallRegistry(registry, LibraryRegistry());
    EXPECT_EQ(OpenThroughHost(host, path), "");
    EXPECT_EQ(OpenThroughHost(host, (dir / "missing.oma").string()), "Unsupported file format");
    host.Stop();
}

TEST(CorvinaModule, ExportsOnlyTheEntryPointAndIsPlayhostsDefault) {
    const ProgramResult nm =
        testsupport::RunShell("nm -D --defined-only " + ShellQuote(Module().string()) + " 2>/dev/null");
    ASSERT_EQ(nm.exit_code, 0);
    std::vector<std::string> symbols;
    std::istringstream lines(nm.out);
    for (std::string text; std::getline(lines, text);)
        symbols.push_back(text.substr(text.find_last_of(' ') + 1) + "\n");
    EXPECT_EQ(symbols, std::vector<std::string>{"foobar2000_get_interface\n"});

    ScopedTempDir dir;
    const ProgramResult components =
        testsupport::RunShell(ShellQuote((testsupport::BinDir() / "playhost").string()) + " --profile " +
                              ShellQuote((dir / "p").string()) + " components 2>/dev/null");
    EXPECT_EQ(components.exit_code, 0);
    const std::string& out = components.out;
    EXPECT_NE(out.find("component.0.file=corvina.so\n"), std::string::npos) << out;
}

TEST_F(CorvinaComponent, LoadsStartsStopsAndUnloadsTwice) {
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(dir / "tone.oma", 0.25));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        playhost::Host host(dir / "profile");
        host.LoadComponent(Module());
        host.Start();
        EXPECT_EQ(OpenThroughHost(host, (dir / "tone.oma").string()), "");
        host.Stop();
    }  // each Host unloads the module (dlclose) as it goes
}

}  // namespace
