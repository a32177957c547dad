// Loads the built test component as the host does and checks what a
// component must offer: one exported symbol, a client of the right version,
// start-up and shutdown that can run twice, and services that can all be
// enumerated and used across the module boundary (exceptions included).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "host/core/host.h"
#include "host/sdk/advconfig.h"
#include "host/sdk/component.h"
#include "host/sdk/input.h"
#include "support/test_support.h"

namespace {

using testsupport::ScopedTempDir;

std::filesystem::path Module() { return testsupport::BinDir() / "playhost_testcomponent.so"; }

constexpr GUID kInitCount = platform::MakeGuid("{F04B7A26-D1C9-4E35-8B60-2A9E13C7D5F8}");
constexpr GUID kQuitCount = platform::MakeGuid("{39D6E2A8-5B14-4C70-9F3E-B81A06C4D27E}");
constexpr GUID kClaimAll = platform::MakeGuid("{1D5B9E70-3C28-4F6A-8A13-E92C0D74B5F6}");

int32_t SavedInt(playhost::Host& host, const GUID& guid) {
    const auto& values = host.settings().values();
    auto it = values.find(guid);
    if (it == values.end() || it->second.size() != 4) return -1;
    int32_t v = 0;
    std::memcpy(&v, it->second.data(), 4);
    return v;
}

TEST(ComponentConformance, ExportsOnlyTheEntryPoint) {
    const std::string command = "nm -D --defined-only '" + Module().string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> names;
    std::array<char, 512> line{};
    while (std::fgets(line.data(), line.size(), pipe.get())) {
        std::string text(line.data());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t space = text.rfind(' ');
        names.insert(space == std::string::npos ? text : text.substr(space + 1));
    }
    EXPECT_EQ(names, std::set<std::string>{"foobar2000_get_interface"});

    void* handle = ::dlopen(Module().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    EXPECT_NE(::dlsym(handle, "foobar2000_get_interface"), nullptr);
    EXPECT_EQ(::dlsym(handle, "_ZN8core_api7get_apiEv"), nullptr);   // core_api::get_api()
    EXPECT_EQ(::dlsym(handle, "_ZN6cfg_var9list_headEv"), nullptr);  // cfg_var::list_head()
    ::dlclose(handle);
}

TEST(ComponentConformance, ClientAnswersAndEverythingEnumerates) {
    ScopedTempDir dir;
    playhost::Host host(dir / "profile");
    const playhost::ComponentModule& module = host.LoadComponent(Module());
    EXPECT_EQ(module.client->get_version(), 77u);
    EXPECT_FALSE(module.client->is_debug());
    EXPECT_EQ(module.file_name, "playhost_testcomponent.so");
    host.Start();

    size_t factories = 0;
    for (service_factory_base* f : module.Factories()) {
        service_ptr a, b;
        f->instance_create(a);
        f->instance_create(b);
        ASSERT_TRUE(a.is_valid());
        service_ptr self;
        EXPECT_TRUE(a->service_query(self, f->get_class_guid())) << platform::FormatGuid(f->get_class_guid());
        ++factories;
    }
    EXPECT_EQ(factories, 9u);

    auto versions = host.Services<componentversion>();
    ASSERT_EQ(versions.size(), 1u);
    std::string text;
    versions[0]->get_file_name(text);
    EXPECT_EQ(text, "playhost_testcomponent.so");
    versions[0]->get_component_name(text);
    EXPECT_EQ(text, "Playhost Test Component");

    auto validators = host.Services<component_installation_validator>();
    ASSERT_EQ(validators.size(), 1u);
    EXPECT_TRUE(validators[0]->is_installed_correctly());

    auto types = host.Services<input_file_type>();
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0]->get_count(), 1u);
    EXPECT_FALSE(types[0]->get_name(1, text));
    EXPECT_TRUE(types[0]->get_mask(0, text));
    EXPECT_EQ(text, "*.TST;*.TXT");

    EXPECT_EQ(host.Services<advconfig_entry>().size(), 4u);
    EXPECT_EQ(host.Services<advconfig_branch>().size(), 1u);
    auto boxes = host.Services<advconfig_entry_checkbox>();
    ASSERT_EQ(boxes.size(), 3u);
    int radios = 0;
    for (auto& box : boxes) {
        radios += box->is_radio();
        EXPECT_FALSE(box->get_state());
        box->set_state(true);
        EXPECT_TRUE(box->get_state());
        box->reset();
        EXPECT_FALSE(box->get_state());
    }
    EXPECT_EQ(radios, 2);
    EXPECT_EQ(host.Services<initquit>().size(), 1u);
    EXPECT_EQ(host.Services<input_entry>().size(), 1u);
    // The host's own file system comes first among file systems.
    EXPECT_EQ(host.Services<filesystem>().size(), 1u);
    host.Stop();
}

