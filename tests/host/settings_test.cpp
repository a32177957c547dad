// Settings: the record stream of a component's variables and the host's store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "host/core/settings_store.h"
#include "host/sdk/cfg_var.h"
#include "support/test_support.h"

namespace {

constexpr GUID kFlag = platform::MakeGuid("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
constexpr GUID kNumber = platform::MakeGuid("{11111111-2222-3333-4444-555555555555}");
constexpr GUID kOther = platform::MakeGuid("{99999999-8888-7777-6666-555555555555}");

cfg_int_t<bool> g_flag(kFlag, false);
cfg_int_t<int32_t> g_number(kNumber, 7);

class VectorWriter final : public stream_writer {
  public:
    void write(const void* data, size_t bytes, abort_callback&) override {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + bytes);
    }
    std::vector<uint8_t> bytes_;
};

class VectorReader final : public stream_reader {
  public:
    explicit VectorReader(std::vector<uint8_t> data) : data_(std::move(data)) {}
    size_t read(void* out, size_t bytes, abort_callback&) override {
        // Hands out at most 3 bytes at a time to exercise short reads.
        const size_t n = std::min({bytes, data_.size() - pos_, size_t{3}});
        std::memcpy(out, data_.data() + pos_, n);
        pos_ += n;
        return n;
    }

  private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
};

void AppendRecord(std::vector<uint8_t>& out, const GUID& guid, std::vector<uint8_t> data) {
    const auto* g = reinterpret_cast<const uint8_t*>(&guid);
    out.insert(out.end(), g, g + 16);
    const auto size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
}

class CfgVarStream : public ::testing::Test {
  protected:
    void SetUp() override {
        g_flag = false;
        g_number = 7;
    }
    abort_callback_dummy abort;
};

TEST_F(CfgVarStream, WritesEveryVariableAndReadsItBack) {
    g_flag = true;
    g_number = -2;
    VectorWriter writer;
    cfg_var::config_write_all(&writer, abort);
    ASSERT_EQ(writer.bytes_.size(), 2 * 20 + 1 + 4u);

    g_flag = false;
    g_number = 0;
    VectorReader reader(writer.bytes_);
    cfg_var::config_read_all(&reader, abort);
    EXPECT_TRUE(g_flag.get());
    EXPECT_EQ(g_number.get(), -2);
}

TEST_F(CfgVarStream, SkipsUnknownAndWrongSizedRecords) {
    std::vector<uint8_t> stream;
    AppendRecord(stream, kOther, {1, 2, 3, 4, 5});
    AppendRecord(stream, kNumber, {9, 9});  // wrong size: ignored, not misread
    AppendRecord(stream, kFlag, {1});
    VectorReader reader(stream);
    cfg_var::config_read_all(&reader, abort);
    EXPECT_TRUE(g_flag.get());
    EXPECT_EQ(g_number.get(), 7);
}

TEST_F(CfgVarStream, TruncatedStreamThrowsDataError) {
    std::vector<uint8_t> stream;
    AppendRecord(stream, kFlag, {1});
    AppendRecord(stream, kNumber, {1, 0, 0, 0});
    stream.resize(stream.size() - 2);
    VectorReader reader(stream);
    EXPECT_THROW(cfg_var::config_read_all(&reader, abort), exception_io_data);
    EXPECT_TRUE(g_flag.get());  // records before the damage were taken
    std::vector<uint8_t> header_only(10, 0);
    VectorReader short_reader(header_only);
    EXPECT_THROW(cfg_var::config_read_all(&short_reader, abort), exception_io_data);
}

TEST(SettingsStore, SavesAndLoadsValues) {
    testsupport::ScopedTempDir dir;
    std::vector<uint8_t> stream;
    AppendRecord(stream, kFlag, {1});
    AppendRecord(stream, kNumber, {0xFE, 0xFF, 0xFF, 0xFF});
    AppendRecord(stream, kOther, {});
    playhost::SettingsStore store(dir / "settings.cfg");
    ASSERT_TRUE(store.MergeConfigStream(stream));
    store.Save();

    playhost::SettingsStore again(dir / "settings.cfg");
    again.Load();
    EXPECT_EQ(again.values(), store.values());
    EXPECT_EQ(again.values().at(kNumber), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(again.values().at(kOther).empty());
    // The stream form holds the same records (in GUID order).
    playhost::SettingsStore third(dir / "other.cfg");
    ASSERT_TRUE(third.MergeConfigStream(again.ToConfigStream()));
    EXPECT_EQ(third.values(), store.values());
}

// A run that changes nothing does not write; a run that changes one value
// writes only that value over what other processes saved meanwhile.
TEST(SettingsStore, SavesOnlyChangesAndKeepsOtherProcessesChanges) {
    testsupport::ScopedTempDir dir;
    const auto file = dir / "settings.cfg";
    {
        playhost::SettingsStore first(file);
        std::vector<uint8_t> stream;
        AppendRecord(stream, kFlag, {0});
        AppendRecord(stream, kOther, {0});
        ASSERT_TRUE(first.MergeConfigStream(stream));
        first.Save();
    }
    playhost::SettingsStore reader(file);
    playhost::SettingsStore writer(file);
    reader.Load();
    writer.Load();

    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(reader.MergeConfigStream(reader.ToConfigStream()));  // given back unchanged
    reader.Save();
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged store rewrote the file";

    std::vector<uint8_t> flag_on;
    AppendRecord(flag_on, kFlag, {1});
    ASSERT_TRUE(writer.MergeConfigStream(flag_on));
    writer.Save();
    std::vector<uint8_t> other_on;
    AppendRecord(other_on, kOther, {1});
    ASSERT_TRUE(reader.MergeConfigStream(other_on));
    reader.Save();  // loaded before the writer's change: must not undo it

    playhost::SettingsStore check(file);
    check.Load();
    EXPECT_EQ(check.values().at(kFlag), std::vector<uint8_t>{1});
    EXPECT_EQ(check.values().at(kOther), std::vector<uint8_t>{1});
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".new"));
}

