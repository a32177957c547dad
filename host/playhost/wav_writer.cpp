#include "host/playhost/wav_writer.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace playhost {
namespace {

void Put16(std::vector<char>& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
void Put32(std::vector<char>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace

bool WriteWav(const std::filesystem::path& path, const std::vector<audio_sample>& samples, unsigned rate,
              unsigned channels) {
    bool is16 = true;
    for (audio_sample s : samples) {
        const float scaled = s * 32768.0f;
        if (scaled != std::nearbyint(scaled) || scaled < -32768.0f || scaled > 32767.0f) {
            is16 = false;
            break;
        }
    }
    const unsigned bytes_per_sample = is16 ? 2 : 4;
    const uint64_t data_bytes = static_cast<uint64_t>(samples.size()) * bytes_per_sample;
    if (data_bytes > 0xFFFFFFFFull - 36) return false;
    std::vector<char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    Put32(header, static_cast<uint32_t>(36 + data_bytes));
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(header, 16);
    Put16(header, is16 ? 1 : 3);  // PCM or IEEE float
    Put16(header, static_cast<uint16_t>(channels));
    Put32(header, rate);
    Put32(header, rate * channels * bytes_per_sample);
    Put16(header, static_cast<uint16_t>(channels * bytes_per_sample));
    Put16(header, static_cast<uint16_t>(bytes_per_sample * 8));
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    Put32(header, static_cast<uint32_t>(data_bytes));

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (is16) {
        std::vector<int16_t> pcm(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            pcm[i] = static_cast<int16_t>(std::lrint(samples[i] * 32768.0f));
        file.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    } else {
        file.write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * 4));
    }
    return static_cast<bool>(file.flush());
}

}  // namespace playhost
