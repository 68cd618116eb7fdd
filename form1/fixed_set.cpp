// The fixed database set under \vendrilo on the current drive and its copies on drive A.
#include <array>

#include "form1/form1.h"

namespace {

constexpr std::array<std::u16string_view, 4> kCompFiles = {
    u"\\vendrilo\\drok.comp",
    u"\\vendrilo\\pelso.comp",
    u"\\vendrilo\\drok2.comp",
    u"\\vendrilo\\pelso2.comp",
};

constexpr std::u16string_view kPelso2Source = u"\\vendrilo\\pelso2.qev";
constexpr std::u16string_view kPelso2Destination = u"a:\\pelso2.qev";
constexpr std::u16string_view kPelsoSource = u"\\vendrilo\\pelso.qev";
constexpr std::u16string_view kPelsoDestination = u"a:\\pelso.qev";

}  // namespace

// No trap: the first failure stops the loop and reaches the caller; the object
// is released on the way out either way.
void Form1::BorraBasesComp() {
    const auto files = services_.file_systems.create(std::u16string(kFileSystemClass));
    for (const auto path : kCompFiles) {
        const std::u16string p(path);
        if (files->file_exists(p)) files->delete_file(p);
    }
}

void Form1::CopiaPelso2() { copy_to_drive_a(kPelso2Source, kPelso2Destination); }

void Form1::CopiaPelso() { copy_to_drive_a(kPelsoSource, kPelsoDestination); }

void Form1::copy_to_drive_a(std::u16string_view source, std::u16string_view destination) {
    std::unique_ptr<platform::FileSystemObject> files;
    try {
        files = services_.file_systems.create(std::u16string(kFileSystemClass));
        files->copy_file(std::u16string(source), std::u16string(destination));
    } catch (...) {
        report_current_failure();
    }
}
