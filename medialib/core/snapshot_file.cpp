#include "medialib/core/snapshot_file.h"

#include "medialib/core/atomic_save.h"

namespace medialib {

SnapshotFile::SnapshotFile(int32_t container, int32_t codec, AttributeSet attrs,
                           const std::set<uint32_t>& storable, bool decodable, Writer writer, Reopener reopen,
                           Verifier verify)
    : container_(container),
      codec_(codec),
      attrs_(std::move(attrs)),
      storable_(storable),
      decodable_(decodable),
      writer_(std::move(writer)),
      reopen_(std::move(reopen)),
      verify_(std::move(verify)) {}

bool SnapshotFile::Save(const std::filesystem::path& path, const AttributeSet& tags) {
    AttributeSet kept;
    for (const auto& [id, values] : tags) {
        if (CanStore(id) && !values.empty()) kept[id] = values;
    }
    const auto edit = [&](const std::filesystem::path& copy) {
        return writer_(copy, kept) && (!verify_ || verify_(path, copy, kept));
    };
    if (!EditAtomically(path, edit)) return false;
    if (std::unique_ptr<OpenedFile> fresh = reopen_(path)) attrs_ = fresh->Attributes();
    return true;
}

}  // namespace medialib
