// The common shape of an opened file: everything is read at open time into an
// AttributeSet snapshot (no handle to the file is kept), so an OpenedFile can
// outlive its ByteSource and a save never races with an open reader. Each
// container derives from it and supplies its writer.
#pragma once

#include <functional>
#include <set>

#include "medialib/core/container.h"

namespace medialib {

class SnapshotFile : public OpenedFile {
  public:
    // `writer` edits the temporary copy of the file (see atomic_save.h) so that
    // it holds `tags`; `reopen` re-reads a saved file to refresh the snapshot.
    using Writer = std::function<bool(const std::filesystem::path& copy, const AttributeSet& tags)>;
    using Reopener = std::function<std::unique_ptr<OpenedFile>(const std::filesystem::path& path)>;

    // `verify`, when given, checks the edited copy against the original before
    // the copy replaces it (the original is still untouched then); a false
    // answer fails the save and keeps the original.
    using Verifier = std::function<bool(const std::filesystem::path& original,
                                        const std::filesystem::path& copy, const AttributeSet& tags)>;

    SnapshotFile(int32_t container, int32_t codec, AttributeSet attrs, const std::set<uint32_t>& storable,
                 bool decodable, Writer writer, Reopener reopen, Verifier verify = nullptr);

    int32_t Container() const override { return container_; }
    int32_t Codec() const override { return codec_; }
    const AttributeSet& Attributes() const override { return attrs_; }
    bool CanStore(uint32_t id) const override { return storable_.count(id) != 0; }
    bool Decodable() const override { return decodable_; }

    // Keeps only the storable ids of `tags`, writes them atomically and, on
    // success, refreshes the snapshot from the written file.
    bool Save(const std::filesystem::path& path, const AttributeSet& tags) override;

  private:
    int32_t container_;
    int32_t codec_;
    AttributeSet attrs_;
    const std::set<uint32_t>& storable_;
    bool decodable_;
    Writer writer_;
    Reopener reopen_;
    Verifier verify_;
};

}  // namespace medialib
