#pragma once
// The file-open dialog object: no title, no filter, no initial folder, no
// default extension; it keeps the last accepted file name between calls.
#include <string>

namespace platform {

class OpenFileDialog {
public:
    virtual ~OpenFileDialog() = default;
    // Modal; returns when the user accepts a file (true) or cancels (false).
    // A cancel leaves file_name() as it was.
    virtual bool show_open() = 0;
    virtual std::u16string file_name() const = 0;
};

}  // namespace platform
