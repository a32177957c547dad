#include "platform/com/guid.h"

#include <gtest/gtest.h>

namespace {

constexpr GUID kRoot = platform::MakeGuid("{787EB924-DF0E-4E88-8310-78305419C70C}");

TEST(Guid, CompileTimeAndRunTimeParsingAgree) {
    auto parsed = platform::ParseGuid("{787eb924-df0e-4e88-8310-78305419c70c}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, kRoot);
    EXPECT_EQ(kRoot.Data1, 0x787EB924u);
    EXPECT_EQ(kRoot.Data2, 0xDF0E);
    EXPECT_EQ(kRoot.Data3, 0x4E88);
    EXPECT_EQ(kRoot.Data4[0], 0x83);
    EXPECT_EQ(kRoot.Data4[7], 0x0C);
}

TEST(Guid, FormatsUpperCaseWithBracesAndParsesBack) {
    EXPECT_EQ(platform::FormatGuid(kRoot), "{787EB924-DF0E-4E88-8310-78305419C70C}");
    EXPECT_EQ(platform::FormatGuidW(kRoot), u"{787EB924-DF0E-4E88-8310-78305419C70C}");
    EXPECT_EQ(platform::ParseGuid(platform::FormatGuidW(kRoot)), kRoot);
    EXPECT_EQ(platform::ParseGuid("787EB924-DF0E-4E88-8310-78305419C70C"), kRoot);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad :
         {"", "{}", "{787EB924-DF0E-4E88-8310-78305419C70}", "{787EB924DF0E-4E88-8310-78305419C70CC}",
          "{787EB924-DF0E-4E88-8310-78305419C70G}", "(787EB924-DF0E-4E88-8310-78305419C70C)",
          "{787EB924-DF0E-4E88-8310-78305419C70C"}) {
        EXPECT_FALSE(platform::ParseGuid(bad)) << bad;
    }
}

TEST(Guid, OrdersAndComparesByBytes) {
    GUID a = kRoot, b = kRoot;
    EXPECT_TRUE(IsEqualGUID(a, b));
    b.Data4[7] ^= 1;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE((a < b) != (b < a));
    EXPECT_NE(kRoot, GUID_NULL);
}

}  // namespace
