// Test doubles and fixtures for the picture layer: a picture object that
// keeps its bytes and MIME type like the library's and records every
// SetProperty and SetData call, a class registration that makes such pictures
// for CLSID_MediaPicture, and helpers that decode what a picture holds.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "platform/com/variant.h"
#include "platform/imaging/gdiplus.h"
#include "support/media_library_stubs.h"

namespace picturetest {

using Bytes = std::vector<uint8_t>;

// What the fake pictures made by one registration did, shared with the test.
struct PictureLog {
    std::vector<std::u16string> mime_sets;  // every SetProperty(0x2201) value, in order
    std::vector<Bytes> data_sets;           // every SetData, in order
    std::vector<std::u16string> saves;      // every Save path
    long live = 0;                          // pictures alive
    long created = 0;
};

class RecordingPicture final : public platform::ComObject<RecordingPicture, testsupport::StubMediaPicture> {
  public:
    RecordingPicture(std::shared_ptr<PictureLog> log, Bytes data, std::u16string mime);
    ~RecordingPicture();

    HRESULT GetProperty(ULONG id, VARIANT* value) override;
    HRESULT SetProperty(ULONG id, const VARIANT* value) override;
    HRESULT GetData(ULONG* size, BYTE** data) override;
    HRESULT SetData(ULONG size, const BYTE* data) override;
    HRESULT Save(LPCWSTR path) override;

    const Bytes& data() const { return data_; }
    const std::u16string& mime() const { return mime_; }

    // Failures to inject.
    HRESULT get_data_result = S_OK;
    HRESULT set_data_result = S_OK;
    HRESULT get_property_result = S_OK;
    HRESULT set_property_result = S_OK;
    HRESULT save_result = S_OK;  // the file is written only when this is S_OK

  private:
    std::shared_ptr<PictureLog> log_;
    Bytes data_;
    std::u16string mime_;
};

ComPtr<RecordingPicture> NewRecordingPicture(const std::shared_ptr<PictureLog>& log, Bytes data,
                                             std::u16string mime = u"");

// Registers CLSID_MediaPicture as fake pictures for the object's life; each
// new picture gets the failures set here.
class FakePictureClass {
  public:
    FakePictureClass();
    std::shared_ptr<PictureLog> log = std::make_shared<PictureLog>();
    HRESULT create_result = S_OK;
    HRESULT set_data_result = S_OK;
    HRESULT set_property_result = S_OK;

  private:
    platform::ClassRegistration registration_;
};

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
