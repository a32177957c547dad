// `play PATH`: decodes PATH through the input that claims it, as the player
// does, and plays it on the default sound device (ALSA's "default" PCM, which
// also reaches PulseAudio or PipeWire where they are set up as ALSA's
// default). On a terminal one line shows the position; without a sound
// device the command ends with a clear error and exit code 1.
#include <alsa/asoundlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/sdk/audio_chunk.h"
#include "host/sdk/input.h"

namespace playhost {
namespace {

class AlsaOutput {
  public:
    ~AlsaOutput() {
        if (pcm_) {
            snd_pcm_drain(pcm_);
            snd_pcm_close(pcm_);
        }
    }
    // Opens the default device for 16-bit interleaved PCM; the error text on failure.
    std::string Open(unsigned rate, unsigned channels) {
        int rc = snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, 0);
        if (rc < 0) {
            pcm_ = nullptr;
            return std::string("no sound device (") + snd_strerror(rc) + ")";
        }
        rc = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1,
                                500000);
        if (rc < 0) return std::string("the sound device refused the format (") + snd_strerror(rc) + ")";
        channels_ = channels;
        return {};
    }
    bool Write(const audio_chunk& chunk) {
        const size_t count = chunk.get_sample_count() * chunk.get_channels();
        pcm_buffer_.resize(count);
        const audio_sample* data = chunk.get_data();
        for (size_t i = 0; i < count; ++i) {
            const long v = std::lrint(static_cast<double>(data[i]) * 32768.0);
            pcm_buffer_[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
        }
        snd_pcm_uframes_t left = chunk.get_sample_count();
        const int16_t* p = pcm_buffer_.data();
        while (left > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, p, left);
            if (n < 0) n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);
            if (n < 0) return false;
            left -= static_cast<snd_pcm_uframes_t>(n);
            p += static_cast<size_t>(n) * channels_;
        }
        return true;
    }

  private:
    snd_pcm_t* pcm_ = nullptr;
    unsigned channels_ = 0;
    std::vector<int16_t> pcm_buffer_;
};

// ALSA's own messages would break the output protocol; failures are reported
// by the command itself.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

int RunPlay(Session& session, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        session.err << "usage: playhost play PATH\n";
        return kExitUsage;
    }
    const std::string path = PlayerPath(args[0]);
    std::ostream& out = session.out;
    const ClaimingInput claim = AnnounceClaimingInput(out, session.host, path);
    if (!claim.input) return kExitFailure;
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    snd_lib_error_set_handler(&QuietAlsa);
    abort_callback_dummy abort;
    AlsaOutput device;
    std::string device_error;
    double played = 0;
    const bool ok = RunReportingErrors(out, [&] {
        service_ptr_t<input_decoder> decoder;
        claim.input->open_for_decoding(decoder, file_ptr(), path.c_str(), abort);
        file_info_impl info;
        decoder->get_info(0, info, abort);
        const double length = info.get_length();
        decoder->initialize(0, input_decoder::flag_playback | input_decoder::flag_no_looping, abort);
        audio_chunk_impl chunk;
        bool opened = false;
        while (decoder->run(chunk, abort)) {
            if (chunk.is_empty()) continue;
            if (!opened) {
                device_error = device.Open(chunk.get_srate(), chunk.get_channels());
                if (!device_error.empty()) return;
                opened = true;
            }
            if (!device.Write(chunk)) {
                device_error = "the sound device failed while playing";
                return;
            }
            played += chunk.get_duration();
            if (terminal) {
                out << "\rplaying " << Clock(played) << " / " << Clock(length) << std::flush;
            }
        }
        if (terminal) out << '\n';
    });
    if (!ok) return kExitFailure;
    if (!device_error.empty()) {
        if (terminal) out << '\n';
        WriteKeyValue(out, "error", device_error);
        return kExitFailure;
    }
    WriteKeyValue(out, "played", std::to_string(played));
    return kExitOk;
}

}  // namespace playhost
