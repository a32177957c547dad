// libFuzzer target: every container open over an in-memory input.
#include "fuzz/open_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cqfuzz::OpenEverything(data, size);
    return 0;
}
