#include "platform/com/classtable.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/registry/registry.h"

namespace {

struct Entry {
    unsigned long cookie;
    CLSID clsid;
    platform::ClassCreator creator;
};

std::mutex g_table_mutex;
std::vector<Entry>& Table() {
    static std::vector<Entry> table;
    return table;
}
unsigned long g_next_cookie = 1;

// Modules stay loaded for the life of the process, as in-process servers do
// until the process ends; the map keeps one handle per path.
std::mutex g_module_mutex;
std::map<std::string, void*>& Modules() {
    static std::map<std::string, void*> modules;
    return modules;
}

bool FindRegistered(REFCLSID clsid, platform::ClassCreator* creator) {
    std::lock_guard lock(g_table_mutex);
    auto& table = Table();
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        if (it->clsid == clsid) {
            *creator = it->creator;
            return true;
        }
    }
    return false;
}

HRESULT GetModuleClassObject(const std::string& path, REFCLSID clsid, REFIID riid, void** object) {
    void* handle = nullptr;
    {
        std::lock_guard lock(g_module_mutex);
        auto& modules = Modules();
        auto it = modules.find(path);
        if (it != modules.end()) {
            handle = it->second;
        } else {
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) return CO_E_DLLNOTFOUND;
            modules.emplace(path, handle);
        }
    }
    auto entry = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, kDllGetClassObjectName));
    if (!entry) return CO_E_ERRORINDLL;
    return entry(clsid, riid, object);
}

}  // namespace

namespace platform {

ClassRegistration::ClassRegistration(const CLSID& clsid, ClassCreator creator) {
    std::lock_guard lock(g_table_mutex);
    cookie_ = g_next_cookie++;
    Table().push_back(Entry{cookie_, clsid, std::move(creator)});
}

ClassRegistration::~ClassRegistration() {
    if (!cookie_) return;
    std::lock_guard lock(g_table_mutex);
    auto& table = Table();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->cookie == cookie_) {
            table.erase(it);
            break;
        }
    }
}

ClassRegistration::ClassRegistration(ClassRegistration&& other) noexcept : cookie_(other.cookie_) {
    other.cookie_ = 0;
}

ClassRegistration& ClassRegistration::operator=(ClassRegistration&& other) noexcept {
    if (this != &other) {
        ClassRegistration old(std::move(*this));
        cookie_ = other.cookie_;
        other.cookie_ = 0;
    }
    return *this;
}

HRESULT CreateFromModule(const std::string& module_path, REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        GetModuleClassObject(module_path, clsid, IID_IClassFactory, factory.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(nullptr, riid, object);
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

}  // namespace platform

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (platform::ComInitCount() <= 0) return CO_E_NOTINITIALIZED;
    if (outer) return CLASS_E_NOAGGREGATION;
    platform::ClassCreator creator;
    if (FindRegistered(clsid, &creator)) {
        HRESULT hr = creator(riid, object);
        if (FAILED(hr)) *object = nullptr;
        return hr;
    }
    if (!(clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
    std::string module;
    if (!platform::FindInprocServer(platform::FormatGuid(clsid), &module)) return REGDB_E_CLASSNOTREG;
    return platform::CreateFromModule(module, clsid, riid, object);
}
