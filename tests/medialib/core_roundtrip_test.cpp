// The same checks over every container the engine writes: technical values
// from the real stream, a write/reopen round trip of every tag attribute,
// removal, untouched audio, atomic failure and detection by content.
#include <gtest/gtest.h>

#include <cmath>

#include "container_fixtures.h"
#include "medialib/core/atomic_save.h"
#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/decoder.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

struct Case {
    const char* name;
    const char* ffmpeg_args;
    const char* file_name;
    int32_t container;
    int32_t codec;
    int32_t bit_depth;  // -1: none reported
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ContainerRoundTrip : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        CQ_REQUIRE_FFMPEG();
        path_ = dir_ / GetParam().file_name;
        if (!fixtures::MakeTone(path_, GetParam().ffmpeg_args))
            GTEST_SKIP() << "ffmpeg could not make " << path_;
    }
    testsupport::ScopedTempDir dir_;
    fs::path path_;
};

TEST_P(ContainerRoundTrip, ReportsTechnicalValuesOfTheRealStream) {
    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Container(), GetParam().container);
    EXPECT_EQ(file->Codec(), GetParam().codec);
    EXPECT_EQ(fixtures::Int(*file, attr::Format), GetParam().container);
    EXPECT_EQ(fixtures::Int(*file, attr::Codec), GetParam().codec);
    EXPECT_EQ(fixtures::Int(*file, attr::Frequency), 44100);
    EXPECT_EQ(fixtures::Int(*file, attr::Channel), 1);
    EXPECT_NEAR(fixtures::Int(*file, attr::MilliSecond), 1000, 60);
    EXPECT_EQ(fixtures::Int(*file, attr::Duration), 1);
    EXPECT_EQ(fixtures::Int(*file, attr::Size), static_cast<int32_t>(fs::file_size(path_)));
    EXPECT_GT(fixtures::Int(*file, attr::BitRate), 0);
    EXPECT_EQ(fixtures::Int(*file, attr::BitRateAlt), fixtures::Int(*file, attr::BitRate));
    EXPECT_EQ(fixtures::Int(*file, attr::BitDepth), GetParam().bit_depth);
    EXPECT_EQ(fixtures::Text(*file, attr::Location), fs::absolute(path_).u16string());
    EXPECT_EQ(fixtures::Text(*file, attr::Extension), path_.extension().u16string());
    EXPECT_TRUE(file->Decodable());
    for (uint32_t id : {attr::Duration, attr::Format, attr::Codec, attr::Size, attr::Location}) {
        EXPECT_FALSE(file->CanStore(id)) << std::hex << id;
    }
}

TEST_P(ContainerRoundTrip, StoresEveryWritableAttributeAndRefusesTheRest) {
    const AttributeSet tags = fixtures::FullTags();
    {
        auto file = OpenMediaFile(path_);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->Save(path_, tags));
        fixtures::ExpectStored(*file, tags);  // the snapshot follows the save
    }
    auto reopened = OpenMediaFile(path_);
    ASSERT_TRUE(reopened);
    fixtures::ExpectStored(*reopened, tags);
    EXPECT_EQ(reopened->Codec(), GetParam().codec);
}

TEST_P(ContainerRoundTrip, AttributesLeftOutOfASaveAreRemoved) {
    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Save(path_, fixtures::FullTags()));
    AttributeSet only_title;
    only_title[attr::Title] = {u"Only"};
    ASSERT_TRUE(file->Save(path_, only_title));
    auto reopened = OpenMediaFile(path_);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(fixtures::Text(*reopened, attr::Title), u"Only");
    for (const auto& [id, values] : fixtures::FullTags()) {
        if (id != attr::Title) {
            EXPECT_EQ(reopened->Attributes().count(id), 0u) << "0x" << std::hex << id;
        }
    }
}

TEST_P(ContainerRoundTrip, DecodedAudioIsUnchangedByTagWrites) {
    auto before_src = OpenFileSource(path_);
    ASSERT_TRUE(before_src);
    auto before = ff::DecodeAll(*before_src);
    before_src.reset();
    ASSERT_TRUE(before);
    ASSERT_FALSE(before->samples.empty());

    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Save(path_, fixtures::FullTags()));

    auto after_src = OpenFileSource(path_);
    auto after = ff::DecodeAll(*after_src);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->sample_rate, before->sample_rate);
    EXPECT_EQ(after->channels, before->channels);
    EXPECT_TRUE(after->samples == before->samples);
}

