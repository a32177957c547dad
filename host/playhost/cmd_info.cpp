// `info PATH`: the input that claims PATH opens it for info reading and its
// record is printed: every metadata value as NAME=VALUE (a field with several
// values gives several lines), every technical field as info:NAME=VALUE, each
// ReplayGain value that is set as replaygain:NAME=VALUE (gains in dB with
// two decimals, peaks with six), and the length in seconds. A failure prints
// the exception's text and ends the command with exit code 1.
#include <charconv>
#include <string>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"

namespace playhost {
namespace {

std::string Fixed(double value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string Shortest(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

}  // namespace

void WriteFileInfo(std::ostream& out, const file_info& info) {
    for (size_t i = 0; i < info.meta_get_count(); ++i) {
        for (size_t v = 0; v < info.meta_enum_value_count(i); ++v)
            WriteKeyValue(out, info.meta_enum_name(i), info.meta_enum_value(i, v));
    }
    for (size_t i = 0; i < info.info_get_count(); ++i)
        WriteKeyValue(out, std::string("info:") + info.info_enum_name(i), info.info_enum_value(i));
    const replaygain_info rg = info.get_replaygain();
    if (rg.is_track_gain_present())
        WriteKeyValue(out, "replaygain:track_gain", Fixed(rg.m_track_gain, 2) + " dB");
    if (rg.is_track_peak_present()) WriteKeyValue(out, "replaygain:track_peak", Fixed(rg.m_track_peak, 6));
    if (rg.is_album_gain_present())
        WriteKeyValue(out, "replaygain:album_gain", Fixed(rg.m_album_gain, 2) + " dB");
    if (rg.is_album_peak_present()) WriteKeyValue(out, "replaygain:album_peak", Fixed(rg.m_album_peak, 6));
    WriteKeyValue(out, "length", Shortest(info.get_length()));
}

int RunInfo(Session& session, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        session.err << "usage: playhost info PATH\n";
        return kExitUsage;
    }
    const std::string path = PlayerPath(args[0]);
    std::ostream& out = session.out;
    const ClaimingInput claim = AnnounceClaimingInput(out, session.host, path);
    if (!claim.input) return kExitFailure;

    abort_callback_dummy abort;
    file_info_impl info;
    if (!RunReportingErrors(out, [&] { ReadFileInfo(claim.input, path, info, abort); })) return kExitFailure;
    WriteFileInfo(out, info);
    return kExitOk;
}

}  // namespace playhost
