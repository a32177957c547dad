#include "platform/com/classtable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/registry/registry.h"
#include "support/test_support.h"

namespace {

struct IThing : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{11111111-2222-3333-4444-555555555555}");
    virtual int Value() = 0;

  protected:
    ~IThing() = default;
};

constexpr CLSID kThingClass = platform::MakeGuid("{AAAAAAAA-2222-3333-4444-555555555555}");
constexpr CLSID kRootClass = platform::MakeGuid("{787EB924-DF0E-4E88-8310-78305419C70C}");
constexpr IID kRootV1 = platform::MakeGuid("{440511C5-7D8A-4AAD-AE94-13FE055C2AE4}");

class Thing final : public platform::ComObject<Thing, IThing> {
  public:
    explicit Thing(int v) : v_(v) {}
    int Value() override { return v_; }

  private:
    int v_;
};

platform::ClassCreator MakeThing(int v) {
    return [v](REFIID riid, void** object) {
        auto* t = new Thing(v);
        HRESULT hr = t->QueryInterface(riid, object);
        t->Release();
        return hr;
    };
}

class ComThread : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

TEST(Apartment, FirstInitialiseIsOkThenFalsePerThread) {
    ASSERT_EQ(platform::ComInitCount(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] {
        EXPECT_EQ(platform::ComInitCount(), 0) << "each thread has its own count";
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST(Apartment, ForcedFailureForStartUpTests) {
    platform::SetCoInitializeResultForTesting(E_OUTOFMEMORY);
    EXPECT_EQ(CoInitialize(nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(platform::ComInitCount(), 0);
    platform::SetCoInitializeResultForTesting(S_OK);
}

TEST(ClassTable, NeedsComOnTheThread) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IThing::iid, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComThread, RegisteredClassesAreFoundAndHiddenInTurn) {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IThing::iid, &object),
              REGDB_E_CLASSNOTREG);
    {
        platform::ClassRegistration first(kThingClass, MakeThing(1));
        ComPtr<IThing> a;
        ASSERT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IThing::iid,
                                   a.ReleaseAndGetVoidAddress()),
                  S_OK);
        EXPECT_EQ(a->Value(), 1);
        {
            platform::ClassRegistration second(kThingClass, MakeThing(2));
            ComPtr<IThing> b;
            ASSERT_EQ(
                CoCreateInstance(kThingClass, nullptr, CLSCTX_ALL, IThing::iid, b.ReleaseAndGetVoidAddress()),
                S_OK);
            EXPECT_EQ(b->Value(), 2);
        }
        ComPtr<IThing> c;
        ASSERT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IThing::iid,
                                   c.ReleaseAndGetVoidAddress()),
                  S_OK);
        EXPECT_EQ(c->Value(), 1);
        // An interface the object does not have: no object comes back.
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IClassFactory::iid, &none),
                  E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
    }
    EXPECT_EQ(CoCreateInstance(kThingClass, nullptr, CLSCTX_INPROC_SERVER, IThing::iid, &object),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ComThread, ComPtrAdoptsAndAddsReferencesAsAsked) {
    auto* t = new Thing(5);  // one reference, ours
    {
        ComPtr<IThing> added(t);                            // adds one
        ComPtr<IThing> adopted = ComPtr<IThing>::Adopt(t);  // takes ours
        ComPtr<IUnknown> unk = added.As<IUnknown>();
        ASSERT_TRUE(unk);
        EXPECT_EQ(t->AddRef(), 4u);
        t->Release();
    }
    // All released: the object is gone (ASan would report a use after free or a leak otherwise).
}

// The built media library module, found through a registry file that names it.
class ModuleThroughRegistry : public ComThread {
  protected:
    void SetUp() override {
        ComThread::SetUp();
        module_ = testsupport::BinDir() / "medialib.so";
        ASSERT_TRUE(std::filesystem::exists(module_)) << module_;
        reg_ = dir_ / "registry.reg";
        WriteRegistry(true);
        setenv("CQ_REGISTRY_FILE", reg_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CQ_REGISTRY_FILE");
        ComThread::TearDown();
    }
    void WriteRegistry(bool with_class) {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        if (with_class) {
            text +=
                "[HKEY_CLASSES_ROOT\\CLSID\\{787EB924-DF0E-4E88-8310-78305419C70C}\\InprocServer32]\r\n@=\"" +
                module_.string() + "\"\r\n";
        }
        // Written aside and renamed, so that the change is seen as a new file.
        testsupport::WriteText(dir_ / "next.reg", text);
        std::filesystem::rename(dir_ / "next.reg", reg_);
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path module_, reg_;
};

TEST_F(ModuleThroughRegistry, CreatesFromTheModuleAndSeesRegistrationChanges) {
    ComPtr<IUnknown> root;
    ASSERT_EQ(
        CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1, root.ReleaseAndGetVoidAddress()),
        S_OK);
    EXPECT_TRUE(root);

    WriteRegistry(false);
    ComPtr<IUnknown> gone;
    EXPECT_EQ(
        CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1, gone.ReleaseAndGetVoidAddress()),
        REGDB_E_CLASSNOTREG);

    WriteRegistry(true);
    ComPtr<IUnknown> back;
    EXPECT_EQ(
        CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1, back.ReleaseAndGetVoidAddress()),
        S_OK);
}

TEST_F(ModuleThroughRegistry, ThreadsCreateWhileTheRegistryChanges) {
    // Each thread has its own apartment; lookups re-read the registry file
    // while it is being replaced, and the module is loaded once. Every answer
    // is one of the two registrations; once the last one (with the class) is
    // in place, every thread must see it: a lookup that kept a registration
    // read while the file was being replaced would go on refusing.
    std::atomic<bool> writes_done{false};
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            ASSERT_EQ(CoInitialize(nullptr), S_OK);
            for (int i = 0; i < 50 || !writes_done; ++i) {
                ComPtr<IUnknown> root;
                HRESULT hr = CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1,
                                              root.ReleaseAndGetVoidAddress());
                ++calls;
                if (SUCCEEDED(hr)) {
                    EXPECT_TRUE(root);
                } else {
                    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
                }
            }
            ComPtr<IUnknown> last;
            EXPECT_EQ(CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1,
                                       last.ReleaseAndGetVoidAddress()),
                      S_OK);
            CoUninitialize();
        });
    }
    for (int i = 0; i < 20; ++i) WriteRegistry(i % 2 == 1);
    writes_done = true;
    for (auto& t : threads) t.join();
    EXPECT_GE(calls.load(), 200);
}

TEST_F(ModuleThroughRegistry, MissingModuleFileIsReported) {
    testsupport::WriteText(reg_,
                           "REGEDIT4\n[HKEY_CLASSES_ROOT\\CLSID\\{787EB924-DF0E-4E88-8310-78305419C70C}"
                           "\\InprocServer32]\n@=\"no-such-module.so\"\n");
    ComPtr<IUnknown> root;
    EXPECT_EQ(
        CoCreateInstance(kRootClass, nullptr, CLSCTX_INPROC_SERVER, kRootV1, root.ReleaseAndGetVoidAddress()),
        CO_E_DLLNOTFOUND);
    EXPECT_FALSE(root);
}

}  // namespace