TEST_P(ContainerRoundTrip, FailedWriteLeavesTheOriginalByteForByte) {
    const std::vector<uint8_t> original = testsupport::ReadBytes(path_);
    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    for (int stage : {1, 2}) {
        SetAtomicEditFaultForTesting(stage);
        const bool saved = file->Save(path_, fixtures::FullTags());
        SetAtomicEditFaultForTesting(0);
        EXPECT_FALSE(saved);
        EXPECT_TRUE(testsupport::ReadBytes(path_) == original) << "stage " << stage;
        size_t entries = 0;
        for (const auto& e : fs::directory_iterator(dir_.path())) entries += e.is_regular_file() ? 1 : 0;
        EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
    }
    EXPECT_EQ(fixtures::Text(*file, attr::Title), u"<absent>");
}

TEST_P(ContainerRoundTrip, ReadOnlyFileRefusesTheSave) {
    fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::vector<uint8_t> original = testsupport::ReadBytes(path_);
    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->Save(path_, fixtures::FullTags()));
    EXPECT_TRUE(testsupport::ReadBytes(path_) == original);
}

// A date value outside the years a tag can write (1..9999) is no date: the
// year text given beside it is stored instead of a garbled date.
TEST_P(ContainerRoundTrip, ADateOutsideTheWritableYearsIsNotStored) {
    auto file = OpenMediaFile(path_);
    ASSERT_TRUE(file);
    for (double days : {-800000.0, 3000000.0, std::nan("")}) {
        AttributeSet tags;
        tags[attr::Release] = {DateValue{days}};
        tags[attr::ReleaseYear] = {u"1999"};
        tags[attr::Import] = {DateValue{days}};
        ASSERT_TRUE(file->Save(path_, tags));
        auto reopened = OpenMediaFile(path_);
        ASSERT_TRUE(reopened);
        EXPECT_EQ(fixtures::Text(*reopened, attr::ReleaseYear), u"1999") << days;
        EXPECT_EQ(reopened->Attributes().count(attr::Import), 0u) << days;
    }
}

// Saving through a symbolic link changes the file it points to; the link
// stays a link (players and libraries often reach music through links).
TEST_P(ContainerRoundTrip, SavingThroughASymlinkWritesTheLinkedFile) {
    const fs::path link = dir_ / (std::string("link") + path_.extension().string());
    fs::create_symlink(path_.filename(), link);
    auto file = OpenMediaFile(link);
    ASSERT_TRUE(file);
    AttributeSet tags;
    tags[attr::Title] = {u"Through the link"};
    ASSERT_TRUE(file->Save(link, tags));
    EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced by a copy";
    auto target = OpenMediaFile(path_);
    ASSERT_TRUE(target);
    EXPECT_EQ(fixtures::Text(*target, attr::Title), u"Through the link");
    EXPECT_EQ(fixtures::Text(*file, attr::Title), u"Through the link");
}

TEST_P(ContainerRoundTrip, DetectsByContentWhateverTheExtension) {
    for (const char* name : {"renamed.oma", "renamed.dat", "no_extension"}) {
        const fs::path copy = dir_ / name;
        fs::copy_file(path_, copy);
        auto file = OpenMediaFile(copy);
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(file->Container(), GetParam().container) << name;
        EXPECT_EQ(fixtures::Text(*file, attr::Extension),
                  fs::path(name).has_extension() ? fs::path(name).extension().u16string() : u"<absent>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ContainerRoundTrip,
    ::testing::Values(Case{"wav", "-c:a pcm_s16le", "tone.wav", container::Wav, codec::Pcm, 16},
                      Case{"m4a", "-c:a aac -b:a 96k", "tone.m4a", container::ThreeGp, codec::AacLc, -1},
                      Case{"threegp", "-c:a aac -b:a 64k -f 3gp", "tone.3gp", container::ThreeGp,
                           codec::AacLc, -1},
                      Case{"mp3", "-c:a libmp3lame -b:a 128k", "tone.mp3", container::Mp3, codec::Mp3, -1}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
