// Counts the C++ exceptions thrown in this program, so that a test can tell
// that an answer came back as a value and not as an exception thrown and
// caught on the way. The count is kept by a definition of the runtime's throw
// entry in the test program, which passes every throw on unchanged.
#pragma once

#include <cstdint>

namespace sidetagtest {

uint64_t ExceptionsThrown();

}  // namespace sidetagtest
