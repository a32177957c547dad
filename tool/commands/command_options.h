// Everything one command line sets: the command, its flags, bounds, modes and
// the lists of files and tags. One record per run, filled word by word by
// DispatchArguments and read by the command sequences.
#pragma once

#include <string>

#include "platform/wintypes.h"
#include "tool/common/name_value_list.h"
#include "tool/common/notes_modes.h"

namespace quillet {

enum class Command : LONG { Get = 0, Put = 1, Create = 2, Convert = 3 };

struct CommandOptions {
    Command command = Command::Get;  // no command word runs Get
    bool all = false;                // "--GetAll" / "--PutAll"
    WCHAR command_digit_char = u'3';
    LONG command_digit = 3;
    bool force_write = false;
    bool quiet = false;
    bool jpeg = false;
    LONG max_width = 0;  // 0: no bound
    LONG max_height = 0;
    LONG min_width = 0;
    LONG min_height = 0;
    LONG font_size = 16;  // kept within 1..72
    LONG lyrics_mode = kModeAuto;
    LONG liner_notes_mode = kModeAuto;
    LONG jacket_mode = kModePicture;
    LONG bit_rate = -1;  // -1: Auto
    std::u16string output_path;
    std::u16string file_type;
    std::u16string remembered_title;
    std::u16string remembered_artist;

    // Source files: no name, the path as value.
    NameValueList sources;
    // Path lists: the encoding digit (one character) as name, the path as given.
    NameValueList base;
    NameValueList info;
    NameValueList lyrics;
    NameValueList liner_notes;
    NameValueList jacket;
    NameValueList text;
    NameValueList text_jpeg;
    NameValueList picture;
    NameValueList picture_jpeg;
    NameValueList jacket_jpeg;
    // Work folders: the folder path as both name and value.
    NameValueList temp_folders;
    // Tag options: the attribute listing name and the text given.
    NameValueList tags;
};

}  // namespace quillet
