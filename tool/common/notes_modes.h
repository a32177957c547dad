// The modes of the lyrics, liner-notes and jacket steps, shared by the
// command line that sets them and the operations that carry them out.
#pragma once

#include "platform/wintypes.h"

namespace quillet {

// Lyrics and liner notes modes; the jacket mode uses the first four.
enum NotesMode : LONG {
    kModeDelete = 0,
    kModeText = 1,
    kModePicture = 2,
    kModeAuto = 3,
    kModeHybrid = 4,
};

}  // namespace quillet
