// A read-only TagLib stream over a ByteSource, so TagLib parses the same bytes
// the rest of the engine sees (files, memory buffers, fuzz inputs). Writes go
// through TagLib's own file stream on the temporary copy instead.
#pragma once

#include <memory>

#include "medialib/core/container.h"

namespace TagLib {
class IOStream;
}

namespace medialib {

// The source is borrowed and must outlive the stream.
std::unique_ptr<TagLib::IOStream> MakeTagLibStream(const ByteSource& source);

}  // namespace medialib
