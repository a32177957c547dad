// The info reader's table rules against the fake item: which attribute each
// field comes from and when its second id is read, which fields the side tag
// keeps per file type, the length's two sources, the format and codec names,
// the technical numbers, multi-valued and unusable values, and the failures.
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>
#include <set>

#include "host/sdk/exceptions.h"
#include "info_fixture.h"
#include "plugin/tags/side_tags.h"

namespace infotest {
namespace {

using ReaderTest = InfoTest;

// Every metadata field the reader handles, in its order.
const char* const kAllFields[] = {"title",
                                  "title sort",
                                  "subtitle",
                                  "subtitle sort",
                                  "artist",
                                  "artist sort",
                                  "wwwartist",
                                  "album",
                                  "album sort",
                                  "album artist",
                                  "album artist sort",
                                  "genre",
                                  "composer",
                                  "lyricist",
                                  "tracknumber",
                                  "totaltracks",
                                  "date",
                                  "added",
                                  "lyrics",
                                  "comment"};

TEST_F(ReaderTest, FieldsComeFromTheirAttributesAsText) {
    item.SetText(0x1207, {u"Title"});
    item.SetText(0x1210, {u"Artist \u00e9"});
    item.SetText(0x120C, {u"Album"});
    item.SetText(0x0207, {u"Not read"});
    item.SetInt(0x1105, 7);
    item.SetInt(0x112D, 12);
    item.SetDate(0x1400, u"1999/05/06");
    item.SetDate(0x1404, u"2020/01/02 10:11:12");
    item.SetText(0x122C, {u"line 1\r\nline 2"});
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.meta_get("title", 0), "Title");
    EXPECT_STREQ(info.meta_get("artist", 0), "Artist \xc3\xa9");
    EXPECT_STREQ(info.meta_get("album", 0), "Album");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "7");
    EXPECT_STREQ(info.meta_get("totaltracks", 0), "12");
    EXPECT_STREQ(info.meta_get("date", 0), "1999/05/06");
    EXPECT_STREQ(info.meta_get("added", 0), "2020/01/02 10:11:12");
    EXPECT_STREQ(info.meta_get("lyrics", 0), "line 1\r\nline 2");
    EXPECT_EQ(info.meta_get_count(), 8u);
    // The second ids are read only when the first has no value.
    EXPECT_TRUE(item.Entries("Get(0x0207)").empty());
    EXPECT_TRUE(item.Entries("Get(0x110F)").empty());
    EXPECT_TRUE(item.Entries("Get(0x1236)").empty());
    EXPECT_EQ(item.log.front(), "Load(1)");
    EXPECT_EQ(item.log.back(), "Close");
    EXPECT_EQ(item.loaded_path, "/m/a.oma");
}

TEST_F(ReaderTest, SecondIdsServeWhenTheFirstHasNoValue) {
    item.SetText(0x0207, {u"Album from 0x0207"});
    item.SetInt(0x110F, 3);
    item.SetText(0x1236, {u"1999"});
    item.SetInt(0x1129, 352000);
    item.SetInt(0x111C, 24);
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.meta_get("album", 0), "Album from 0x0207");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "3");
    EXPECT_STREQ(info.meta_get("date", 0), "1999");
    EXPECT_STREQ(info.info_get("bitrate"), "352");
    EXPECT_STREQ(info.info_get("bitspersample"), "24");
    const std::vector<std::string> album_reads = {"Get(0x120C)", "Get(0x0207)"};
    std::vector<std::string> reads;
    for (const auto& e : item.log)
        if (e == "Get(0x120C)" || e == "Get(0x0207)") reads.push_back(e);
    EXPECT_EQ(reads, album_reads);
}

TEST_F(ReaderTest, ASuccessWithoutValuesOrWithoutArrayOrAFailureHandingAnArrayCountsAsAbsent) {
    item.empty_successes.insert(0x120C);
    item.SetText(0x0207, {u"from fallback"});
    item.null_arrays.insert(0x1105);
    item.SetInt(0x110F, 4);
    item.get_results[0x1207] = E_FAIL;  // hands over an array, which must be freed
    item.SetText(0x1210, {u"kept"});
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.meta_get("album", 0), "from fallback");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "4");
    EXPECT_FALSE(info.meta_exists("title"));
    EXPECT_STREQ(info.meta_get("artist", 0), "kept");
}

