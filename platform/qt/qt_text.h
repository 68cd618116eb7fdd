#pragma once
// UTF-16 at the seams is what QString holds: the conversions copy code units.
#include <QString>
#include <string>

namespace platform {

inline QString to_qstring(const std::u16string& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

inline std::u16string from_qstring(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace platform
