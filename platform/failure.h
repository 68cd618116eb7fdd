#pragma once
// A failure raised anywhere below the window logic: it carries the description
// the user will read (UTF-16, as the window system counts text).
#include <exception>
#include <string>

namespace platform {

class Failure : public std::exception {
public:
    explicit Failure(std::u16string description);
    const std::u16string& description() const noexcept { return description_; }
    // UTF-8 copy of the description, for logs and std::exception users.
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string description_;
    std::string utf8_;
};

}  // namespace platform
