// The fuzz entry over the media engine, shared by the libFuzzer target, the
// plain replay program and the corpus test: the input is read through a
// MemorySource by the content dispatcher and by each container's open function
// directly (so a handler is exercised even when an earlier one claims the
// bytes), every attribute is visited and a bounded decode runs on what opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/decoder.h"
#include "medialib/mp4/mp4_file.h"
#include "medialib/mpeg/mp3_file.h"
#include "medialib/openmg/openmg_file.h"
#include "medialib/riff/wav_file.h"

namespace cqfuzz {

// Result bit mask: which opens succeeded (1 dispatcher, 2 WAV, 4 MP4, 8 MP3,
// 16 OpenMG).
inline int OpenEverything(const uint8_t* data, size_t size) {
    using namespace medialib;
    const std::span<const uint8_t> bytes(data, size);
    auto src = MemorySource(bytes);
    int opened = 0;
    auto visit = [&](const std::unique_ptr<OpenedFile>& f, int bit) {
        if (!f) return;
        opened |= bit;
        size_t values = 0;
        for (const auto& [id, list] : f->Attributes()) values += list.size() + (f->CanStore(id) ? 1 : 0);
        (void)values;
    };
    visit(OpenMediaSource(*src, "fuzz.bin"), 1);
    visit(OpenWav(*src, "fuzz.wav"), 2);
    visit(OpenMp4(*src, "fuzz.3gp"), 4);
    visit(OpenMp3(*src, "fuzz.mp3"), 8);
    visit(OpenOpenMg(*src, "fuzz.oma"), 16);
    if (opened) (void)ff::DecodeAll(*src, 8192);
    return opened;
}

}  // namespace cqfuzz