TEST_F(ReaderTest, MultiValuedAttributesGiveTheirFirstValueOnly) {
    item.SetText(0x1210, {u"First", u"Second", u"Third"});
    item.attributes[0x1105] = {platform::Variant::FromInt(5), platform::Variant::FromInt(6)};
    file_info_impl info;
    Read("/m/a.oma", info);
    ASSERT_TRUE(info.meta_exists("artist"));
    EXPECT_EQ(info.meta_enum_value_count(info.meta_find("artist")), 1u);
    EXPECT_STREQ(info.meta_get("artist", 0), "First");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "5");
}

TEST_F(ReaderTest, ValuesThatDoNotConvertAreAbsentAndANullTextIsEmpty) {
    platform::Variant null_text;
    null_text->vt = VT_BSTR;
    null_text->bstrVal = nullptr;
    item.attributes[0x1207] = {null_text};
    platform::Variant object;
    object->vt = VT_UNKNOWN;
    object->punkVal = nullptr;
    item.attributes[0x1210] = {object};
    item.SetText(0x1101, {u"nine"});
    item.SetText(0x1110, {u"44100"});  // text that converts is fine
    file_info_impl info;
    info.meta_set("artist", "from before");
    Read("/m/a.oma", info);
    ASSERT_NE(info.meta_get("title", 0), nullptr);
    EXPECT_STREQ(info.meta_get("title", 0), "");
    EXPECT_FALSE(info.meta_exists("artist"));
    EXPECT_EQ(info.info_get("format"), nullptr);
    EXPECT_STREQ(info.info_get("samplerate"), "44100");
}

// Which fields keep the side tag's value when the library has none, by the
// host path's extension.
struct KeepCase {
    const char* name;
    std::set<std::string> kept;
};

class KeepOnAbsence : public ReaderTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(KeepOnAbsence, SideTagValuesStayOnlyWhereTheFormatCannotHoldThem) {
    const std::string path = InDir(GetParam().name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testsupport::WriteText(path, "audio");
    // Every field in the stream side-tag file; the library has nothing.
    file_info_impl stored;
    for (const char* field : kAllFields) stored.meta_set(field, (std::string("side ") + field).c_str());
    stored.meta_set("mood", "Calm");
    corvina::SideTagFlags stream;
    stream.ntfs_stream = true;
    const Paths p = PathsOf(path);
    corvina::SaveSideTags(stored, p.host.c_str(), p.key.c_str(), stream, abort);

    file_info_impl info;
    Read(path, info);  // all settings off: the stream place is still tried
    for (const char* field : kAllFields) {
        SCOPED_TRACE(field);
        if (GetParam().kept.count(field)) {
            EXPECT_STREQ(info.meta_get(field, 0), (std::string("side ") + field).c_str());
        } else {
            EXPECT_FALSE(info.meta_exists(field));
        }
    }
    // Fields the library does not know are the side tag's on every file type.
    EXPECT_STREQ(info.meta_get("mood", 0), "Calm");
}

const std::set<std::string> kKdrKept = {
    "subtitle", "subtitle sort", "wwwartist", "album artist", "album artist sort",
    "composer", "lyricist",      "date",      "lyrics",       "comment"};
const std::set<std::string> kOmgKept = {"album sort", "totaltracks", "added", "lyrics", "comment"};
const std::set<std::string> k3gpKept = {"subtitle", "subtitle sort", "added", "lyrics", "comment"};

INSTANTIATE_TEST_SUITE_P(Extensions, KeepOnAbsence,
                         ::testing::Values(KeepCase{"a.oma", {}}, KeepCase{"a.kdr", kKdrKept},
                                           KeepCase{"A.KDR", kKdrKept}, KeepCase{"x.kdr.oma", {}},
                                           KeepCase{"a.omg", kOmgKept}, KeepCase{"a.OmG", kOmgKept},
                                           KeepCase{"a.3gp", k3gpKept}, KeepCase{"no extension", {}},
                                           KeepCase{"dot.kdr folder/name", {}}),
                         [](const auto& info) {
                             std::string name;
                             for (char c : std::string(info.param.name)) name += std::isalnum(c) ? c : '_';
                             return name;
                         });

TEST_F(ReaderTest, TheLibraryValueWinsOverTheSideTagField) {
    const std::string path = InDir("a.kdr");
    file_info_impl stored;
    stored.meta_set("composer", "side");
    stored.meta_set("title", "side title");
    corvina::SideTagFlags stream;
    stream.ntfs_stream = true;
    const Paths p = PathsOf(path);
    corvina::SaveSideTags(stored, p.host.c_str(), p.key.c_str(), stream, abort);
    item.SetText(0x1213, {u"library"});
    item.SetText(0x1207, {u"library title"});
    file_info_impl info;
    Read(path, info);
    EXPECT_STREQ(info.meta_get("composer", 0), "library");
    EXPECT_STREQ(info.meta_get("title", 0), "library title");
}

TEST_F(ReaderTest, LengthPrefersMilliSecondsThenSecondsAndIgnoresZeroAndNaN) {
    struct Case {
        std::optional<double> ms, seconds;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {183500, 184, 183.5}, {0, 184, 184},          {std::nullopt, 184, 184},
        {nan, 184, 184},      {-5, 184, 184},         {std::nullopt, std::nullopt, 9.0},
        {0, nan, 9.0},        {std::nullopt, 0, 9.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.ms ? *c.ms : -1) << " ms, " << (c.seconds ? *c.seconds : -1));
        item.attributes.clear();
        if (c.ms) item.SetReal(0x111A, *c.ms);
        if (c.seconds) item.SetReal(0x1100, *c.seconds);
        file_info_impl info;
        info.set_length(9.0);  // left as it is when the library gives no length
        Read("/m/a.oma", info);
        EXPECT_DOUBLE_EQ(info.get_length(), c.expected);
    }
    // An integer millisecond count converts too; Duration is then not read.
    item.attributes.clear();
    item.log.clear();
    item.SetInt(0x111A, 5021);
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_DOUBLE_EQ(info.get_length(), 5.021);
    EXPECT_TRUE(item.Entries("Get(0x1100)").empty());
}

