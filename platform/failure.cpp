#include "platform/failure.h"

#include "platform/text.h"

namespace platform {

Failure::Failure(std::u16string description)
    : description_(std::move(description)), utf8_(utf8_from_utf16(description_)) {}

}  // namespace platform
