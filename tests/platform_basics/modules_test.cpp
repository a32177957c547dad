#include "platform/kernel/modules.h"

#include <gtest/gtest.h>

namespace {

using AnswerFn = int();

TEST(Modules, LoadsAModuleBesideTheCallerAndResolvesItsFunction) {
    HMODULE module = platform::LoadModuleBeside(reinterpret_cast<const void*>(&platform::LoadModuleBeside),
                                                u"cq_module_test_module.so");
    // The platform code is linked into this test program, so "beside" is the
    // program's own folder, where the build puts the test module.
    ASSERT_NE(module, nullptr) << platform::LastModuleLoadError();
    auto answer = reinterpret_cast<AnswerFn*>(GetProcAddress(module, "cq_module_test_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "cq_no_such_function"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, AMissingModuleIsAnErrorWithItsText) {
    SetLastError(0);
    EXPECT_EQ(platform::LoadModuleBeside(reinterpret_cast<const void*>(&platform::LoadModuleBeside),
                                         u"cq_no_such_module.so"),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(platform::LastModuleLoadError().find("cq_no_such_module.so"), std::string::npos);
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
}

TEST(Modules, ADelayLoadedModuleLoadsOnFirstUseOnly) {
    platform::DelayLoadedModule good(reinterpret_cast<const void*>(&platform::LoadModuleBeside),
                                     u"cq_module_test_module.so");
    EXPECT_FALSE(good.Attempted());
    auto answer = good.Resolve<AnswerFn>("cq_module_test_answer");
    EXPECT_TRUE(good.Attempted());
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(good.Error(), "");

    platform::DelayLoadedModule missing(reinterpret_cast<const void*>(&platform::LoadModuleBeside),
                                        u"cq_no_such_module.so");
    EXPECT_EQ(missing.Resolve<AnswerFn>("cq_module_test_answer"), nullptr);
    EXPECT_NE(missing.Error(), "");
    EXPECT_EQ(missing.Handle(), nullptr);  // tried once, stays failed
}

}  // namespace
