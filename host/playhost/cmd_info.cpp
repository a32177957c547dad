// `info PATH...`: for each PATH, the input that claims it opens it for info
// reading and its record is printed: every metadata value as NAME=VALUE (a
// field with several values gives several lines), every technical field as
// info:NAME=VALUE, each ReplayGain value that is set as replaygain:NAME=VALUE
// (gains in dB with two decimals, peaks with six), and the length in seconds.
// A failure prints the exception's text in that file's block. Several paths
// are read in this one process, one after the other as a player's library
// scan does, each block printed exactly as for a single path and separated
// from the next by an empty line; a failed file does not stop the others,
// and the exit code is 1 when any failed.
#include <string>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"

namespace playhost {

void WriteFileInfo(std::ostream& out, const file_info& info) {
    for (size_t i = 0; i < info.meta_get_count(); ++i) {
        for (size_t v = 0; v < info.meta_enum_value_count(i); ++v)
            WriteKeyValue(out, info.meta_enum_name(i), info.meta_enum_value(i, v));
    }
    for (size_t i = 0; i < info.info_get_count(); ++i)
        WriteKeyValue(out, std::string("info:") + info.info_enum_name(i), info.info_enum_value(i));
    const replaygain_info rg = info.get_replaygain();
    if (rg.is_track_gain_present())
        WriteKeyValue(out, "replaygain:track_gain", FixedNumber(rg.m_track_gain, 2) + " dB");
    if (rg.is_track_peak_present())
        WriteKeyValue(out, "replaygain:track_peak", FixedNumber(rg.m_track_peak, 6));
    if (rg.is_album_gain_present())
        WriteKeyValue(out, "replaygain:album_gain", FixedNumber(rg.m_album_gain, 2) + " dB");
    if (rg.is_album_peak_present())
        WriteKeyValue(out, "replaygain:album_peak", FixedNumber(rg.m_album_peak, 6));
    WriteKeyValue(out, "length", ShortestNumber(info.get_length()));
}

namespace {

// One file's block; false when it failed.
bool PrintInfoBlock(std::ostream& out, const ClaimingInputs& inputs, const std::string& path) {
    const ClaimingInput claim = AnnounceClaimingInput(out, inputs, path);
    if (!claim.input) return false;

    abort_callback_dummy abort;
    file_info_impl info;
    if (!RunReportingErrors(out, [&] { ReadFileInfo(claim.input, path, info, abort); })) return false;
    WriteFileInfo(out, info);
    return true;
}

}  // namespace

int RunInfo(Session& session, const std::vector<std::string>& args) {
    if (args.empty()) {
        session.err << "usage: playhost info PATH...\n";
        return kExitUsage;
    }
    const ClaimingInputs inputs(session.host);
    int code = kExitOk;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) session.out << '\n';
        if (!PrintInfoBlock(session.out, inputs, PlayerPath(args[i]))) code = kExitFailure;
    }
    return code;
}

}  // namespace playhost
