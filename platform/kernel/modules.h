// Loading a module on first use, as a Windows program delay-loads a DLL.
//
// A program or module that needs a heavy dependency only for some of its work
// (FFmpeg for decoding, Cairo for pictures) keeps that code in a module of its
// own beside itself and loads it the first time it is needed; a run that never
// needs it never pays for loading it. Loaded modules stay loaded until the
// process ends, as in-process servers do: code that callbacks may still reach
// is never unloaded.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "platform/files/files.h"

using FARPROC = void*;

// Win32 error codes that only module loading gives.
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// dlopen of the path (a relative path is relative to the working folder).
// Null on failure with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR path);
// Null when the module has no such symbol (ERROR_PROC_NOT_FOUND).
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

namespace platform {

// Loads `file_name` from the folder of the module (program or shared object)
// whose code holds `anchor`. Null on failure (ERROR_MOD_NOT_FOUND).
HMODULE LoadModuleBeside(const void* anchor, std::u16string_view file_name);

// The text of the last failed load in this thread ("" when none), for messages.
std::string LastModuleLoadError();

// One module loaded on first use, shared by every thread:
//
//   static platform::DelayLoadedModule g_av(&SomeFunctionOfMine, u"medialib_av.so");
//   auto open = g_av.Resolve<OpenFn>("cq_av_open");  // null when unavailable
//
// The load is tried once; a failed load stays failed for the process.
class DelayLoadedModule {
  public:
    DelayLoadedModule(const void* anchor, std::u16string_view file_name)
        : anchor_(anchor), name_(file_name) {}
    DelayLoadedModule(const DelayLoadedModule&) = delete;
    DelayLoadedModule& operator=(const DelayLoadedModule&) = delete;

    // Null when the module could not be loaded (see Error()).
    HMODULE Handle();
    // The symbol as a function pointer type; null when module or symbol is missing.
    template <class Fn>
    Fn* Resolve(const char* symbol) {
        HMODULE module = Handle();
        return module ? reinterpret_cast<Fn*>(GetProcAddress(module, symbol)) : nullptr;
    }
    // Why the load failed ("" when it did not).
    const std::string& Error() {
        Handle();
        return error_;
    }
    // Whether the load was done (successfully or not); never loads.
    bool Attempted() const;

  private:
    const void* anchor_;
    std::u16string name_;
    std::once_flag once_;
    HMODULE module_ = nullptr;
    std::string error_;
    mutable std::mutex attempted_mutex_;
    bool attempted_ = false;
};

}  // namespace platform
