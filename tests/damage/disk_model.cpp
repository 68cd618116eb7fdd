#include "disk_model.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "temp_folder.h"

namespace damage {

namespace fs = std::filesystem;
using jet::testing::StepKind;

namespace {

constexpr std::uint64_t kSector = 512;

void apply_change(std::vector<std::uint8_t>& bytes, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
    if (bytes.size() < offset + n) bytes.resize(static_cast<std::size_t>(offset + n));
    std::copy(data, data + n, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

}  // namespace

std::string describe(const Step& step) {
    switch (step.kind) {
    case StepKind::Create: return "create " + step.name;
    case StepKind::Write:
        return "write " + std::to_string(step.data.size()) + " bytes at " + std::to_string(step.offset) + " of " +
               step.name;
    case StepKind::Truncate: return "cut " + step.name + " to " + std::to_string(step.offset);
    case StepKind::SyncFile: return "flush " + step.name;
    case StepKind::SyncFolder: return "flush the folder";
    case StepKind::Link: return "link " + step.name + " as " + step.to;
    case StepKind::Rename: return "rename " + step.name + " to " + step.to;
    case StepKind::Remove: return "remove " + step.name;
    case StepKind::Replace: return "replace " + step.to + " by " + step.name + ", keeping it as " + step.backup;
    }
    return "?";
}

const char* fate_name(DataFate fate) {
    switch (fate) {
    case DataFate::Lost: return "lost";
    case DataFate::Torn: return "torn";
    case DataFate::Kept: return "kept";
    }
    return "?";
}

bool starts_like_a_database(const std::vector<std::uint8_t>& bytes) {
    static const char jet[] = "Standard Jet DB";
    static const char ace[] = "Standard ACE DB";
    if (bytes.size() < 19 || bytes[0] != 0 || bytes[1] != 1 || bytes[2] != 0 || bytes[3] != 0) return false;
    return std::memcmp(bytes.data() + 4, jet, 15) == 0 || std::memcmp(bytes.data() + 4, ace, 15) == 0;
}

FolderState read_folder(const fs::path& folder) {
    FolderState state;
    std::map<std::pair<dev_t, ino_t>, std::size_t> ids;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat st;
        if (::stat(entry.path().c_str(), &st) != 0) throw std::runtime_error("cannot stat " + entry.path().string());
        const auto [it, fresh] = ids.emplace(std::make_pair(st.st_dev, st.st_ino), ids.size());
        state.names[entry.path().filename().string()] = it->second;
        if (fresh) state.contents[it->second] = read_bytes(entry.path());
    }
    return state;
}

void write_folder(const FolderState& state, const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
    std::map<std::size_t, fs::path> written;
    for (const auto& [name, file] : state.names) {
        const fs::path path = folder / name;
        if (const auto it = written.find(file); it != written.end()) {
            fs::create_hard_link(it->second, path);
        } else {
            write_bytes(path, state.contents.at(file));
            written[file] = path;
        }
    }
}

std::string canonical(const FolderState& state) {
    std::string text;
    std::map<std::size_t, std::string> first_name;
    for (const auto& [name, file] : state.names) {
        const std::vector<std::uint8_t>& bytes = state.contents.at(file);
        text += name + "|" + first_name.emplace(file, name).first->second + "|" + std::to_string(bytes.size()) + "|" +
                std::to_string(fnv1a(bytes)) + "\n";
    }
    return text;
}

DiskModel::DiskModel(const std::map<std::string, std::vector<std::uint8_t>>& files) {
    names_.emplace_back();
    for (const auto& [name, bytes] : files) {
        names_[0][name] = files_.size();
        files_.push_back({bytes, bytes, {}});
    }
}

std::size_t DiskModel::file_named(const std::string& name) const {
    const auto it = names_.back().find(name);
    if (it == names_.back().end()) throw std::runtime_error("a step on a file the folder does not hold: " + name);
    return it->second;
}

void DiskModel::apply(const Step& step) {
    auto renamed = names_.back();
    const bool exclusive = step.kind == StepKind::Create || step.kind == StepKind::Link ||
                           (step.kind == StepKind::Rename && !step.replace);
    if (exclusive && renamed.count(step.kind == StepKind::Create ? step.name : step.to)) return;
    switch (step.kind) {
    case StepKind::Create:
        renamed[step.name] = files_.size();
        files_.emplace_back();
        names_.push_back(std::move(renamed));
        break;
    case StepKind::Write: {
        File& f = files_[file_named(step.name)];
        apply_change(f.now, step.offset, step.data.data(), step.data.size());
        f.pending.push_back({false, step.offset, step.data});
        break;
    }
    case StepKind::Truncate: {
        File& f = files_[file_named(step.name)];
        f.now.resize(static_cast<std::size_t>(step.offset));
        f.pending.push_back({true, step.offset, {}});
        break;
    }
    case StepKind::SyncFile: {
        File& f = files_[file_named(step.name)];
        f.durable = f.now;
        f.pending.clear();
        break;
    }
    case StepKind::SyncFolder: names_.erase(names_.begin(), names_.end() - 1); break;
    case StepKind::Link:
        renamed[step.to] = file_named(step.name);
        names_.push_back(std::move(renamed));
        break;
    case StepKind::Rename:
        renamed[step.to] = file_named(step.name);
        renamed.erase(step.name);
        names_.push_back(std::move(renamed));
        break;
    case StepKind::Remove:
        file_named(step.name);
        renamed.erase(step.name);
        names_.push_back(std::move(renamed));
        break;
    case StepKind::Replace:  // Windows' one call: two name changes the folder keeps in order
        renamed[step.backup] = file_named(step.to);
        names_.push_back(renamed);
        renamed[step.to] = file_named(step.name);
        renamed.erase(step.name);
        names_.push_back(std::move(renamed));
        break;
    }
}

std::vector<std::uint8_t> DiskModel::torn(const File& file) const {
    std::vector<std::uint8_t> bytes = file.durable;
    for (std::size_t i = 0; i < file.pending.size(); ++i) {
        const Change& c = file.pending[i];
        if (c.truncate) {
            bytes.resize(static_cast<std::size_t>(c.offset));
            continue;
        }
        std::size_t n = c.data.size();
        if (i + 1 == file.pending.size()) {
            // The write under way: its sectors reached the disk up to one inside it.
            const std::uint64_t cut = (c.offset + n / 2) / kSector * kSector;
            n = cut > c.offset ? static_cast<std::size_t>(cut - c.offset) : 0;
        }
        apply_change(bytes, c.offset, c.data.data(), n);
    }
    return bytes;
}

FolderState DiskModel::after_cut(std::size_t names_kept, DataFate fate) const {
    FolderState state;
    state.names = names_.at(names_kept);
    for (const auto& [name, file] : state.names) {
        const File& f = files_[file];
        state.contents[file] = fate == DataFate::Lost ? f.durable : fate == DataFate::Kept ? f.now : torn(f);
    }
    return state;
}

}  // namespace damage
