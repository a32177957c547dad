// Creating objects by class id: CoCreateInstance over a class table.
//
// A class id is looked up first in the process's own table (built-in classes
// and classes that tests register to observe exact calls), then in the
// registry: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32's default value
// names an in-process server module (a path, relative to the registry file's
// folder unless absolute). The module is loaded once with dlopen and stays
// loaded; its exported DllGetClassObject hands out a class factory whose
// CreateInstance makes the object. The registry file is re-read when it
// changes, so a registration that is removed or returns takes effect at the
// next creation without restarting the process.
#pragma once

#include <functional>
#include <string>

#include "platform/com/unknown.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = 0x17;

// The entry an in-process server module exports.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
inline constexpr const char* kDllGetClassObjectName = "DllGetClassObject";

// Creates an object of the class. Fails with CO_E_NOTINITIALIZED on a thread
// without CoInitialize, REGDB_E_CLASSNOTREG when the class is unknown,
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when its module cannot be loaded, or with
// the factory's own status. On failure *object is null.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** object);

namespace platform {

// Makes one object of a registered class: (interface id, out object) → status.
using ClassCreator = std::function<HRESULT(REFIID riid, void** object)>;

// Registers a class in the process's table for as long as the registration
// object lives (tests' fakes and built-in classes). A later registration of the
// same class id hides an earlier one until it ends.
class ClassRegistration {
  public:
    ClassRegistration() = default;
    ClassRegistration(const CLSID& clsid, ClassCreator creator);
    ~ClassRegistration();
    ClassRegistration(ClassRegistration&& other) noexcept;
    ClassRegistration& operator=(ClassRegistration&& other) noexcept;
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

  private:
    unsigned long cookie_ = 0;
};

// Creates an object through a module's DllGetClassObject (used by the class
// table; exposed so that a host can load a module it was handed by path).
HRESULT CreateFromModule(const std::string& module_path, REFCLSID clsid, REFIID riid, void** object);

}  // namespace platform
