// Info files and the text-file encodings they share with the lyrics and liner
// notes texts.
//
// An info file holds one "name=value" line per entry, each ended by CR LF.
// Reading takes UTF-16LE after the mark FF FE, UTF-8 after EF BB BF, and the
// thread's ANSI code page otherwise; lines may end in CR, LF or any run of
// them, and each line splits at its first "=". Writing picks the encoding by
// the encoding digit of the command line:
//   1       ANSI, no mark (missing characters become the default character)
//   2       UTF-16LE with FF FE
//   8       UTF-8 with EF BB BF
//   9       ANSI when every string converts exactly, else UTF-8 with its mark
//   other   ANSI when every string converts exactly, else UTF-16LE with its mark
#pragma once

#include <string>

#include "platform/wintypes.h"
#include "tool/common/name_value_list.h"

namespace quillet {

// Appends the entries of the info file at `path` (null: nothing) to `list`. A
// missing, empty, unreadable or undecodable file adds nothing.
void ReadInfoFile(LPCWSTR path, NameValueList& list);

// The decoded text of the file at `path`; false (and `text` untouched) when
// the file is missing, empty, unreadable or decodes to nothing.
bool ReadTextFile(LPCWSTR path, std::u16string* text);

// Replaces the file at `path` (its folder is created first) with the entries
// of `list` in the encoding of `digit`. True when the file was created and
// every byte written; a file that cannot be created is left as it was, and
// one whose writing fails part-way is removed.
bool WriteInfoFile(const NameValueList& list, LPCWSTR path, LONG digit);

// Replaces the file at `path` with `text` (null: empty) in the encoding of
// `digit`; the result and failures as for WriteInfoFile.
bool WriteTextFile(LPCWSTR path, LPCWSTR text, LONG digit);

// For each Info entry: writes folder + base name + ".info" with the attribute
// listing `attributes`, unless that file exists and `force_write` is off, and
// prints "InfoFile" with every name whose writing succeeded. True if at least
// one file was written.
bool ExportInfoFiles(const NameValueList& info, const NameValueList& attributes, bool force_write);

// Reads every info file of the Info list (by the path as given, else by its
// full path) and Sets its named entries into `merged`, first file first, so a
// later file's value of a name wins.
void ImportInfoFiles(const NameValueList& info, NameValueList& merged);

}  // namespace quillet
