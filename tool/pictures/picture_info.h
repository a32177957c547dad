// The picture facts that the attribute listing shows for a picture attribute.
// Implemented by the picture layer (tool/pictures); declared here because the
// listing is its only caller outside that layer.
#pragma once

#include <string>

#include "library/media_library.h"

namespace quillet {

// Reads the first value of attribute `id` (or, when that gives no value and
// `second_id` is not 0, of `second_id`) as a picture and gives its file
// extension (".jpg", ...; may stay empty when the format cannot be told),
// width and height. False when there is no decodable picture; the outputs are
// then cleared. `item` is borrowed.
bool ReadPictureInfo(MediaItem* item, ULONG id, ULONG second_id, std::u16string* extension, UINT* width,
                     UINT* height);

}  // namespace quillet
