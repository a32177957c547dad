// The info reader's table rules against the fake item: which attribute each
// field comes from and when its second id is read, which fields the side tag
// keeps per file type, the length's two sources, the format and codec names,
// the technical numbers, multi-valued and unusable values, and the failures.
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "host/sdk/exceptions.h"
#include "info_fixture.h"
#include "library/media_ids.h"
#include "plugin/tags/side_tags.h"

namespace attr = medialib::attr;
namespace codec = medialib::codec;
namespace container = medialib::container;

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
    item.PutTexts(attr::Title, {u"Title"});
    item.PutTexts(attr::Artist, {u"Artist \u00e9"});
    item.PutTexts(attr::Album, {u"Album"});
    item.PutTexts(attr::AlbumAlt, {u"Not read"});
    item.PutInt(attr::TrackNumber, 7);
    item.PutInt(attr::TotalTracks, 12);
    item.PutDate(attr::Release, u"1999/05/06");
    item.PutDate(attr::Import, u"2020/01/02 10:11:12");
    item.PutTexts(attr::LyricsText, {u"line 1\r\nline 2"});
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
    EXPECT_TRUE(item.Entries("Get(AlbumAlt)").empty());
    EXPECT_TRUE(item.Entries("Get(TrackNumberAlt)").empty());
    EXPECT_TRUE(item.Entries("Get(ReleaseYear)").empty());
    EXPECT_EQ(item.Log().front(), "Load(1)");
    EXPECT_EQ(item.Log().back(), "Close");
    EXPECT_EQ(item.loaded_path, u"/m/a.oma");
}

TEST_F(ReaderTest, SecondIdsServeWhenTheFirstHasNoValue) {
    item.PutTexts(attr::AlbumAlt, {u"Album from 0x0207"});
    item.PutInt(attr::TrackNumberAlt, 3);
    item.PutTexts(attr::ReleaseYear, {u"1999"});
    item.PutInt(attr::BitRateAlt, 352000);
    item.PutInt(attr::BitDepthAlt, 24);
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.meta_get("album", 0), "Album from 0x0207");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "3");
    EXPECT_STREQ(info.meta_get("date", 0), "1999");
    EXPECT_STREQ(info.info_get("bitrate"), "352");
    EXPECT_STREQ(info.info_get("bitspersample"), "24");
    const std::vector<std::string> album_reads = {"Get(Album)", "Get(AlbumAlt)"};
    std::vector<std::string> reads;
    for (const auto& e : item.Log())
        if (e == "Get(Album)" || e == "Get(AlbumAlt)") reads.push_back(e);
    EXPECT_EQ(reads, album_reads);
}

TEST_F(ReaderTest, ASuccessWithoutValuesOrWithoutArrayOrAFailureHandingAnArrayCountsAsAbsent) {
    item.empty_successes.insert(attr::Album);
    item.PutTexts(attr::AlbumAlt, {u"from fallback"});
    item.null_arrays.insert(attr::TrackNumber);
    item.PutInt(attr::TrackNumberAlt, 4);
    item.get_failures[attr::Title] = E_FAIL;
    item.failure_leftovers[attr::Title] = nullptr;  // hands over an array, which must be freed
    item.PutTexts(attr::Artist, {u"kept"});
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_STREQ(info.meta_get("album", 0), "from fallback");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "4");
    EXPECT_FALSE(info.meta_exists("title"));
    EXPECT_STREQ(info.meta_get("artist", 0), "kept");
}

TEST_F(ReaderTest, MultiValuedAttributesGiveTheirFirstValueOnly) {
    item.PutTexts(attr::Artist, {u"First", u"Second", u"Third"});
    item.attributes[attr::TrackNumber] = {platform::Variant::FromInt(5), platform::Variant::FromInt(6)};
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
    item.attributes[attr::Title] = {null_text};
    platform::Variant object;
    object->vt = VT_UNKNOWN;
    object->punkVal = nullptr;
    item.attributes[attr::Artist] = {object};
    item.PutTexts(attr::Format, {u"nine"});
    item.PutTexts(attr::Frequency, {u"44100"});  // text that converts is fine
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
    item.PutTexts(attr::Composer, {u"library"});
    item.PutTexts(attr::Title, {u"library title"});
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
        if (c.ms) item.PutReal(attr::MilliSecond, *c.ms);
        if (c.seconds) item.PutReal(attr::Duration, *c.seconds);
        file_info_impl info;
        info.set_length(9.0);  // left as it is when the library gives no length
        Read("/m/a.oma", info);
        EXPECT_DOUBLE_EQ(info.get_length(), c.expected);
    }
    // An integer millisecond count converts too; Duration is then not read.
    item.attributes.clear();
    item.calls.clear();
    item.PutInt(attr::MilliSecond, 5021);
    file_info_impl info;
    Read("/m/a.oma", info);
    EXPECT_DOUBLE_EQ(info.get_length(), 5.021);
    EXPECT_TRUE(item.Entries("Get(Duration)").empty());
}

