// Starts the imaging library once for every test of an executable, as the
// console tool does at process start.
#include <gtest/gtest.h>

#include "platform/imaging/gdiplus.h"

namespace {

class ImagingEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }

  private:
    ULONG_PTR token_ = 0;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);

}  // namespace

// fontconfig keeps its configuration and font caches for the life of the
// process and frees them only in FcFini, which must not run while Pango still
// holds fonts. LeakSanitizer (in the sanitizer builds) reads this hook.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
