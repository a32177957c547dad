#include "tool/commands/dispatch.h"

#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tool/commands/command_run.h"
#include "tool/common/console_output.h"
#include "tool/common/numbers_paths.h"

namespace quillet {
namespace {

enum class Opt {
    Version,
    Help,
    Exit,
    Get,
    GetAll,
    Put,
    PutAll,
    Create,
    Convert,
    ForceWrite,
    Quiet,
    Jpeg,
    PictureMax,
    PictureMaxWidth,
    PictureMaxHeight,
    PictureMin,
    PictureMinWidth,
    PictureMinHeight,
    FontSize,
    Base,
    Info,
    Lyrics,
    LyricsMode,
    LinerNotes,
    LinerNotesMode,
    Jacket,
    JacketMode,
    TextJpeg,
    Text,
    PictureJpeg,
    Picture,
    JacketJpeg,
    TempPath,
    Output,
    FileType,
    BitRate,
    Tag,
    ApplicationId,
    PluginRegistryKey,
};

struct OptionRow {
    const char16_t* word;
    const char16_t* alias;  // null: none
    Opt option;
    const char16_t* tag_name = nullptr;  // Opt::Tag only
};

// No two words are equal without regard to case, so the order of the rows
// does not decide anything.
constexpr OptionRow kOptions[] = {
    {u"--Version", nullptr, Opt::Version},
    {u"--Help", nullptr, Opt::Help},
    {u"--Exit", nullptr, Opt::Exit},
    {u"--Get", nullptr, Opt::Get},
    {u"--GetAll", nullptr, Opt::GetAll},
    {u"--Put", nullptr, Opt::Put},
    {u"--PutAll", nullptr, Opt::PutAll},
    {u"--Create", nullptr, Opt::Create},
    {u"--Convert", nullptr, Opt::Convert},
    {u"--ForceWrite", nullptr, Opt::ForceWrite},
    {u"--Quiet", nullptr, Opt::Quiet},
    {u"--Jpeg", nullptr, Opt::Jpeg},
    {u"--PictureMax", nullptr, Opt::PictureMax},
    {u"--PictureMaxWidth", nullptr, Opt::PictureMaxWidth},
    {u"--PictureMaxHeight", nullptr, Opt::PictureMaxHeight},
    {u"--PictureMin", nullptr, Opt::PictureMin},
    {u"--PictureMinWidth", nullptr, Opt::PictureMinWidth},
    {u"--PictureMinHeight", nullptr, Opt::PictureMinHeight},
    {u"--FontSize", nullptr, Opt::FontSize},
    {u"--Base", nullptr, Opt::Base},
    {u"--Info", nullptr, Opt::Info},
    {u"--Lyrics", nullptr, Opt::Lyrics},
    {u"--LyricsMode", nullptr, Opt::LyricsMode},
    {u"--LinerNotes", u"--tc", Opt::LinerNotes},
    {u"--LinerNotesMode", nullptr, Opt::LinerNotesMode},
    {u"--Jacket", u"--ti", Opt::Jacket},
    {u"--JacketMode", nullptr, Opt::JacketMode},
    {u"--TextJpeg", nullptr, Opt::TextJpeg},
    {u"--Text", nullptr, Opt::Text},
    {u"--PictureJpeg", nullptr, Opt::PictureJpeg},
    {u"--Picture", nullptr, Opt::Picture},
    {u"--JacketJpeg", nullptr, Opt::JacketJpeg},
    {u"--TempPath", nullptr, Opt::TempPath},
    {u"--Output", nullptr, Opt::Output},
    {u"--FileType", nullptr, Opt::FileType},
    {u"--BitRate", nullptr, Opt::BitRate},
    {u"--Title", u"--tt", Opt::Tag, u"Title"},
    {u"--SortTitle", nullptr, Opt::Tag, u"SortTitle"},
    {u"--Subtitle", nullptr, Opt::Tag, u"Subtitle"},
    {u"--SortSubtitle", nullptr, Opt::Tag, u"SortSubtitle"},
    {u"--Artist", u"--ta", Opt::Tag, u"Artist"},
    {u"--SortArtist", nullptr, Opt::Tag, u"SortArtist"},
    {u"--ArtistURL", nullptr, Opt::Tag, u"ArtistURL"},
    {u"--Album", u"--tl", Opt::Tag, u"Album"},
    {u"--SortAlbum", nullptr, Opt::Tag, u"SortAlbum"},
    {u"--AlbumArtist", nullptr, Opt::Tag, u"AlbumArtist"},
    {u"--SortAlbumArtist", nullptr, Opt::Tag, u"SortAlbumArtist"},
    {u"--Genre", u"--tg", Opt::Tag, u"Genre"},
    {u"--Composer", nullptr, Opt::Tag, u"Composer"},
    {u"--Lyricist", nullptr, Opt::Tag, u"Lyricist"},
    {u"--TrackNumber", u"--tn", Opt::Tag, u"TrackNumber"},
    {u"--TotalTracks", nullptr, Opt::Tag, u"TotalTracks"},
    {u"--Release", u"--ty", Opt::Tag, u"Release"},
    {u"--Import", nullptr, Opt::Tag, u"Import"},
    {u"--Duration", nullptr, Opt::Tag, u"Duration"},
    {u"--MilliSecond", nullptr, Opt::Tag, u"MilliSecond"},
    {u"--ApplicationId", nullptr, Opt::ApplicationId},
    {u"--PluginRegistryKey", nullptr, Opt::PluginRegistryKey},
};

const OptionRow* MatchOption(std::u16string_view word) {
    for (const OptionRow& row : kOptions) {
        if (platform::EqualsNoCase(word, row.word) || (row.alias && platform::EqualsNoCase(word, row.alias)))
            return &row;
    }
    return nullptr;
}

bool IsOptionWord(const std::u16string& word) {
    return word.size() >= 2 && word[0] == u'-' && word[1] == u'-';
}

// Mode words: Delete, Text, Picture, Auto and (when allowed) Hybrid give 0..4;
// -1 for any other word.
LONG ParseModeWord(const std::u16string& word, bool hybrid_allowed) {
    static constexpr const char16_t* kModes[] = {u"Delete", u"Text", u"Picture", u"Auto", u"Hybrid"};
    const LONG count = hybrid_allowed ? 5 : 4;
    for (LONG i = 0; i < count; ++i) {
        if (platform::EqualsNoCase(word, kModes[i])) return i;
    }
    return -1;
}

// A path word: kept by its full path when that names a file, else as given
// when that does, else dropped without a word.
void AddSourceFile(const std::u16string& word, CommandOptions& options) {
    std::u16string full;
    if (GetFullPath(word.c_str(), &full) && IsExistingFile(full.c_str())) {
        options.sources.Append(nullptr, full.c_str());
    } else if (IsExistingFile(word.c_str())) {
        options.sources.Append(nullptr, word.c_str());
    }
}

// "--TempPath": a folder (or a name that is not there yet) is listed itself;
// an existing file stands for its folder, if that folder exists. A folder is
// listed once, by its first spelling.
void AddTempFolder(const std::u16string& value, CommandOptions& options) {
    auto add = [&](const std::u16string& folder) {
        if (!options.temp_folders.Find(folder)) options.temp_folders.Append(folder, folder);
    };
    if (IsMissingOrFolder(value.c_str())) {
        add(value);
        return;
    }
    std::u16string folder;
    if (SplitPath(value.c_str(), nullptr, &folder, nullptr, nullptr) == 0 || folder.empty()) return;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) add(folder);
}

// "--Release" with a four-character year of 1000 or more stands for 1 January.
std::u16string ReleaseValue(const std::u16string& value) {
    if (value.size() == 4 && ParseNumber(value.c_str()) >= 1000) {
        std::u16string date = u"0000/01/01";
        date.replace(0, 4, value);
        return date;
    }
    return value;
}

void SetCommand(CommandOptions& options, Command command, bool all, WCHAR digit) {
    options.command = command;
    options.all = all;
    options.command_digit_char = digit;
    options.command_digit = digit - u'0';
}

}  // namespace