TEST(SettingsStore, MergeKeepsOthersAndRejectsDamage) {
    testsupport::ScopedTempDir dir;
    playhost::SettingsStore store(dir / "settings.cfg");
    std::vector<uint8_t> first;
    AppendRecord(first, kOther, {5});
    AppendRecord(first, kFlag, {0});
    ASSERT_TRUE(store.MergeConfigStream(first));
    std::vector<uint8_t> second;
    AppendRecord(second, kFlag, {1});
    ASSERT_TRUE(store.MergeConfigStream(second));
    EXPECT_EQ(store.values().at(kOther), std::vector<uint8_t>{5});
    EXPECT_EQ(store.values().at(kFlag), std::vector<uint8_t>{1});

    std::vector<uint8_t> damaged;
    AppendRecord(damaged, kFlag, {0, 0, 0, 0});
    damaged.pop_back();
    EXPECT_FALSE(store.MergeConfigStream(damaged));
    EXPECT_EQ(store.values().at(kFlag), std::vector<uint8_t>{1});  // unchanged
}

TEST(SettingsStore, MissingFileIsEmptyAndBadLinesAreSkipped) {
    testsupport::ScopedTempDir dir;
    playhost::SettingsStore store(dir / "settings.cfg");
    store.Load();
    EXPECT_TRUE(store.values().empty());
    testsupport::WriteText(dir / "settings.cfg",
                           "# comment\n"
                           "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}=01\r\n"
                           "not a line\n"
                           "{11111111-2222-3333-4444-555555555555}=0\n"  // odd hex
                           "{11111111-2222-3333-4444-55555555555}=00\n"  // short GUID
                           "{99999999-8888-7777-6666-555555555555}=zz\n"
                           "\n");
    store.Load();
    ASSERT_EQ(store.values().size(), 1u);
    EXPECT_EQ(store.values().at(kFlag), std::vector<uint8_t>{1});
}

}  // namespace
