// The filter-graph runtime as an in-process server module (quartz.so): the
// registry names it for the graph manager, the Sample Grabber, the Null
// Renderer and the system clock, so that every module creating them by class
// id gets the same runtime.
#include "platform/export.h"
#include "platform/graph/graph.h"

namespace {

using Creator = HRESULT (*)(REFIID, void**);

class ClassFactory final : public platform::ComObject<ClassFactory, IClassFactory> {
  public:
    explicit ClassFactory(Creator creator) : creator_(creator) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return creator_(riid, object);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

  private:
    Creator creator_;
};

Creator CreatorFor(REFCLSID clsid) {
    using namespace platform::graph;
    if (clsid == CLSID_FilterGraph) return &CreateFilterGraph;
    if (clsid == CLSID_SampleGrabber) return &CreateSampleGrabber;
    if (clsid == CLSID_NullRenderer) return &CreateNullRenderer;
    if (clsid == CLSID_SystemClock) return &CreateSystemClock;
    return nullptr;
}

}  // namespace

extern "C" CQ_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    Creator creator = CreatorFor(clsid);
    if (!creator) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new ClassFactory(creator);
    HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

extern "C" CQ_EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }
