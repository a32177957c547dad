#include "medialib/core/taglib_stream.h"

#include <taglib/tiostream.h>

#include <algorithm>
#include <limits>

namespace medialib {
namespace {

class SourceStream final : public TagLib::IOStream {
  public:
    explicit SourceStream(const ByteSource& source) : source_(source) {}

    TagLib::FileName name() const override { return "<source>"; }

    TagLib::ByteVector readBlock(unsigned long length) override {
        const uint64_t size = source_.Size();
        if (pos_ >= size || length == 0) return TagLib::ByteVector();
        const auto n = static_cast<unsigned int>(
            std::min<uint64_t>({length, size - pos_, std::numeric_limits<unsigned int>::max() / 2}));
        if (n <= kWindow) {
            // TagLib reads box, chunk and frame headers a few bytes at a
            // time; serve those from one window read instead of a system
            // call each.
            if (pos_ < window_pos_ || pos_ + n > window_pos_ + window_len_) {
                window_pos_ = pos_;
                window_len_ = source_.ReadAt(pos_, window_, kWindow);
            }
            const auto got = static_cast<unsigned int>(std::min<uint64_t>(
                n, window_pos_ + window_len_ > pos_ ? window_pos_ + window_len_ - pos_ : 0));
            TagLib::ByteVector v(reinterpret_cast<const char*>(window_ + (pos_ - window_pos_)), got);
            pos_ += got;
            return v;
        }
        TagLib::ByteVector v(n, '\0');
        const size_t got = source_.ReadAt(pos_, v.data(), n);
        v.resize(static_cast<unsigned int>(got));
        pos_ += got;
        return v;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position p) override {
        const auto size = static_cast<int64_t>(std::min<uint64_t>(source_.Size(), INT64_MAX / 2));
        int64_t base = p == Beginning ? 0 : p == Current ? static_cast<int64_t>(pos_) : size;
        const int64_t to = base + offset;
        pos_ = to < 0 ? 0 : static_cast<uint64_t>(to);
    }
    long tell() const override {
        return static_cast<long>(std::min<uint64_t>(pos_, std::numeric_limits<long>::max()));
    }
    long length() override {
        return static_cast<long>(std::min<uint64_t>(source_.Size(), std::numeric_limits<long>::max()));
    }
    void truncate(long) override {}

  private:
    static constexpr size_t kWindow = 4096;
    const ByteSource& source_;
    uint64_t pos_ = 0;
    uint64_t window_pos_ = 0;
    size_t window_len_ = 0;
    uint8_t window_[kWindow];
};

}  // namespace

std::unique_ptr<TagLib::IOStream> MakeTagLibStream(const ByteSource& source) {
    return std::make_unique<SourceStream>(source);
}

}  // namespace medialib
