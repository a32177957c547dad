// The console program's start-up, one command line, and shut-down.
//
// A run prints the banner, starts COM and the picture services, finds the
// JPEG encoder, creates the media library root, detects the application
// identity, reads its words and runs one command, prints "EOS." and ends with
// an exit code: 0 success, 1 failure. Nothing but the exit code and missing
// result lines tells of a failure.
#pragma once

#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/wintypes.h"

namespace quillet {

// The class id of the picture encoder for "image/jpeg"; all zero when there
// is none. Set once at start-up; the commands pass it to the picture layer.
extern CLSID JpegEncoderClsid;

// One command line: `words` holds the program's name and its arguments.
// Needs COM on the calling thread. Returns the exit code.
LONG RunCommandLine(const std::vector<std::u16string>& words);

// The whole run of the process after the locale has been set: console,
// banner, COM, picture services, RunCommandLine, shut-down. Returns the exit code.
LONG ProcessEntry(const std::vector<std::u16string>& words);

// Starts the picture services and finds JpegEncoderClsid (the last encoder
// whose MIME type is "image/jpeg"). Returns a token for StopPictureServices.
uintptr_t StartPictureServices();
void StopPictureServices(uintptr_t token);

// The process arguments as UTF-16, decoded from the locale's encoding.
std::vector<std::u16string> DecodeArguments(int argc, char** argv);

}  // namespace quillet
