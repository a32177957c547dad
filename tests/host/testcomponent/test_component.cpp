// A small component for testing the host: it registers one of each kind of
// service the host lists, and an input that opens any existing file.
//
// Its settings steer the input, so tests can drive every path:
//   claim_all  (check box) claim every extension, not only "tst";
//   fail_io    (radio)     every open throws exception_io;
//   fail_data  (radio)     every open throws exception_io_data.
// Two counters, saved like any setting, count on_init and on_quit calls, so a
// test can see start-up and shutdown through the saved configuration.
#include <cstdint>
#include <string>

#include "host/sdk/advconfig.h"
#include "host/sdk/cfg_var.h"
#include "host/sdk/component.h"
#include "host/sdk/input_impl.h"
#include "host/sdk/text.h"

namespace {

constexpr GUID kBranch = platform::MakeGuid("{6A0F3D12-8B47-4C5E-9E21-D7B3A45C0F18}");
constexpr GUID kClaimAll = platform::MakeGuid("{1D5B9E70-3C28-4F6A-8A13-E92C0D74B5F6}");
constexpr GUID kFailIo = platform::MakeGuid("{C2E84A19-7F03-4B6D-A5C8-31E0F96D2B47}");
constexpr GUID kFailData = platform::MakeGuid("{8E17C5B3-0A92-4D48-B6F1-5C3D27E0A984}");
constexpr GUID kInitCount = platform::MakeGuid("{F04B7A26-D1C9-4E35-8B60-2A9E13C7D5F8}");
constexpr GUID kQuitCount = platform::MakeGuid("{39D6E2A8-5B14-4C70-9F3E-B81A06C4D27E}");

componentversion_factory g_version("Playhost Test Component", "1.0",
                                   "Exercises the host.\nThe second line of the about text.");
component_installation_validator_factory g_validator("playhost_testcomponent.so");
input_file_type_factory g_file_type("Test Files", "*.TST;*.TXT", true);

advconfig_branch_factory g_branch("Playhost test component", kBranch, advconfig_entry::guid_branch_tools, 0);
advconfig_checkbox_factory cfg_claim_all("Claim every extension", "claim_all", kClaimAll, kBranch, 1, false);
advconfig_checkbox_factory cfg_fail_io("Fail opens with \"I/O error\"", "fail_io", kFailIo, kBranch, 2, false,
                                       true);
advconfig_checkbox_factory cfg_fail_data("Fail opens with a data error", "fail_data", kFailData, kBranch, 3,
                                         false, true);

cfg_int_t<int32_t> cfg_init_count(kInitCount, 0);
cfg_int_t<int32_t> cfg_quit_count(kQuitCount, 0);

class CTestInitQuit : public initquit {
  public:
    void on_init() override {
        // The host must have announced its services and offer a profile folder.
        if (core_api::are_services_available() && !core_api::get_profile_path().empty()) {
            cfg_init_count = cfg_init_count + 1;
        }
    }
    void on_quit() override { cfg_quit_count = cfg_quit_count + 1; }
};
initquit_factory_t<CTestInitQuit> g_initquit;

class input_test {
  public:
    void open(const file_ptr&, const char* path, t_input_open_reason, abort_callback& abort) {
        if (cfg_fail_io.get()) throw exception_io();
        if (cfg_fail_data.get()) throw exception_io_data();
        t_filestats stats;
        bool writeable = false;
        filesystem::g_get_stats(path, stats, writeable, abort);  // missing file: exception_io_not_found
        m_path = path;
    }
    void get_info(file_info& info, abort_callback&) {
        info.meta_set("title", m_path.c_str());
        info.info_set("codec", "test");
        info.set_length(kBlocks * kFrames / double(kRate));
    }
    t_filestats get_file_stats(abort_callback& abort) {
        t_filestats stats;
        bool writeable = false;
        filesystem::g_get_stats(m_path.c_str(), stats, writeable, abort);
        return stats;
    }
    void decode_initialize(unsigned, abort_callback&) { m_block = 0; }
    bool decode_run(audio_chunk& chunk, abort_callback&) {
        if (m_block >= kBlocks) return false;
        int16_t pcm[kFrames * 2];
        for (int i = 0; i < kFrames * 2; ++i) pcm[i] = static_cast<int16_t>(m_block * 1000 + i);
        chunk.set_data_fixedpoint_ex(pcm, sizeof(pcm), kRate, 2, 16,
                                     audio_chunk::FLAG_LITTLE_ENDIAN | audio_chunk::FLAG_SIGNED,
                                     audio_chunk::channel_front_left | audio_chunk::channel_front_right);
        ++m_block;
        return true;
    }
    void decode_seek(double seconds, abort_callback&) {
        m_block = static_cast<int>(seconds * kRate / kFrames);
    }
    bool decode_can_seek() { return true; }
    bool decode_get_dynamic_info(file_info&, double&) { return false; }
    bool decode_get_dynamic_info_track(file_info&, double&) { return false; }
    void decode_on_idle(abort_callback&) {}
    void retag(const file_info&, abort_callback&) {}

    static bool g_is_our_content_type(const char*) { return false; }
    static bool g_is_our_path(const char*, const char* extension) {
        return cfg_claim_all.get() || stricmp_utf8(extension, "tst") == 0;
    }

  private:
    static constexpr int kBlocks = 3;
    static constexpr int kFrames = 64;
    static constexpr unsigned kRate = 44100;
    std::string m_path;
    int m_block = 0;
};
input_singletrack_factory_t<input_test> g_input;

}  // namespace
