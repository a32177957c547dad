// `decode PATH [--buffered] [--seek SECONDS] [--out FILE.wav]`: decodes PATH
// through the input that claims it exactly as the player does (open for
// decoding, initialize, an optional seek, run until it reports the end) and
// prints what was decoded: frames, rate, channels, seconds, and the speed as a
// multiple of real time. --buffered switches the component setting
// "buffering_mode" on for this run only; --out writes the received audio as
// a WAV file.
#include <chrono>
#include <cstdlib>
#include <string>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/playhost/settings_tree.h"
#include "host/playhost/wav_writer.h"
#include "host/sdk/audio_chunk.h"
#include "host/sdk/input.h"

namespace playhost {
namespace {

constexpr char kBufferingSetting[] = "buffering_mode";

// Switches a component's check box for the life of the object.
class ScopedSetting {
  public:
    ScopedSetting(Host& host, const char* name, bool state) {
        settings_ = CollectSettings(host);
        for (SettingNode& node : settings_) {
            if (node.checkbox && node.setting_name == name) {
                box_ = node.checkbox;
                old_ = box_->get_state();
                box_->set_state(state);
                return;
            }
        }
    }
    ~ScopedSetting() {
        if (box_.is_valid()) box_->set_state(old_);
    }
    bool found() const { return box_.is_valid(); }

  private:
    std::vector<SettingNode> settings_;
    service_ptr_t<advconfig_entry_checkbox> box_;
    bool old_ = false;
};

}  // namespace

int RunDecode(Session& session, const std::vector<std::string>& args) {
    std::string path_arg, out_path;
    bool buffered = false;
    double seek = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--buffered") {
            buffered = true;
        } else if ((a == "--seek" || a == "--out") && i + 1 < args.size()) {
            if (a == "--out") {
                out_path = args[++i];
            } else {
                char* end = nullptr;
                seek = std::strtod(args[++i].c_str(), &end);
                if (!end || *end || !(seek >= 0)) {
                    session.err << "playhost decode: --seek needs a number of seconds >= 0\n";
                    return kExitUsage;
                }
            }
        } else if (!a.starts_with("--") && path_arg.empty()) {
            path_arg = a;
        } else {
            path_arg.clear();
            break;
        }
    }
    if (path_arg.empty()) {
        session.err << "usage: playhost decode PATH [--buffered] [--seek SECONDS] [--out FILE.wav]\n";
        return kExitUsage;
    }
    const std::string path = PlayerPath(path_arg);
    std::ostream& out = session.out;
    const ClaimingInput claim = AnnounceClaimingInput(out, session.host, path);
    if (!claim.input) return kExitFailure;
    ScopedSetting mode(session.host, kBufferingSetting, buffered);
    if (buffered && !mode.found()) {
        WriteKeyValue(out, "error", "the component has no setting " + std::string(kBufferingSetting));
        return kExitFailure;
    }
    WriteKeyValue(out, "mode", buffered ? "buffered" : "unbuffered");

    abort_callback_dummy abort;
    uint64_t frames = 0, blocks = 0;
    unsigned rate = 0, channels = 0;
    std::vector<audio_sample> received;
    double seconds_taken = 0;
    const bool ok = RunReportingErrors(out, [&] {
        service_ptr_t<input_decoder> decoder;
        const auto start = std::chrono::steady_clock::now();
        claim.input->open_for_decoding(decoder, file_ptr(), path.c_str(), abort);
        decoder->initialize(0, input_decoder::flag_playback | input_decoder::flag_no_looping, abort);
        if (seek >= 0) decoder->seek(seek, abort);
        audio_chunk_impl chunk;
        while (decoder->run(chunk, abort)) {
            ++blocks;
            if (chunk.is_empty()) continue;
            if (rate == 0) {
                rate = chunk.get_srate();
                channels = chunk.get_channels();
            }
            frames += chunk.get_sample_count();
            if (!out_path.empty())
                received.insert(received.end(), chunk.get_data(),
                                chunk.get_data() + chunk.get_sample_count() * chunk.get_channels());
        }
        decoder.release();
        seconds_taken = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    if (!ok) return kExitFailure;
    const double length = rate ? static_cast<double>(frames) / rate : 0.0;
    WriteKeyValue(out, "blocks", std::to_string(blocks));
    WriteKeyValue(out, "frames", std::to_string(frames));
    WriteKeyValue(out, "samplerate", std::to_string(rate));
    WriteKeyValue(out, "channels", std::to_string(channels));
    WriteKeyValue(out, "length", FixedNumber(length, 3));
    WriteKeyValue(out, "speed", FixedNumber(seconds_taken > 0 ? length / seconds_taken : 0.0, 1) + "x");
    if (!out_path.empty()) {
        if (!WriteWav(out_path, received, rate ? rate : 44100, channels ? channels : 2)) {
            WriteKeyValue(out, "error", "cannot write " + out_path);
            return kExitFailure;
        }
        WriteKeyValue(out, "out", out_path);
    }
    return kExitOk;
}

}  // namespace playhost