void PrintHelp() {
    // Lines that end in "\n" are followed by one empty line in the output.
    static constexpr const char16_t* kHelpLines[] = {
        u"[--Version]",
        u"[--Help]",
        u"[--Exit]\n",
        u"[--Get]",
        u"[--GetAll]",
        u"[--Put]",
        u"[--PutAll]",
        u"--Base \"FileName.oma\"",
        u"--Info \"FileName.info\"",
        u"--Lyrics \"FileName.lrc/FileName.jpg/FileName.png/...\"",
        u"--LyricsMode \"Delete/Text/Picture/Auto/Hybrid\"",
        u"--LinerNotes \"FileName.txt/FileName.jpg/FileName.png/...\"",
        u"--LinerNotesMode \"Delete/Text/Picture/Auto/Hybrid\"",
        u"--Jacket \"FileName.jpg/FileName.png/...\"",
        u"--JacketMode \"Delete/Text/Picture/Auto\"\n",
        u"[--Convert]",
        u"---Output \"FileName\"",
        u"--BitRate(-1=Auto)",
        u"--TempPath \"PathName\"",
        u"--FileType",
        u"\tWAV=PCM.wav",
        u"\tPCM=PCM.oma",
        u"\tAAL=AAL.oma(ATRAC3 or ATRAC3plus)",
        u"\tAAL3=AAL.oma(ATRAC3132kHz)",
        u"\tAALP=AAL.oma(ATRAC3plus352kHz)",
        u"\tOMG=ATRAC.omg(ATRAC3 or ATRAC3plus)",
        u"\tOMG3=ATRAC3.omg",
        u"\tOMGP=ATRAC3plus.omg",
        u"\tOMG3P=ATRAC.omg(ATRAC3 priority)",
        u"\tOMGP3=ATRAC3plus.omg(same as OMGP)",
        u"\tOMA=ATRAC.oma(ATRAC3 or ATRAC3plus)",
        u"\tOMA3=ATRAC3.oma",
        u"\tOMAP=ATRAC3plus.oma",
        u"\tOMA3P=ATRAC.oma(ATRAC3 priority)",
        u"\tOMAP3=ATRAC3plus.oma(same as OMAP)",
        u"\tKDR=ATRAC.kdr(ATRAC3 or ATRAC3plus)",
        u"\tKDR3=ATRAC3.kdr",
        u"\tKDRP=ATRAC3plus.kdr",
        u"\tKDR3P=ATRAC.kdr(ATRAC3 priority)",
        u"\tKDRP3=ATRAC3plus.kdr(same as KDRP)",
        u"\tAAC=AAC.3gp(HE-AAC or AAC-LC)",
        u"\tAACL=AAC-LC.3gp",
        u"\tAACH=HE-AAC.3gp",
        u"\tAACLH=AAC.3gp(AAC-LC priority)",
        u"\tAACHL=AAC.3gp(same as AAC)\n",
        u"[--Create]",
        u"--TextJpeg \"FileName.jpg\"",
        u"--Text \"FileName.txt\"",
        u"--PictureJpeg \"FileName.jpg\"",
        u"--Picture \"FileName.jpg/FileName.png/...\"",
        u"--JacketJpeg \"FileName.jpg\"\n",
        u"--Jpeg",
        u"--PictureMax 0~",
        u"--PictureMaxWidth 0~",
        u"--PictureMaxHeight 0~",
        u"--PictureMin 0~",
        u"--PictureMinWidth 0~",
        u"--PictureMinHeight 0~",
        u"--FontSize 0~72",
        u"--ForceWrite",
        u"--Quiet\n",
        u"--Title \"Title\"",
        u"--SortTitle \"Sort Title\"",
        u"--Subtitle \"Subtitle\"",
        u"--SortSubtitle \"Sort Subtitle\"",
        u"--Artist \"Artist\"",
        u"--SortArtist \"Sort Artist\"",
        u"--ArtistURL \"Artist URL\"",
        u"--Album \"Album\"",
        u"--SortAlbum \"Sort Album\"",
        u"--AlbumArtist \"Album Artist\"",
        u"--SortAlbumArtist \"Sort Album Artist\"",
        u"--Genre \"Genre\"",
        u"--Composer \"Composer\"",
        u"--Lyricist \"Lyricist\"",
        u"--TrackNumber  0~",
        u"--TotalTracks  0~",
        u"--Release \"2000/01/01\"",
        u"--Import \"2000/01/01 00:00:00\"",
        u"--Duration 0~",
        u"--MilliSecond 0~",
    };
    static_assert(sizeof(kHelpLines) / sizeof(kHelpLines[0]) == 81);
    for (const char16_t* line : kHelpLines) WriteLine(FormatLine(u"%s", line));
}

