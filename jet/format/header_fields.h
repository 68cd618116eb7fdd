#pragma once
// Where page 0 keeps each field, shared by the reader and the fixes that rewrite them.
#include <array>
#include <cstddef>
#include <cstdint>

namespace jet::header_field {

inline constexpr std::array<uint8_t, 4> kMaskKey{0xC7, 0xDA, 0x39, 0x6B};
inline constexpr std::size_t kMaskStart = 0x18;
inline constexpr std::size_t kEngineName = 0x04;
inline constexpr std::size_t kEngineNameLength = 16;
inline constexpr std::size_t kVersion = 0x14;
inline constexpr std::size_t kJet3SortOrder = 0x3A;
inline constexpr std::size_t kCodePage = 0x3C;
inline constexpr std::size_t kDatabaseKey = 0x3E;
inline constexpr std::size_t kPassword = 0x42;
inline constexpr std::size_t kJet4SortOrder = 0x6E;
inline constexpr std::size_t kJet4SortVersion = 0x71;
inline constexpr std::size_t kCreationDate = 0x72;

}  // namespace jet::header_field