TEST(ComponentConformance, StartAndStopTwiceAcrossTwoLoads) {
    ScopedTempDir dir;
    for (int round = 1; round <= 2; ++round) {
        playhost::Host host(dir / "profile");
        host.LoadComponent(Module());
        host.Start();
        host.Start();  // a second start is ignored
        host.Stop();
        host.Stop();  // so is a second stop
        EXPECT_EQ(SavedInt(host, kInitCount), round);
        EXPECT_EQ(SavedInt(host, kQuitCount), round);
    }
}

TEST(ComponentConformance, InputsWorkAndExceptionsCrossTheBoundary) {
    ScopedTempDir dir;
    testsupport::WriteText(dir / "a.tst", "hello");
    playhost::Host host(dir / "profile");
    host.LoadComponent(Module());
    host.Start();
    auto inputs = host.Services<input_entry>();
    ASSERT_EQ(inputs.size(), 1u);
    service_ptr_t<input_entry> input = inputs[0];
    abort_callback_dummy abort;

    EXPECT_TRUE(input->is_our_path("x.TST", "TST"));
    EXPECT_FALSE(input->is_our_path("x.wav", "wav"));

    const std::string path = "file://" + (dir / "a.tst").string();
    service_ptr_t<input_decoder> decoder;
    input->open_for_decoding(decoder, file_ptr(), path.c_str(), abort);
    EXPECT_EQ(decoder->get_file_stats(abort).m_size, 5u);
    decoder->initialize(0, 0, abort);
    audio_chunk_impl chunk;
    int blocks = 0;
    while (decoder->run(chunk, abort)) {
        ++blocks;
        EXPECT_EQ(chunk.get_channels(), 2u);
        EXPECT_EQ(chunk.get_channel_config(), 3u);
    }
    EXPECT_EQ(blocks, 3);
    EXPECT_THROW(decoder->initialize(1, 0, abort), exception_io_data);
    decoder.release();

    service_ptr_t<input_info_reader> reader;
    EXPECT_THROW(input->open_for_info_read(reader, file_ptr(), (path + ".missing").c_str(), abort),
                 exception_io_not_found);
    EXPECT_TRUE(reader.is_empty());

    // Switch every open to failing through the component's own setting.
    for (auto& box : host.Services<advconfig_entry_checkbox_v2>()) {
        std::string name;
        box->get_setting_name(name);
        if (name == "fail_data") box->set_state(true);
    }
    service_ptr_t<input_info_writer> writer;
    try {
        input->open_for_info_write(writer, file_ptr(), path.c_str(), abort);
        FAIL() << "open succeeded";
    } catch (const exception_io_data& e) {
        EXPECT_STREQ(e.what(), "Unsupported format or corrupted file");
    }
    host.Stop();
}

TEST(ComponentConformance, SavedSettingsReachTheComponent) {
    ScopedTempDir dir;
    std::filesystem::create_directories(dir / "profile");
    testsupport::WriteText(dir / "profile/settings.cfg", platform::FormatGuid(kClaimAll) + "=01\n");
    playhost::Host host(dir / "profile");
    host.LoadComponent(Module());
    host.Start();
    auto inputs = host.Services<input_entry>();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_TRUE(inputs[0]->is_our_path("x.wav", "wav"));
    host.Stop();
}

TEST(ComponentConformance, RefusesWhatIsNotAComponent) {
    ScopedTempDir dir;
    playhost::Host host(dir / "profile");
    EXPECT_THROW(host.LoadComponent(testsupport::BinDir() / "playhost_notacomponent.so"), std::runtime_error);
    EXPECT_THROW(host.LoadComponent(dir / "missing.so"), std::runtime_error);
    testsupport::WriteText(dir / "garbage.so", "not an ELF file");
    EXPECT_THROW(host.LoadComponent(dir / "garbage.so"), std::runtime_error);
    EXPECT_TRUE(host.components().empty());
    host.Start();
    host.Stop();
}

}  // namespace
