#include "jet/base/value.h"

#include <cmath>
#include <cstdio>
#include <type_traits>

namespace jet {
namespace {

std::string with_point(std::string digits, unsigned scale, bool negative) {
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, ".");
    bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (negative && !zero ? "-" : "") + digits;
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

constexpr int64_t kDays1899To1970 = 25569;    // 1899-12-30 .. 1970-01-01
constexpr int64_t kDays0001To1970 = 719162;   // 0001-01-01 .. 1970-01-01

// fraction: digits after the decimal point already trimmed of trailing zeros.
std::string date_text(int64_t days_since_1970, int64_t seconds_of_day, const std::string& fraction) {
    int64_t y;
    unsigned m, d;
    civil_from_days(days_since_1970, y, m, d);
    if (y < 1 || y > 9999) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", int(y), m, d, int(seconds_of_day / 3600),
                  int(seconds_of_day / 60 % 60), int(seconds_of_day % 60));
    std::string out = buf;
    if (!fraction.empty()) out += "." + fraction;
    return out;
}

std::string trimmed_fraction(uint64_t value, int width) {
    if (value == 0) return {};
    std::string s = std::to_string(value);
    s.insert(0, size_t(width) - std::min<size_t>(s.size(), size_t(width)), '0');
    while (!s.empty() && s.back() == '0') s.pop_back();
    return s;
}

}  // namespace

std::string format_currency(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    return with_point(std::to_string(magnitude), 4, negative);
}

std::string format_decimal(const Decimal& d) {
    std::array<uint32_t, 4> w = d.words;
    std::string digits;
    auto nonzero = [&] { return w[0] || w[1] || w[2] || w[3]; };
    while (nonzero()) {
        uint64_t rem = 0;
        for (auto& word : w) {
            uint64_t cur = (rem << 32) | word;
            word = static_cast<uint32_t>(cur / 10);
            rem = cur % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rem));
    }
    if (digits.empty()) digits = "0";
    return with_point(digits, d.scale, d.negative);
}

std::string format_datetime(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6) return {};
    double whole = std::trunc(days);
    double fraction = std::fabs(days - whole);
    int64_t day = static_cast<int64_t>(whole);
    int64_t millis = std::llround(fraction * 86400000.0);
    if (millis >= 86400000) {
        millis -= 86400000;
        day += 1;
    }
    return date_text(day - kDays1899To1970, millis / 1000, trimmed_fraction(uint64_t(millis % 1000), 3));
}

std::string format_extended_datetime(const std::string& ascii) {
    // 19 digits of days since 0001-01-01, ':', 12 digits of seconds and 7 of 100 ns.
    if (ascii.size() < 39 || ascii[19] != ':') return {};
    auto digits = [&](size_t from, size_t count, uint64_t& out) {
        out = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (ascii[i] < '0' || ascii[i] > '9') return false;
            out = out * 10 + uint64_t(ascii[i] - '0');
        }
        return true;
    };
    uint64_t days, seconds, ticks;
    if (!digits(0, 19, days) || !digits(20, 12, seconds) || !digits(32, 7, ticks)) return {};
    if (days > 3652059 || seconds >= 86400) return {};
    return date_text(int64_t(days) - kDays0001To1970, int64_t(seconds), trimmed_fraction(ticks, 7));
}

std::string format_guid(const Guid& g) {
    const auto& b = g.bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
                  b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

std::string hex_lower(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

std::string recovered_value_text(const Value& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) return {};
            else if constexpr (std::is_same_v<T, bool>) return v ? "1" : "0";
            else if constexpr (std::is_same_v<T, uint8_t>) return std::to_string(unsigned(v));
            else if constexpr (std::is_arithmetic_v<T>) return std::to_string(v);
            else if constexpr (std::is_same_v<T, Currency>) return format_currency(v.scaled);
            else if constexpr (std::is_same_v<T, DateTime>) return format_datetime(v.days);
            else if constexpr (std::is_same_v<T, ExtendedDateTime>) return format_extended_datetime(v.ascii);
            else if constexpr (std::is_same_v<T, Decimal>) return format_decimal(v);
            else if constexpr (std::is_same_v<T, Guid>) return format_guid(v);
            else if constexpr (std::is_same_v<T, std::string>) return v;
            else return hex_lower(v.bytes);
        },
        value);
}

}  // namespace jet
