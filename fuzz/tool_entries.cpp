// Entries over the console program's readers.
#include <span>

#include "fuzz/entries.h"
#include "tool/tags/info_file.h"

namespace cqfuzz {

int InfoFile(const uint8_t* data, size_t size) {
    quillet::NameValueList list;
    quillet::ReadInfoBytes(std::span<const uint8_t>(data, size), list);
    return list.Size() > 0 ? 1 : 0;
}

}  // namespace cqfuzz