TEST_F(ReaderTest, FormatNamesEveryContainerNumberAndNothingElse) {
    const std::pair<LONG, const char*> cases[] = {
        {1, "OMG"},      {6, "OMA(Protected)"}, {9, "OMA"},      {10, "KDR"},
        {0x1001, "MP3"}, {0x1002, "WAV"},       {0x1004, "3GP"}, {0x2001, "WMA"},
        {5, nullptr},    {0, nullptr},          {-9, nullptr},   {0x1003, nullptr},
    };
    for (const auto& [number, name] : cases) {
        SCOPED_TRACE(number);
        item.SetInt(0x1101, number);
        file_info_impl info;
        Read("/m/a.oma", info);
        if (name) {
            EXPECT_STREQ(info.info_get("format"), name);
        } else {
            EXPECT_EQ(info.info_get("format"), nullptr);
        }
    }
}

TEST_F(ReaderTest, CodecNamesAndEncodingsByCodecNumber) {
    struct Case {
        LONG number;
        const char* codec;
        const char* encoding;
    };
    const Case cases[] = {
        {0, "MP3", "lossy"},           {1, "PCM", "lossless"},
        {2, "AAC-LC", "lossy"},        {8, "MP3", "lossy"},
        {14, "WMA", "lossy"},          {16, "ATRAC3", "lossy"},
        {18, "ATRAC3plus", "lossy"},   {19, "WMA Lossless", "lossless"},
        {22, "AAL(ATRAC3)", "hybrid"}, {23, "AAL(ATRAC3plus)", "hybrid"},
        {24, "HE-AAC", "lossy"},       {28, "WMA Pro", "lossy"},
        {3, nullptr, nullptr},         {-1, nullptr, nullptr},
        {29, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        item.SetInt(0x1102, c.number);
        file_info_impl info;
        Read("/m/a.oma", info);
        if (c.codec) {
            EXPECT_STREQ(info.info_get("codec"), c.codec);
            EXPECT_STREQ(info.info_get("encoding"), c.encoding);
        } else {
            EXPECT_EQ(info.info_get("codec"), nullptr);
            EXPECT_EQ(info.info_get("encoding"), nullptr);
        }
    }
}

TEST_F(ReaderTest, TechnicalNumbersAreSetWhenPositiveAndNeverRemoved) {
    item.SetInt(0x1103, 127999);
    item.SetInt(0x1129, 352000);  // not read: the first id has a value
    item.SetInt(0x1110, 44100);
    item.SetInt(0x1112, 16);
    item.SetInt(0x110C, 2);
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.info_get("bitrate"), "127");
    EXPECT_STREQ(info.info_get("samplerate"), "44100");
    EXPECT_STREQ(info.info_get("bitspersample"), "16");
    EXPECT_STREQ(info.info_get("channels"), "2");
    const std::vector<std::string> order = {"bitrate", "samplerate", "bitspersample", "channels"};
    ASSERT_EQ(info.info_get_count(), order.size());
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(info.info_enum_name(i), order[i]);

    // Zero, negative and absent values leave what the record held.
    item.attributes.clear();
    item.SetInt(0x1103, 999);  // below 1 kbit/s: still set, as 0
    item.SetInt(0x1110, 0);
    item.SetInt(0x110C, -2);
    file_info_impl kept;
    kept.info_set("samplerate", "8000");
    kept.info_set("channels", "1");
    kept.info_set("format", "kept");
    kept.info_set("codec", "kept");
    Read("/m/a.oma", kept);
    EXPECT_STREQ(kept.info_get("bitrate"), "0");
    EXPECT_STREQ(kept.info_get("samplerate"), "8000");
    EXPECT_STREQ(kept.info_get("channels"), "1");
    EXPECT_STREQ(kept.info_get("format"), "kept");
    EXPECT_STREQ(kept.info_get("codec"), "kept");
}

