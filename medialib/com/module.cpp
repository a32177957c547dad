// The module's single exported entry: DllGetClassObject hands out a class
// factory for each class the module serves.
#include "medialib/com/barrier.h"
#include "medialib/com/classes.h"
#include "medialib/detect/parse_cache.h"
#include "platform/export.h"

namespace medialib {
namespace {

using Creator = HRESULT (*)(REFIID, void**);

class ClassFactory final : public platform::ComObject<ClassFactory, IClassFactory> {
  public:
    explicit ClassFactory(Creator creator) : creator_(creator) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        return Guarded([&]() -> HRESULT {
            if (!object) return E_POINTER;
            *object = nullptr;
            if (outer) return CLASS_E_NOAGGREGATION;
            return creator_(riid, object);
        });
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

  private:
    Creator creator_;
};

Creator CreatorFor(REFCLSID clsid) {
    if (clsid == CLSID_MediaLibrary) return &CreateLibraryRootObject;
    if (clsid == CLSID_MediaPicture) return &CreatePictureObject;
    if (clsid == CLSID_MediaItem) return &CreateItemObject;
    return nullptr;
}

}  // namespace
}  // namespace medialib

extern "C" CQ_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    medialib::Creator creator = medialib::CreatorFor(clsid);
    if (!creator) return CLASS_E_CLASSNOTAVAILABLE;
    return medialib::Guarded([&]() -> HRESULT {
        auto* factory = new medialib::ClassFactory(creator);
        HRESULT hr = factory->QueryInterface(riid, object);
        factory->Release();
        return hr;
    });
}

extern "C" CQ_EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }

// How many times the module's content objects and items have parsed a file:
// tests and benchmarks read it to see that a content object and its item
// share one parse.
extern "C" CQ_EXPORT uint64_t MedialibParseCount() { return medialib::EngineParseCache().Parses(); }
