// Starting and ending the picture services for the console program.
//
// The services start the first time a picture is needed, not with the
// process. They live in a module of their own (gdiplus.so, with Cairo, Pango,
// fontconfig and the picture codecs behind it) that the program binds on
// first use, and most runs never need a picture: a listing of a file without
// one, a Put of text fields. Such runs neither load the module nor start the
// services. The start itself is what it always was: GdiplusStartup (version
// 1, no debug callback, nothing suppressed; its result is not checked), then
// the lookup of the JPEG encoder. The picture layer's entry points call
// UsePictureServices() before they make their first object; the process
// entry ends the services with EndPictureServices().
#pragma once

#include <cstdint>

#include "platform/com/guid.h"

namespace quillet {

// The class id of the picture encoder for "image/jpeg"; all zero when there
// is none or the services have not started. The commands pass it to the
// picture layer by reference, and the layer reads it only when it encodes,
// after it has started the services itself.
extern CLSID JpegEncoderClsid;

// Starts the picture services and finds JpegEncoderClsid (the last encoder
// whose MIME type is "image/jpeg"). Returns a token for StopPictureServices.
uintptr_t StartPictureServices();
void StopPictureServices(uintptr_t token);

// Starts the services on its first call (StartPictureServices); later calls
// do nothing. True when they run. When the module cannot be loaded, one line
// on standard error says so, and every picture step then fails as it does
// with any picture the services cannot handle.
bool UsePictureServices();
// Whether UsePictureServices has started the services (and they were not ended since).
bool PictureServicesStarted();
// Ends what UsePictureServices started, if anything, and clears JpegEncoderClsid.
void EndPictureServices();

}  // namespace quillet
