// Most-significant-bit-first writer into a fixed, zero-filled byte span. A
// write past the end is a programming error (the allocator sizes every unit
// to its space first); it is caught, not performed.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace medialib::atrac3 {

class BitWriter {
  public:
    BitWriter(uint8_t* data, size_t bytes) : data_(data), capacity_bits_(bytes * 8) {}

    void Put(uint32_t value, int bits) {
        assert(bits >= 0 && bits <= 24);
        assert(position_ + static_cast<size_t>(bits) <= capacity_bits_);
        if (position_ + static_cast<size_t>(bits) > capacity_bits_) {
            overflow_ = true;
            return;
        }
        for (int i = bits - 1; i >= 0; --i) {
            if ((value >> i) & 1u) data_[position_ >> 3] |= static_cast<uint8_t>(0x80u >> (position_ & 7));
            ++position_;
        }
    }

    size_t bits() const { return position_; }
    bool overflow() const { return overflow_; }

  private:
    uint8_t* data_;
    size_t capacity_bits_;
    size_t position_ = 0;
    bool overflow_ = false;
};

}  // namespace medialib::atrac3
