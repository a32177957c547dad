// Helpers of the picture layer's tests: pictures of the real library and of
// the shared recording fake (support/fake_media_library.h), and decoding what
// a picture holds.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "platform/com/variant.h"
#include "platform/imaging/gdiplus.h"
#include "support/fake_media_library.h"

namespace picturetest {

using Bytes = std::vector<uint8_t>;

// The recording picture and its class registration are the shared fakes.
using testsupport::FakePictureClass;
using testsupport::PictureLog;
using RecordingPicture = testsupport::FakeMediaPicture;

inline ComPtr<RecordingPicture> NewRecordingPicture(const std::shared_ptr<PictureLog>& log, Bytes data,
                                                    std::u16string mime = u"") {
    return RecordingPicture::Make(std::move(data), std::move(mime), log);
}

// A picture object of the built media library (through bin/registry.reg)
// holding `data` labelled `mime`; empty when the class cannot be made.
ComPtr<MediaPicture> NewLibraryPicture(const Bytes& data, std::u16string_view mime);

Bytes DataOf(MediaPicture* picture);
std::u16string MimeOf(MediaPicture* picture);  // "<none>" when it cannot be read

// Decodes bytes; format, width and height, and pixels on request.
struct DecodedPicture {
    bool ok = false;
    GUID format{};
    UINT width = 0;
    UINT height = 0;
    std::vector<uint32_t> argb;  // row by row, only when asked for
    uint32_t Pixel(UINT x, UINT y) const { return argb[static_cast<size_t>(y) * width + x]; }
};
DecodedPicture Decode(const Bytes& bytes, bool with_pixels = false);

}  // namespace picturetest
