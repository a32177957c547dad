// Big-endian field access for the OpenMG headers (every multi-byte integer in
// these files is big-endian).
#pragma once

#include <cstdint>

namespace medialib::openmg {

inline uint32_t ReadBe16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
inline uint32_t ReadBe24(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 16 | ReadBe16(p + 1); }
inline uint32_t ReadBe32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | ReadBe24(p + 1); }
// A 28-bit "syncsafe" size: four bytes of seven bits each.
inline uint32_t ReadSyncsafe(const uint8_t* p) {
    return (p[0] & 0x7Fu) << 21 | (p[1] & 0x7Fu) << 14 | (p[2] & 0x7Fu) << 7 | (p[3] & 0x7Fu);
}

inline void WriteBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void WriteBe24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    WriteBe16(p + 1, v);
}
inline void WriteBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    WriteBe24(p + 1, v);
}
inline void WriteSyncsafe(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>((v >> 21) & 0x7F);
    p[1] = static_cast<uint8_t>((v >> 14) & 0x7F);
    p[2] = static_cast<uint8_t>((v >> 7) & 0x7F);
    p[3] = static_cast<uint8_t>(v & 0x7F);
}

}  // namespace medialib::openmg
