#pragma once
// Application-modal message box with only an OK button and no icon.
#include <string>

namespace platform {

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Returns when the user has pressed OK.
    virtual void show(const std::u16string& text, const std::u16string& caption) = 0;
};

}  // namespace platform