TEST_F(ReaderTest, LyricsAndCommentAreReadLastBeforeClose) {
    file_info_impl info;
    Read("/m/a.oma", info);
    std::vector<std::string> reads;
    for (const auto& e : item.log)
        if (e.rfind("Get(", 0) == 0) reads.push_back(e.substr(4, 6));
    const std::vector<std::string> expected = {
        "0x1207", "0x1607", "0x1230", "0x1630", "0x1210", "0x1610", "0x1510", "0x120C", "0x0207",
        "0x160C", "0x0210", "0x0251", "0x1208", "0x1213", "0x1212", "0x1105", "0x110F", "0x112D",
        "0x1400", "0x1236", "0x1404", "0x111A", "0x1100", "0x1101", "0x1102", "0x1103", "0x1129",
        "0x1110", "0x1112", "0x111C", "0x110C", "0x122C", "0x122D"};
    EXPECT_EQ(reads, expected);
    EXPECT_EQ(item.log.back(), "Close");
}

TEST_F(ReaderTest, MissingPathOrItemOrAFailedLoadIsAnIoErrorWithTheRecordUntouched) {
    file_info_impl info;
    info.meta_set("title", "before");
    item.load_result = E_FAIL;
    try {
        Read("/m/a.oma", info);
        ADD_FAILURE() << "no exception";
    } catch (const exception_io& e) {
        EXPECT_EQ(typeid(e), typeid(exception_io));
        EXPECT_STREQ(e.what(), "I/O error");
    }
    EXPECT_EQ(item.log, std::vector<std::string>{"Load(1)"});  // no Close without a load
    EXPECT_STREQ(info.meta_get("title", 0), "before");

    item.log.clear();
    const Paths p = PathsOf("/m/a.oma");
    EXPECT_THROW(corvina::ReadInfo({p.host.c_str(), nullptr, p.key.c_str(), &item}, flags, info, abort),
                 exception_io);
    EXPECT_THROW(corvina::ReadInfo(p.file(nullptr), flags, info, abort), exception_io);
    EXPECT_TRUE(item.log.empty());
    EXPECT_EQ(info.meta_get_count(), 1u);
}

TEST_F(ReaderTest, ASideTagErrorPropagatesAndTheItemIsStillClosed) {
    // A side-tag "file" that cannot be opened (a folder) is an error...
    const std::string path = InDir("a.oma");
    std::filesystem::create_directory(path + ":ID3v2.tag");
    file_info_impl info;
    EXPECT_THROW(Read(path, info), exception_io_denied);
    EXPECT_EQ(item.log, (std::vector<std::string>{"Load(1)", "Close"}));
}

TEST_F(ReaderTest, ADamagedSideTagIsIgnoredAndTheFileIsRead) {
    // ...but one whose tag does not parse is ignored: the file's own tags count.
    const std::string path = InDir("b.oma");
    testsupport::WriteText(path + ":ID3v2.tag", "not a tag");
    file_info_impl info;
    EXPECT_NO_THROW(Read(path, info));
    EXPECT_EQ(item.log.back(), "Close");
    EXPECT_TRUE(std::filesystem::exists(path + ":ID3v2.tag"));
}

TEST_F(ReaderTest, ExtensionIsTakenFromTheFileNameOnly) {
    EXPECT_EQ(corvina::LowerExtension("/m/Song.KDR"), ".kdr");
    EXPECT_EQ(corvina::LowerExtension("file://D:\\Music\\x.kdr.OMA"), ".oma");
    EXPECT_EQ(corvina::LowerExtension("/m.kdr/song"), "");
    EXPECT_EQ(corvina::LowerExtension("D:\\m.omg\\song"), "");
    EXPECT_EQ(corvina::LowerExtension("/m/song."), ".");
    EXPECT_EQ(corvina::LowerExtension(nullptr), "");
}

}  // namespace
}  // namespace infotest
