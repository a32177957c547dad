// The command layer's building blocks: the name/value list, the number rule
// and path splitting.
#include <gtest/gtest.h>

#include "helpers.h"
#include "tool/common/name_value_list.h"
#include "tool/common/numbers_paths.h"

namespace {

using quillet::NameValueList;
using quillet::ParseNumber;
using quillet::SplitPath;

std::vector<std::pair<std::u16string, std::u16string>> Entries(const NameValueList& list) {
    std::vector<std::pair<std::u16string, std::u16string>> out;
    for (const auto& e : list) out.emplace_back(e.name, e.value);
    return out;
}

TEST(NameValueList, AppendKeepsOrderDuplicatesAndDropsEntriesWithNeitherPart) {
    NameValueList list;
    list.Append(u"Title", u"A");
    list.Append(nullptr, nullptr);
    list.Append(u"", u"");
    list.Append(u"title", u"B");
    list.Append(nullptr, u"only value");
    list.Append(u"only name", u"");
    using P = std::pair<std::u16string, std::u16string>;
    EXPECT_EQ(
        Entries(list),
        (std::vector<P>{{u"Title", u"A"}, {u"title", u"B"}, {u"", u"only value"}, {u"only name", u""}}));
    EXPECT_EQ(list[3].Value(), nullptr);  // an empty value is stored as absent
    EXPECT_EQ(list[2].Name(), nullptr);
}

TEST(NameValueList, FindIsCaseBlindStopsAtFirstHitAndKeepsCursorOnMiss) {
    NameValueList list;
    list.Append(u"A", u"1");
    list.Append(u"Genre", u"2");
    list.Append(u"GENRE", u"3");
    EXPECT_EQ(list.Current(), nullptr);
    ASSERT_TRUE(list.Find(u"genre"));
    EXPECT_EQ(list.Current()->value, u"2");
    EXPECT_FALSE(list.Find(u"Missing"));
    EXPECT_EQ(list.Current()->value, u"2");  // the miss left the cursor alone
    EXPECT_FALSE(list.Find(u""));
}

TEST(NameValueList, SetReplacesInPlaceOrAppendsAndIgnoresAbsentNames) {
    NameValueList list;
    list.Append(u"Title", u"Old");
    list.Append(u"Artist", u"X");
    list.Set(u"TITLE", u"New");
    list.Set(u"Album", u"Y");
    list.Set(u"Artist", u"");  // an empty value makes the entry's value absent
    list.Set(u"", u"nothing");
    list.Set(static_cast<LPCWSTR>(nullptr), u"nothing");
    using P = std::pair<std::u16string, std::u16string>;
    EXPECT_EQ(Entries(list), (std::vector<P>{{u"Title", u"New"}, {u"Artist", u""}, {u"Album", u"Y"}}));
}

TEST(NameValueList, RemoveCurrentClearAndReverseIteration) {
    NameValueList list;
    list.Append(u"a", u"1");
    list.Append(u"b", u"2");
    list.Append(u"c", u"3");
    ASSERT_TRUE(list.Find(u"b"));
    list.RemoveCurrent();
    EXPECT_EQ(list.Current()->name, u"c");
    list.RemoveCurrent();
    EXPECT_EQ(list.Current(), nullptr);
    list.RemoveCurrent();  // nothing current: nothing happens
    ASSERT_EQ(list.Size(), 1u);
    list.Append(u"z", u"9");
    std::u16string reversed;
    for (auto it = list.rbegin(); it != list.rend(); ++it) reversed += it->name;
    EXPECT_EQ(reversed, u"za");
    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.Current(), nullptr);
}

TEST(ParseNumber, FollowsTheNumberRule) {
    EXPECT_EQ(ParseNumber(nullptr), 0);
    EXPECT_EQ(ParseNumber(u""), 0);
    EXPECT_EQ(ParseNumber(u"297"), 297);
    EXPECT_EQ(ParseNumber(u"+297"), 297);
    EXPECT_EQ(ParseNumber(u"0x129"), 297);
    EXPECT_EQ(ParseNumber(u"0X1F400"), 128000);
    EXPECT_EQ(ParseNumber(u"12abc"), 12);  // a hexadecimal letter ends a decimal number
    EXPECT_EQ(ParseNumber(u"-0x10"), 16);  // hexadecimal ignores the sign
    EXPECT_EQ(ParseNumber(u"-42"), -42);
    EXPECT_EQ(ParseNumber(u"-"), 0);
    EXPECT_EQ(ParseNumber(u"+"), 0);
    EXPECT_EQ(ParseNumber(u"0x"), 0);
    EXPECT_EQ(ParseNumber(u"0xfFz1"), 255);
    EXPECT_EQ(ParseNumber(u" 5"), 0);
    EXPECT_EQ(ParseNumber(u"4294967297"), 1);  // wraps in 32 bits
    EXPECT_EQ(ParseNumber(u"0xFFFFFFFF"), -1);
}

TEST(SplitPath, CutsFullPathIntoFolderBaseAndExtension) {
    std::u16string full, folder, base, ext;
    const DWORD length = SplitPath(u"/music/a.b/song.v1.oma", &full, &folder, &base, &ext);
    EXPECT_EQ(full, u"/music/a.b/song.v1.oma");
    EXPECT_EQ(length, full.size());
    EXPECT_EQ(folder, u"/music/a.b/");
    EXPECT_EQ(base, u"song.v1");
    EXPECT_EQ(ext, u".oma");

    SplitPath(u"/music/a.b/noext", nullptr, &folder, &base, &ext);
    EXPECT_EQ(base, u"noext");
    EXPECT_EQ(ext, u"");  // the dot in the folder name is not the extension's

    SplitPath(u"/home/.profile", nullptr, &folder, &base, &ext);
    EXPECT_EQ(base, u".profile");  // a leading dot starts no extension
    EXPECT_EQ(ext, u"");

    SplitPath(u"/a\\b.c\\d.txt", nullptr, &folder, &base, &ext);
    EXPECT_EQ(folder, u"/a\\b.c\\");  // both separators count
    EXPECT_EQ(base, u"d");
}

TEST(SplitPath, RelativePathsBecomeFullAndTrailingSeparatorGivesEmptyName) {
    std::u16string full, folder, base, ext;
    ASSERT_GT(SplitPath(u"x.info", &full, &folder, &base, &ext), 0u);
    EXPECT_EQ(full.front(), u'/');
    EXPECT_EQ(base, u"x");
    EXPECT_EQ(ext, u".info");

    ASSERT_GT(SplitPath(u"/tmp/folder/", &full, &folder, &base, &ext), 0u);
    EXPECT_EQ(folder, u"/tmp/folder/");
    EXPECT_EQ(base, u"");
    EXPECT_EQ(ext, u"");

    full = u"untouched";
    EXPECT_EQ(SplitPath(u"", &full, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(SplitPath(nullptr, &full, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(full, u"untouched");
}

}  // namespace