ReadOutcome ReadArguments(const std::vector<std::u16string>& words, CommandOptions& options,
                          library::ApplicationIdentity& identity) {
    for (size_t index = 0; index < words.size(); ++index) {
        const std::u16string& word = words[index];
        if (!IsOptionWord(word)) {
            AddSourceFile(word, options);
            continue;
        }
        const bool has_value = index + 1 < words.size() && !IsOptionWord(words[index + 1]);
        const std::u16string value = has_value ? words[index + 1] : std::u16string();

        std::u16string_view name = word;
        WCHAR digit = options.command_digit_char;
        if (name.back() >= u'0' && name.back() <= u'9') {
            digit = name.back();
            name.remove_suffix(1);
        }
        const WCHAR digit_name[2] = {digit, u'\0'};

        const OptionRow* row = MatchOption(name);
        if (!row) continue;  // unknown: its next word is read as a word of its own

        bool consumed = false;  // set where the option takes its value
        auto number = [&](LONG& target) {
            if (has_value) {
                target = ParseNumber(value.c_str());
                consumed = true;
            }
        };
        auto path_list = [&](NameValueList& list) {
            if (has_value) {
                list.Append(digit_name, value.c_str());
                consumed = true;
            }
        };
        auto mode = [&](LONG& target, bool hybrid_allowed) {
            if (has_value) {
                const LONG parsed = ParseModeWord(value, hybrid_allowed);
                if (parsed >= 0) target = parsed;
                consumed = true;
            }
        };

        switch (row->option) {
            case Opt::Version:
                WriteLine(FormatLine(u"%s", kVersionLine));
                return ReadOutcome::kAnswered;
            case Opt::Help:
                PrintHelp();
                return ReadOutcome::kAnswered;
            case Opt::Exit:
                return ReadOutcome::kStopped;
            case Opt::Get:
                SetCommand(options, Command::Get, false, digit);
                break;
            case Opt::GetAll:
                SetCommand(options, Command::Get, true, digit);
                break;
            case Opt::Put:
                SetCommand(options, Command::Put, false, digit);
                break;
            case Opt::PutAll:
                SetCommand(options, Command::Put, true, digit);
                break;
            case Opt::Create:
                SetCommand(options, Command::Create, false, digit);
                break;
            case Opt::Convert:
                SetCommand(options, Command::Convert, false, digit);
                break;
            case Opt::ForceWrite:
                options.force_write = true;
                break;
            case Opt::Quiet:
                options.quiet = true;
                break;
            case Opt::Jpeg:
                options.jpeg = true;
                break;
            case Opt::PictureMax:
                number(options.max_width);
                if (has_value) options.max_height = options.max_width;
                break;
            case Opt::PictureMaxWidth:
                number(options.max_width);
                break;
            case Opt::PictureMaxHeight:
                number(options.max_height);
                break;
            case Opt::PictureMin:
                number(options.min_width);
                if (has_value) options.min_height = options.min_width;
                break;
            case Opt::PictureMinWidth:
                number(options.min_width);
                break;
            case Opt::PictureMinHeight:
                number(options.min_height);
                break;
            case Opt::FontSize:
                number(options.font_size);
                // The bounds apply with or without a value.
                if (options.font_size < 1) options.font_size = 16;
                if (options.font_size > 72) options.font_size = 72;
                break;
            case Opt::Base:
                path_list(options.base);
                break;
            case Opt::Info:
                path_list(options.info);
                break;
            case Opt::Lyrics:
                path_list(options.lyrics);
                break;
            case Opt::LyricsMode:
                mode(options.lyrics_mode, true);
                break;
            case Opt::LinerNotes:
                path_list(options.liner_notes);
                break;
            case Opt::LinerNotesMode:
                mode(options.liner_notes_mode, true);
                break;
            case Opt::Jacket:
                path_list(options.jacket);
                break;
            case Opt::JacketMode:
                mode(options.jacket_mode, false);
                break;
            case Opt::TextJpeg:
                path_list(options.text_jpeg);
                break;
            case Opt::Text:
                path_list(options.text);
                break;
            case Opt::PictureJpeg:
                path_list(options.picture_jpeg);
                break;
            case Opt::Picture:
                path_list(options.picture);
                break;
            case Opt::JacketJpeg:
                path_list(options.jacket_jpeg);
                break;
            case Opt::TempPath:
                if (has_value) {
                    AddTempFolder(value, options);
                    consumed = true;
                }
                break;
            case Opt::Output:
                if (has_value) {
                    options.output_path = value;
                    consumed = true;
                }
                break;
            case Opt::FileType:
                if (has_value) {
                    options.file_type = value;
                    consumed = true;
                }
                break;
            case Opt::BitRate:
                if (has_value) {
                    options.bit_rate =
                        platform::EqualsNoCase(value, u"Auto") ? -1 : ParseNumber(value.c_str());
                    consumed = true;
                }
                break;
            case Opt::Tag: {
                const std::u16string_view tag = row->tag_name;
                // Without a value the entry is still set, to empty.
                const std::u16string text = tag == u"Release" ? ReleaseValue(value) : value;
                options.tags.Set(tag, text);
                if (has_value) {
                    if (tag == u"Title") options.remembered_title = value;
                    if (tag == u"Artist") options.remembered_artist = value;
                    consumed = true;
                }
                break;
            }
            case Opt::ApplicationId:
                library::OverrideApplicationId(identity, has_value, ParseNumber(value.c_str()));
                consumed = has_value;
                break;
            case Opt::PluginRegistryKey:
                library::OverridePluginRegistryKey(identity, has_value ? value.c_str() : nullptr);
                consumed = has_value;
                break;
        }
        if (consumed) ++index;
    }
    return ReadOutcome::kRunCommand;
}

bool DispatchArguments(const std::vector<std::u16string>& words, MediaLibrary* root,
                       library::ApplicationIdentity& identity, LONG& exit_code, int version) {
    CommandOptions options;
    switch (ReadArguments(words, options, identity)) {
        case ReadOutcome::kAnswered:
            return true;
        case ReadOutcome::kStopped:
            return false;
        case ReadOutcome::kRunCommand:
            break;
    }
    RunCommand(options, root, version, identity, exit_code);
    return true;
}

}  // namespace quillet
