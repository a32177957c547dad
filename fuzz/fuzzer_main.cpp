// One libFuzzer target: CQ_FUZZ_ENTRY names the entry (see CMakeLists.txt).
#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)CQ_FUZZ_ENTRY(data, size);
    return 0;
}
