#pragma once
// Little-endian field access on byte spans. Reads outside the span yield 0, so a
// parser that checks fits() before trusting a value never reads past its buffer.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <span>

namespace jet {

using Bytes = std::span<const uint8_t>;

inline bool fits(Bytes b, size_t offset, size_t length) {
    return offset <= b.size() && length <= b.size() - offset;
}

inline uint8_t u8_at(Bytes b, size_t offset) { return offset < b.size() ? b[offset] : 0; }

inline uint16_t u16_at(Bytes b, size_t offset) {
    if (!fits(b, offset, 2)) return 0;
    return static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
}

inline uint32_t u24_at(Bytes b, size_t offset) {
    if (!fits(b, offset, 3)) return 0;
    return uint32_t(b[offset]) | (uint32_t(b[offset + 1]) << 8) | (uint32_t(b[offset + 2]) << 16);
}

inline uint32_t u32_at(Bytes b, size_t offset) {
    if (!fits(b, offset, 4)) return 0;
    return uint32_t(b[offset]) | (uint32_t(b[offset + 1]) << 8) | (uint32_t(b[offset + 2]) << 16) |
           (uint32_t(b[offset + 3]) << 24);
}

// Little-endian writes into a buffer the caller has sized to hold the field.
inline void put_u16(std::span<uint8_t> b, size_t offset, uint16_t value) {
    b[offset] = static_cast<uint8_t>(value);
    b[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void put_u32(std::span<uint8_t> b, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t u64_at(Bytes b, size_t offset) {
    if (!fits(b, offset, 8)) return 0;
    return uint64_t(u32_at(b, offset)) | (uint64_t(u32_at(b, offset + 4)) << 32);
}

inline double f64_at(Bytes b, size_t offset) {
    uint64_t bits = u64_at(b, offset);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline float f32_at(Bytes b, size_t offset) {
    uint32_t bits = u32_at(b, offset);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Sub-span [offset, offset + length) clipped to the span.
inline Bytes slice(Bytes b, size_t offset, size_t length) {
    if (offset >= b.size()) return {};
    return b.subspan(offset, std::min(length, b.size() - offset));
}

// A row pointer: row slot in the low byte, page number in the upper 24 bits.
struct RowPointer {
    uint32_t page = 0;
    uint8_t row = 0;
    static RowPointer from_u32(uint32_t v) { return {v >> 8, static_cast<uint8_t>(v & 0xFF)}; }
    bool null() const { return page == 0 && row == 0; }
    friend bool operator==(const RowPointer&, const RowPointer&) = default;
};

}  // namespace jet
