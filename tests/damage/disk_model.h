#pragma once
// A folder's files as a disk keeps them across a power cut, played from the journal of the
// steps a program took (jet::testing::set_step_hook). Steps are shown before they are
// made, so one that must fail does nothing here either: a create, a link or a rename that
// may not replace, onto a name that is taken. A file's data is durable once the
// file is flushed; a name (create, link, rename, removal) once its folder is. At the cut,
// each file's data since its last flush is lost, kept, or kept up to a torn sector (the
// writes in order, the last one cut at a 512-byte boundary inside it); the folder keeps its
// pending name changes in order up to any one of them.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "jet/file/native_file.h"

namespace damage {

struct Step {
    jet::testing::StepKind kind;
    std::filesystem::path folder;
    std::string name, to;  // in the folder; `to` for Link, Rename and Replace
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> data;
    bool replace = false;  // Rename
    std::string backup;    // Replace: the name the replaced file keeps
};
std::string describe(const Step& step);

// A folder's files: names leading to files (several names to one file: hard links).
struct FolderState {
    std::map<std::string, std::size_t> names;
    std::map<std::size_t, std::vector<std::uint8_t>> contents;
};
FolderState read_folder(const std::filesystem::path& folder);
// Makes the folder hold exactly the state, hard links included.
void write_folder(const FolderState& state, const std::filesystem::path& folder);
// Equal for equal folders, whatever numbers the files were given.
std::string canonical(const FolderState& state);

// Whether bytes begin as an Access file does (what a working copy always begins with).
bool starts_like_a_database(const std::vector<std::uint8_t>& bytes);

enum class DataFate { Lost, Torn, Kept };
const char* fate_name(DataFate fate);

class DiskModel {
public:
    // The files already there, durable.
    explicit DiskModel(const std::map<std::string, std::vector<std::uint8_t>>& files);
    void apply(const Step& step);
    std::size_t pending_name_changes() const { return names_.size() - 1; }
    // The folder after a cut that kept the first `names_kept` pending name changes.
    FolderState after_cut(std::size_t names_kept, DataFate fate) const;

private:
    struct Change {
        bool truncate = false;
        std::uint64_t offset = 0;  // the new size for a truncation
        std::vector<std::uint8_t> data;
    };
    struct File {
        std::vector<std::uint8_t> durable, now;
        std::vector<Change> pending;
    };
    std::vector<std::uint8_t> torn(const File& file) const;
    std::size_t file_named(const std::string& name) const;

    std::vector<File> files_;
    std::vector<std::map<std::string, std::size_t>> names_;  // durable, then after each pending change
};

}  // namespace damage
