// Replays tests/data/crash through the fuzz entries: each folder there is the
// crash corpus of the target of its name, and the files directly in it belong
// to "open". Every file once made a target crash, hang or leak; it must now
// give a clean result. The parameterised cases also give each target its
// smallest inputs, which parsers get wrong most often.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fuzz/entries.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

fs::path CrashDir() { return fs::path(CQ_SOURCE_DIR) / "tests" / "data" / "crash"; }

TEST(FuzzCorpus, EveryFolderNamesATarget) {
    ASSERT_TRUE(fs::is_directory(CrashDir()));
    for (const auto& entry : fs::directory_iterator(CrashDir())) {
        if (entry.is_directory()) {
            EXPECT_NE(cqfuzz::FindTarget(entry.path().filename().string()), nullptr) << entry.path();
        }
    }
}

class TargetCorpus : public ::testing::TestWithParam<cqfuzz::Target> {};

TEST_P(TargetCorpus, CrashFilesAndTinyInputsRunCleanly) {
    const cqfuzz::Target& target = GetParam();
    const fs::path dir = std::string(target.name) == "open" ? CrashDir() : CrashDir() / target.name;
    size_t replayed = 0;
    if (fs::is_directory(dir)) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            const std::vector<uint8_t> bytes = testsupport::ReadBytes(entry.path());
            SCOPED_TRACE(entry.path().string());
            const int result = target.run(bytes.data(), bytes.size());
            EXPECT_GE(result, 0);
            ++replayed;
        }
    }
    RecordProperty("replayed", static_cast<int>(replayed));
    // Empty and one-byte inputs of every value.
    EXPECT_EQ(target.run(nullptr, 0), 0);
    for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        target.run(&byte, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, TargetCorpus, ::testing::ValuesIn(cqfuzz::AllTargets()),
                         [](const ::testing::TestParamInfo<cqfuzz::Target>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
