// Starts COM and the picture services once for every test of an executable,
// as the program does at start-up, so that JpegEncoderClsid is found.
#include <gtest/gtest.h>

#include "platform/com/apartment.h"
#include "tool/commands/entry.h"

namespace {

class PictureEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        token_ = quillet::StartPictureServices();
    }
    void TearDown() override {
        quillet::StopPictureServices(token_);
        CoUninitialize();
    }

  private:
    uintptr_t token_ = 0;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PictureEnvironment);

}  // namespace
