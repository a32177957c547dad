// A fake media library root that records every call made on it, registered in
// the class table in place of the real module.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "support/media_library_stubs.h"

namespace fakes {

class FakeLibraryRoot final : public testsupport::StubMediaLibrary {
  public:
    // Which interface version answers (1..5); 0: none.
    explicit FakeLibraryRoot(std::vector<std::string>* log) : log_(log) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid != IID_IUnknown) {
            bool known = false;
            for (const IID& iid : kMediaLibraryInterfaceIds) known |= riid == iid;
            if (!known) return E_NOINTERFACE;
        }
        *object = static_cast<MediaLibrary*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG n = --refs;
        if (n == 0) {
            log_->push_back("destroyed");
            delete this;
        }
        return n;
    }

    HRESULT Initialize() override {
        log_->push_back("Initialize");
        return initialize_result;
    }
    HRESULT IsInitialized(LONG* count) override {
        log_->push_back("IsInitialized");
        *count = initialized_count;
        return is_initialized_result;
    }
    HRESULT SetApplication(LONG id) override {
        log_->push_back("SetApplication(" + std::to_string(id) + ")");
        return set_application_result;
    }
    HRESULT SetApplication(LONG id, LONG mode, LPCWSTR reserved, BSTR extra) override {
        log_->push_back("SetApplication(" + std::to_string(id) + "," + std::to_string(mode) + "," +
                        (reserved ? "text" : "null") + "," + (extra ? "text" : "null") + ")");
        return set_application_result;
    }

    std::atomic<ULONG> refs{1};
    HRESULT initialize_result = S_OK;
    HRESULT set_application_result = S_OK;
    HRESULT is_initialized_result = S_OK;
    LONG initialized_count = 0;

  private:
    std::vector<std::string>* log_;
};

// Registers the fake root class. Only the interface version `answering`
// (1..5, or 0 for none) gives an object; every attempt is logged as
// "create vN" and every object made is kept in `made`.
class FakeLibraryClass {
  public:
    explicit FakeLibraryClass(int answering, std::vector<std::string>* log)
        : registration_(CLSID_MediaLibrary, [this, answering, log](REFIID riid, void** object) {
              int version = 0;
              for (int v = 1; v <= 5; ++v)
                  if (riid == kMediaLibraryInterfaceIds[v - 1]) version = v;
              log->push_back("create v" + std::to_string(version));
              if (version != answering) return E_NOINTERFACE;
              auto* root = new FakeLibraryRoot(log);
              if (configure) configure(*root);
              last = root;
              *object = static_cast<MediaLibrary*>(root);
              return S_OK;
          }) {}

    std::function<void(FakeLibraryRoot&)> configure;
    FakeLibraryRoot* last = nullptr;

  private:
    platform::ClassRegistration registration_;
};

}  // namespace fakes
