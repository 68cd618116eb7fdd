#pragma once
// A decoded column value and its canonical text forms.
#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace jet {

struct Null {
    friend bool operator==(Null, Null) { return true; }
};
struct Currency {
    int64_t scaled;  // value x 10,000
    friend bool operator==(const Currency&, const Currency&) = default;
};
struct DateTime {
    double days;  // since 1899-12-30; the fraction is the time of day
    friend bool operator==(const DateTime&, const DateTime&) = default;
};
struct ExtendedDateTime {
    std::string ascii;  // as stored, without the trailing NUL
    friend bool operator==(const ExtendedDateTime&, const ExtendedDateTime&) = default;
};
struct Decimal {
    bool negative = false;
    std::array<uint32_t, 4> words{};  // magnitude, most significant word first
    uint8_t precision = 0;
    uint8_t scale = 0;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};
struct Guid {
    std::array<uint8_t, 16> bytes{};  // as stored
    friend bool operator==(const Guid&, const Guid&) = default;
};
struct Binary {
    std::vector<uint8_t> bytes;
    friend bool operator==(const Binary&, const Binary&) = default;
};

// bool: boolean; uint8_t: byte; int16_t: integer; int32_t: long and complex keys;
// int64_t: large number; std::string: text and memo (UTF-8); Binary: binary and OLE.
using Value = std::variant<Null, bool, uint8_t, int16_t, int32_t, int64_t, float, double, Currency, DateTime,
                           ExtendedDateTime, Decimal, Guid, std::string, Binary>;

inline bool is_null(const Value& v) { return std::holds_alternative<Null>(v); }

// "1234.5600": exact, four decimals.
std::string format_currency(int64_t scaled);
// Plain decimal notation with exactly `scale` decimals.
std::string format_decimal(const Decimal& d);
// "YYYY-MM-DD HH:MM:SS", with ".fff" (trailing zeros trimmed) only when the
// milliseconds are not zero. Negative values count days back from 1899-12-30 with a
// positive time of day. Empty for values outside years 1-9999 or not finite.
std::string format_datetime(double days);
// The same shape from the stored ASCII of an extended date/time (100 ns precision);
// empty when the ASCII is malformed.
std::string format_extended_datetime(const std::string& ascii);
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, the first three groups little-endian.
std::string format_guid(const Guid& g);
std::string hex_lower(const std::vector<uint8_t>& bytes);
// A value as plain text, as the recovery file writes it (empty for NULL).
std::string recovered_value_text(const Value& value);

}  // namespace jet
