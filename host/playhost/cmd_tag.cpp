// `tag PATH NAME=VALUE...`: changes a file's tags as the player's tag editor
// does. The input that claims PATH reads the file's record through an info
// reader; each NAME=VALUE then sets field NAME to the single value VALUE, or
// removes the field when VALUE is empty; the whole record goes back through
// an info writer (set_info for track 0, then commit). The names
// replaygain_track_gain, replaygain_track_peak, replaygain_album_gain and
// replaygain_album_peak (any case) set the record's ReplayGain values instead
// ("-6.5 dB" or "-6.5" for a gain, "0.98" for a peak; empty unsets). Words
// are checked before the file is touched: a word without "=", an empty name
// or an unreadable ReplayGain value is wrong usage (exit code 2).
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/sdk/text.h"

namespace playhost {
namespace {

enum class GainField { None, TrackGain, TrackPeak, AlbumGain, AlbumPeak };

GainField GainFieldOf(const std::string& name) {
    if (stricmp_utf8(name.c_str(), "replaygain_track_gain") == 0) return GainField::TrackGain;
    if (stricmp_utf8(name.c_str(), "replaygain_track_peak") == 0) return GainField::TrackPeak;
    if (stricmp_utf8(name.c_str(), "replaygain_album_gain") == 0) return GainField::AlbumGain;
    if (stricmp_utf8(name.c_str(), "replaygain_album_peak") == 0) return GainField::AlbumPeak;
    return GainField::None;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A gain ("-6.5 dB", "+1.5dB", "-3") or a peak ("0.98"); nothing when the
// text is anything else.
std::optional<float> ParseGainValue(std::string_view text, bool gain) {
    text = Trim(text);
    if (gain && text.size() >= 2) {
        const std::string_view unit = text.substr(text.size() - 2);
        if ((unit[0] == 'd' || unit[0] == 'D') && (unit[1] == 'b' || unit[1] == 'B'))
            text = Trim(text.substr(0, text.size() - 2));
    }
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    if (gain ? value == replaygain_info::gain_invalid : value < 0) return std::nullopt;
    return value;
}

struct Change {
    std::string name;
    std::string value;
    GainField gain = GainField::None;
    float number = 0;
};

void Apply(const Change& change, file_info& info) {
    replaygain_info rg = info.get_replaygain();
    const bool unset = change.value.empty();
    switch (change.gain) {
        case GainField::None:
            if (unset)
                info.meta_remove_field(change.name.c_str());
            else
                info.meta_set(change.name.c_str(), change.value.c_str());
            return;
        case GainField::TrackGain:
            rg.m_track_gain = unset ? replaygain_info::gain_invalid : change.number;
            break;
        case GainField::AlbumGain:
            rg.m_album_gain = unset ? replaygain_info::gain_invalid : change.number;
            break;
        case GainField::TrackPeak:
            rg.m_track_peak = unset ? replaygain_info::peak_invalid : change.number;
            break;
        case GainField::AlbumPeak:
            rg.m_album_peak = unset ? replaygain_info::peak_invalid : change.number;
            break;
    }
    info.set_replaygain(rg);
}

}  // namespace

int RunTag(Session& session, const std::vector<std::string>& args) {
    if (args.size() < 2) {
        session.err << "usage: playhost tag PATH NAME=VALUE...\n";
        return kExitUsage;
    }
    std::vector<Change> changes;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        const size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) {
            session.err << "playhost tag: expected NAME=VALUE, got \"" << word << "\"\n";
            return kExitUsage;
        }
        Change change{word.substr(0, equals), word.substr(equals + 1)};
        change.gain = GainFieldOf(change.name);
        if (change.gain != GainField::None && !change.value.empty()) {
            const bool is_gain = change.gain == GainField::TrackGain || change.gain == GainField::AlbumGain;
            const std::optional<float> number = ParseGainValue(change.value, is_gain);
            if (!number) {
                session.err << "playhost tag: not a ReplayGain " << (is_gain ? "gain" : "peak") << ": \""
                            << change.value << "\"\n";
                return kExitUsage;
            }
            change.number = *number;
        }
        changes.push_back(std::move(change));
    }

    const std::string path = PlayerPath(args[0]);
    std::ostream& out = session.out;
    const ClaimingInput claim = AnnounceClaimingInput(out, session.host, path);
    if (!claim.input) return kExitFailure;

    abort_callback_dummy abort;
    const bool written = RunReportingErrors(out, [&] {
        file_info_impl info;
        ReadFileInfo(claim.input, path, info, abort);
        for (const Change& change : changes) Apply(change, info);
        service_ptr_t<input_info_writer> writer;
        claim.input->open_for_info_write(writer, file_ptr(), path.c_str(), abort);
        writer->set_info(0, info, abort);
        writer->commit(abort);
    });
    if (!written) return kExitFailure;
    WriteKeyValue(out, "written", true);
    return kExitOk;
}

}  // namespace playhost
