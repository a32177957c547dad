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
