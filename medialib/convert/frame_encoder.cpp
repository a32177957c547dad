#include "medialib/convert/frame_encoder.h"

namespace medialib::conversion {

std::unique_ptr<FrameEncoder> MakeFrameEncoder(int32_t, int32_t, int) {
    // No ATRAC encoder in this build yet: every request is refused.
    return nullptr;
}

}  // namespace medialib::conversion
