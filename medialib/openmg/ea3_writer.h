// The start of a new OpenMG file, as the conversion engine writes it: an
// "ea3" tag of the SonicStage size holding no frames yet (tags are added
// later through the item), followed by the 96-byte EA3 header. The payload
// (ATRAC frames or big-endian LPCM) follows directly.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "medialib/openmg/ea3_header.h"

namespace medialib::openmg {

// Tag + header of a plain (E-ID 0xFFFF, zero content id) file with `header`'s
// codec fields. nullopt only when the empty tag cannot be rendered.
std::optional<std::vector<uint8_t>> RenderNewFileStart(const Ea3Header& header);

// EA3 parameters of an ATRAC3plus stream; 0 when not representable.
uint32_t Atrac3PlusParams(int32_t sample_rate, int32_t channels, uint32_t frame_size);

}  // namespace medialib::openmg
