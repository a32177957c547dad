#include "host/core/host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/core/id3v2_tag_service.h"
#include "host/core/local_filesystem.h"
#include "host/sdk/component.h"
#include "host/sdk/filesystem.h"

namespace playhost {
namespace {

Host* g_current = nullptr;

class MemoryReader final : public stream_reader {
  public:
    explicit MemoryReader(const std::vector<uint8_t>& data) : m_data(data) {}
    size_t read(void* out, size_t bytes, abort_callback&) override {
        const size_t n = std::min(bytes, m_data.size() - m_pos);
        if (n) std::memcpy(out, m_data.data() + m_pos, n);
        m_pos += n;
        return n;
    }

  private:
    const std::vector<uint8_t>& m_data;
    size_t m_pos = 0;
};

class MemoryWriter final : public stream_writer {
  public:
    void write(const void* data, size_t bytes, abort_callback&) override {
        const auto* p = static_cast<const uint8_t*>(data);
        buffer.insert(buffer.end(), p, p + bytes);
    }
    std::vector<uint8_t> buffer;
};

struct DlCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};

}  // namespace

std::vector<service_factory_base*> ComponentModule::Factories() const {
    std::vector<service_factory_base*> out;
    for (service_factory_base* f = client ? client->get_service_list() : nullptr; f; f = f->get_next()) {
        out.push_back(f);
    }
    return out;
}

std::filesystem::path DefaultProfileDir() {
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".playhost";
}

namespace {
// Absolute, normalised, without a trailing separator.
std::filesystem::path NormalizeFolder(const std::filesystem::path& folder) {
    std::filesystem::path out = std::filesystem::absolute(folder).lexically_normal();
    if (!out.has_filename() && out.has_parent_path() && out != out.root_path()) out = out.parent_path();
    return out;
}
}  // namespace

Host::Host(std::filesystem::path profile_dir)
    : m_profile_dir(NormalizeFolder(profile_dir)),
      m_profile_host_path(fb2k::native_path_to_host(m_profile_dir.string())),
      m_settings(m_profile_dir / "settings.cfg") {
    if (g_current) throw std::runtime_error("only one host may exist at a time");
    std::error_code ec;
    std::filesystem::create_directories(m_profile_dir, ec);
    if (!std::filesystem::is_directory(m_profile_dir, ec)) {
        throw std::runtime_error("cannot create profile folder " + m_profile_dir.string());
    }
    m_settings.Load();
    AddHostService(filesystem::class_guid, CreateLocalFilesystem());
    AddHostService(tag_processor_id3v2::class_guid, CreateId3v2TagService());
    g_current = this;
    core_api::set_api(this);
}

Host::~Host() {
    try {
        Stop();
    } catch (...) {
        // Settings that cannot be saved at destruction are lost; Stop() called
        // explicitly reports it.
    }
    UnloadAll();
    m_host_services.clear();
    core_api::set_api(nullptr);
    g_current = nullptr;
}

void Host::AddHostService(const GUID& class_guid, service_ptr service) {
    m_host_services.emplace_back(class_guid, std::move(service));
}

const ComponentModule& Host::LoadComponent(const std::filesystem::path& path) {
    if (m_started) throw std::runtime_error("components must be loaded before start-up");
    auto module = std::make_unique<ComponentModule>();
    module->path = std::filesystem::absolute(path).lexically_normal();
    module->file_name = module->path.filename().string();

    ::dlerror();
    std::unique_ptr<void, DlCloser> handle(::dlopen(module->path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = ::dlerror();
        throw std::runtime_error("cannot load component " + module->path.string() + ": " +
                                 (why ? why : "unknown"));
    }
    auto entry =
        reinterpret_cast<foobar2000_get_interface_t>(::dlsym(handle.get(), "foobar2000_get_interface"));
    if (!entry)
        throw std::runtime_error("not a component (no foobar2000_get_interface): " + module->path.string());
    foobar2000_client* client = entry(this, handle.get());
    if (!client) throw std::runtime_error("component gave no client object: " + module->path.string());
    if (client->get_version() != foobar2000_client::FOOBAR2000_CLIENT_VERSION) {
        throw std::runtime_error("component built for another host version (client version " +
                                 std::to_string(client->get_version()) + "): " + module->path.string());
    }
    client->set_library_path(module->path.c_str(), module->file_name.c_str());
    const std::vector<uint8_t> config = m_settings.ToConfigStream();
    MemoryReader reader(config);
    abort_callback_dummy abort;
    try {
        client->set_config(&reader, abort);
    } catch (const std::exception& e) {
        throw std::runtime_error("component rejected its settings (" + std::string(e.what()) +
                                 "): " + module->path.string());
    }
    module->client = client;
    module->handle = handle.release();
    m_modules.push_back(std::move(module));
    return *m_modules.back();
}

void Host::Start() {
    if (m_started) return;
    m_started = true;
    for (auto& m : m_modules) m->client->services_init(true);
    for (auto& service : Services<initquit>()) service->on_init();
}

void Host::Stop() {
    if (!m_started) return;
    m_started = false;
    for (auto& service : Services<initquit>()) service->on_quit();
    SaveSettings();
    for (auto& m : m_modules) m->client->services_init(false);
}

void Host::SaveSettings() {
    abort_callback_dummy abort;
    for (auto& m : m_modules) {
        MemoryWriter writer;
        m->client->get_config(&writer, abort);
        if (!m_settings.MergeConfigStream(writer.buffer)) {
            throw std::runtime_error("component wrote damaged settings: " + m->path.string());
        }
    }
    m_settings.Save();
}

void Host::UnloadAll() {
    // Later modules may hold services of earlier ones; unload in reverse.
    while (!m_modules.empty()) {
        ::dlclose(m_modules.back()->handle);
        m_modules.pop_back();
    }
}

bool Host::service_enum_create(service_ptr& out, const GUID& class_guid, size_t index) {
    for (auto& [guid, service] : m_host_services) {
        if (guid != class_guid) continue;
        if (index == 0) {
            out = service;
            return true;
        }
        --index;
    }
    for (auto& m : m_modules) {
        for (service_factory_base* f = m->client->get_service_list(); f; f = f->get_next()) {
            if (f->get_class_guid() != class_guid) continue;
            if (index == 0) {
                f->instance_create(out);
                return true;
            }
            --index;
        }
    }
    out.release();
    return false;
}

}  // namespace playhost
