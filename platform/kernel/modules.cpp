#include "platform/kernel/modules.h"

#include <dlfcn.h>

namespace {

thread_local std::string t_last_error;

HMODULE Open(const std::string& native_path) {
    void* handle = ::dlopen(native_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = ::dlerror();
        t_last_error = text ? text : native_path + ": cannot be loaded";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    t_last_error.clear();
    return handle;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Open(platform::NativePath(path));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* symbol = ::dlsym(module, name);
    if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
    return symbol;
}

BOOL FreeLibrary(HMODULE module) {
    if (!module || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace platform {

HMODULE LoadModuleBeside(const void* anchor, std::u16string_view file_name) {
    const std::u16string self = ModulePathOf(anchor);
    if (self.empty()) {
        t_last_error = "the loading module has no path";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::u16string path = FolderOf(self);
    path += file_name;
    return Open(NativePath(path));
}

std::string LastModuleLoadError() { return t_last_error; }

HMODULE DelayLoadedModule::Handle() {
    std::call_once(once_, [this] {
        module_ = LoadModuleBeside(anchor_, name_);
        if (!module_) error_ = LastModuleLoadError();
        std::lock_guard lock(attempted_mutex_);
        attempted_ = true;
    });
    return module_;
}

bool DelayLoadedModule::Attempted() const {
    std::lock_guard lock(attempted_mutex_);
    return attempted_;
}

}  // namespace platform