// The names as the player shows them, each with the numbers that must show
// it (stated by name, the inverse of the reader's table), and numbers that
// show nothing. The real files of the component test show them end to end.
TEST_F(ReaderTest, FormatNamesEveryContainerNumberAndNothingElse) {
    const std::map<std::string, std::vector<LONG>> shown = {
        {"OMG", {container::Omg}},     {"OMA(Protected)", {container::ProtectedOma}},
        {"OMA", {container::Oma}},     {"KDR", {container::Kdr}},
        {"MP3", {container::Mp3}},     {"WAV", {container::Wav}},
        {"3GP", {container::ThreeGp}}, {"WMA", {container::Wma}},
    };
    auto format_of = [&](LONG number) -> std::string {
        item.PutInt(attr::Format, number);
        file_info_impl info;
        Read("/m/a.oma", info);
        const char* format = info.info_get("format");
        return format ? format : "<none>";
    };
    for (const auto& [name, numbers] : shown) {
        for (LONG number : numbers) EXPECT_EQ(format_of(number), name) << number;
    }
    for (LONG number : {5, 0, -9, container::Mp3 + 2, container::Wma + 1})
        EXPECT_EQ(format_of(number), "<none>");
}

TEST_F(ReaderTest, CodecNamesAndEncodingsByCodecNumber) {
    const std::map<std::string, std::vector<LONG>> shown = {
        {"MP3 lossy", {codec::Mp3, codec::Mpeg}},
        {"PCM lossless", {codec::Pcm}},
        {"AAC-LC lossy", {codec::AacLc}},
        {"HE-AAC lossy", {codec::HeAac}},
        {"WMA lossy", {codec::Wma}},
        {"WMA Lossless lossless", {codec::WmaLossless}},
        {"WMA Pro lossy", {codec::WmaPro}},
        {"ATRAC3 lossy", {codec::Atrac3}},
        {"ATRAC3plus lossy", {codec::Atrac3Plus}},
        {"AAL(ATRAC3) hybrid", {codec::AalAtrac3}},
        {"AAL(ATRAC3plus) hybrid", {codec::AalAtrac3Plus}},
    };
    auto codec_of = [&](LONG number) -> std::string {
        item.PutInt(attr::Codec, number);
        file_info_impl info;
        Read("/m/a.oma", info);
        const char* name = info.info_get("codec");
        const char* encoding = info.info_get("encoding");
        if (!name && !encoding) return "<none>";
        return std::string(name ? name : "<null>") + " " + (encoding ? encoding : "<null>");
    };
    for (const auto& [text, numbers] : shown) {
        for (LONG number : numbers) EXPECT_EQ(codec_of(number), text) << number;
    }
    for (LONG number : {3, -1, 29}) EXPECT_EQ(codec_of(number), "<none>");
}

TEST_F(ReaderTest, TechnicalNumbersAreSetWhenPositiveAndNeverRemoved) {
    item.PutInt(attr::BitRate, 127999);
    item.PutInt(attr::BitRateAlt, 352000);  // not read: the first id has a value
    item.PutInt(attr::Frequency, 44100);
    item.PutInt(attr::BitDepth, 16);
    item.PutInt(attr::Channel, 2);
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
    item.PutInt(attr::BitRate, 999);  // below 1 kbit/s: still set, as 0
    item.PutInt(attr::Frequency, 0);
    item.PutInt(attr::Channel, -2);
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
    for (const auto& e : item.Log())
        if (e.rfind("Get(", 0) == 0) reads.push_back(e.substr(4, e.size() - 5));
    const std::vector<std::string> expected = {
        "Title",     "SortTitle",   "Subtitle",      "SortSubtitle", "Artist",         "SortArtist",
        "ArtistURL", "Album",       "AlbumAlt",      "SortAlbum",    "AlbumArtist",    "SortAlbumArtist",
        "Genre",     "Composer",    "Lyricist",      "TrackNumber",  "TrackNumberAlt", "TotalTracks",
        "Release",   "ReleaseYear", "Import",        "MilliSecond",  "Duration",       "Format",
        "Codec",     "BitRate",     "BitRateAlt",    "Frequency",    "BitDepth",       "BitDepthAlt",
        "Channel",   "LyricsText",  "LinerNotesText"};
    EXPECT_EQ(reads, expected);
    EXPECT_EQ(item.Log().back(), "Close");
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
    EXPECT_EQ(item.Log(), std::vector<std::string>{"Load(1)"});  // no Close without a load
    EXPECT_STREQ(info.meta_get("title", 0), "before");

    item.calls.clear();
    const Paths p = PathsOf("/m/a.oma");
    EXPECT_THROW(corvina::ReadInfo({p.host.c_str(), nullptr, p.key.c_str(), &item}, flags, info, abort),
                 exception_io);
    EXPECT_THROW(corvina::ReadInfo(p.file(nullptr), flags, info, abort), exception_io);
    EXPECT_TRUE(item.Log().empty());
    EXPECT_EQ(info.meta_get_count(), 1u);
}

TEST_F(ReaderTest, ASideTagErrorPropagatesAndTheItemIsStillClosed) {
    // A side-tag "file" that cannot be opened (a folder) is an error...
    const std::string path = InDir("a.oma");
    std::filesystem::create_directory(path + ":ID3v2.tag");
    file_info_impl info;
    EXPECT_THROW(Read(path, info), exception_io_denied);
    EXPECT_EQ(item.Log(), (std::vector<std::string>{"Load(1)", "Close"}));
}

TEST_F(ReaderTest, ADamagedSideTagIsIgnoredAndTheFileIsRead) {
    // ...but one whose tag does not parse is ignored: the file's own tags count.
    const std::string path = InDir("b.oma");
    testsupport::WriteText(path + ":ID3v2.tag", "not a tag");
    file_info_impl info;
    EXPECT_NO_THROW(Read(path, info));
    EXPECT_EQ(item.Log().back(), "Close");
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
