// No exception leaves a method of the module: callers reach them through
// C-style vtable calls. An allocation that fails inside a method is answered
// with E_OUTOFMEMORY, any other exception with E_FAIL.
//
// This program replaces the global operator new so that a test can make every
// allocation from a given size on fail; the module resolves operator new to
// the program's. The sanitizer builds keep their own allocator and skip.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "com_fixture.h"
#include "library/media_ids.h"
#include "medialib/com/barrier.h"
#include "medialib/openmg/openmg_file.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CQ_OWN_ALLOCATOR 0
#else
#define CQ_OWN_ALLOCATOR 1
#endif

namespace {
std::atomic<size_t> g_fail_from{0};  // 0: no allocation fails
}  // namespace

#if CQ_OWN_ALLOCATOR
// The replacement pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    const size_t limit = g_fail_from.load();
    if (limit != 0 && size >= limit) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

using comtest::MediaLibraryModule;
namespace attr = medialib::attr;

// Large allocations fail while it lives.
struct FailingAllocations {
    explicit FailingAllocations(size_t from) { g_fail_from = from; }
    ~FailingAllocations() { g_fail_from = 0; }
};

TEST(ComBarrier, ExceptionsBecomeStatusCodes) {
    EXPECT_EQ(medialib::Guarded([]() -> HRESULT { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(medialib::Guarded([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(medialib::Guarded([]() -> HRESULT { throw std::logic_error("a fault of ours"); }), E_FAIL);
    EXPECT_EQ(medialib::Guarded([]() -> HRESULT { throw 7; }), E_FAIL);
}

class ComBarrierModule : public MediaLibraryModule {
  protected:
    void SetUp() override {
        if (!CQ_OWN_ALLOCATOR) GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail here";
        MediaLibraryModule::SetUp();
    }
};

TEST_F(ComBarrierModule, PictureDataThatCannotBeHeldIsOutOfMemory) {
    ComPtr<MediaPicture> picture;
    ASSERT_EQ(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                               picture.ReleaseAndGetVoidAddress()),
              S_OK);
    const std::vector<BYTE> bytes(1 << 20, 0x55);
    {
        FailingAllocations fail(1 << 19);
        EXPECT_EQ(picture->SetData(static_cast<ULONG>(bytes.size()), bytes.data()), E_OUTOFMEMORY);
    }
    EXPECT_EQ(picture->SetData(static_cast<ULONG>(bytes.size()), bytes.data()), S_OK);
}

TEST_F(ComBarrierModule, ItemCallsThatRunOutOfMemoryFailCleanly) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "tone.oma";
    ASSERT_TRUE(medialib::openmg::WriteDemoOma(path, 0.5));
    ComPtr<MediaItem> item = Open(path, kMediaItemWrite);
    ASSERT_TRUE(item);

    const std::u16string long_title(100000, u'x');
    platform::Variant value = platform::Variant::FromString(long_title);
    {
        FailingAllocations fail(100000);
        EXPECT_EQ(item->SetAttribute(attr::Title, 1, value.Get()), E_OUTOFMEMORY);
    }
    EXPECT_EQ(item->SetAttribute(attr::Title, 1, value.Get()), S_OK);
    EXPECT_EQ(item->Close(), S_OK);
}

}  // namespace
