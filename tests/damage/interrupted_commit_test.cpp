// A repair interrupted at every step it takes on files and folders, by a killed process and
// by a power cut, leaves what the commit promises: the database's path holds the original
// bytes or the finished repair's, every backup holds the original, a left-over working copy
// is never taken for the database, and the next repair starts cleanly and completes.
//
// The steps are those the engine shows its file seam (jet::testing::set_step_hook). A kill
// stops the repair right before step k: from there on nothing reaches the disk. A power cut
// is played on the journal of a whole repair (disk_model.h): data no file flush made
// durable is lost, or kept up to a torn sector; folder changes no folder flush made durable
// are lost from any one of them on, whatever became of the data.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <map>
#include <set>

#include "corpus_support.h"
#include "disk_model.h"
#include "jet/engine.h"
#include "jet/file/native_file.h"
#include "row_damage.h"
#include "sector_damage.h"
#include "temp_folder.h"
#include "repair_judge.h"

namespace fs = std::filesystem;
using namespace damage;
using jet::testing::StepKind;

namespace {

// The hook is a plain function: what it records lives here, for one repair at a time.
struct Recorder {
    std::vector<Step> steps;
    std::size_t stop_before = SIZE_MAX;
    bool gone = false;
    bool refuse_links = false;  // a file system without hard links
};
Recorder* recording = nullptr;
struct Killed {};

int on_step(const jet::testing::FileStep& s) {
    Recorder& r = *recording;
    if (r.gone) return jet::testing::skip_step;
    if (r.refuse_links && s.kind == StepKind::Link) return EPERM;
    if (r.steps.size() == r.stop_before) {
        r.gone = true;
        if (s.kind != StepKind::Remove) throw Killed{};  // cleanup must not throw: it just does nothing
        return jet::testing::skip_step;
    }
    r.steps.push_back({s.kind, s.kind == StepKind::SyncFolder ? s.path : s.path.parent_path(),
                       s.kind == StepKind::SyncFolder ? std::string() : s.path.filename().string(),
                       s.to != nullptr ? s.to->filename().string() : std::string(), s.offset,
                       std::vector<uint8_t>(s.data.begin(), s.data.end()), s.replace,
                       s.backup != nullptr ? s.backup->filename().string() : std::string()});
    return 0;
}

class Hooked {
public:
    explicit Hooked(Recorder& r) {
        recording = &r;
        jet::testing::set_step_hook(on_step);
    }
    ~Hooked() {
        jet::testing::set_step_hook(nullptr);
        recording = nullptr;
    }
};

enum class Backup { Linked, Copied };

struct Case {
    std::string file;  // under the corpus folder
    std::optional<RowKind> row;
    std::optional<SectorKind> sector;
    Backup backup;
};

std::string damage_name(const Case& c) { return c.row ? row_kind_name(*c.row) : sector_kind_name(*c.sector); }

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.file << " / " << damage_name(c) << (c.backup == Backup::Copied ? " / copied backup" : "");
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return test_name(fs::path(info.param.file).stem().string() + "_" + damage_name(info.param) +
                       (info.param.backup == Backup::Copied ? "_Copied" : ""));
}

// Small files of each format, each with rows, indexes and long values to damage.
std::vector<Case> cases() {
    std::vector<Case> out;
    for (const char* file : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                             "jackcess/V2007/indexTestV2007.accdb"}) {
        out.push_back({file, RowKind::TornPage, std::nullopt, Backup::Linked});
        out.push_back({file, std::nullopt, SectorKind::UsageMapPage, Backup::Linked});
        out.push_back({file, RowKind::TornPage, std::nullopt, Backup::Copied});
    }
    return out;
}

// What the uninterrupted repair left: the promise is judged against it.
struct Expected {
    std::string database;  // file name in the folder
    std::vector<uint8_t> original, repaired;
    std::string recovery_name;  // empty when the repair saved nothing
    std::vector<uint8_t> recovery;
};

enum class Role { Database, Backup, WorkingCopy, Recovery, Stranger };

Role role_of(const std::string& name, const Expected& e) {
    const fs::path db(e.database);
    const std::string stem = db.stem().string();
    if (name == e.database) return Role::Database;
    if (name.rfind(e.database + ".reparando", 0) == 0) return Role::WorkingCopy;
    if (name.rfind(stem + " (copia de seguridad", 0) == 0) return Role::Backup;
    if (name.rfind(stem + " (datos recuperados", 0) == 0) return Role::Recovery;
    return Role::Stranger;
}

enum class Holds { Original, Repaired };

// What a user finds in the folder: the broken promise in words, or nothing.
std::string broken_promise(const FolderState& folder, const Expected& e, Holds& holds) {
    std::string broken;
    const auto it = folder.names.find(e.database);
    if (it == folder.names.end()) return "the database's name is gone";
    const std::vector<uint8_t>& db = folder.contents.at(it->second);
    if (db == e.original) holds = Holds::Original;
    else if (db == e.repaired) holds = Holds::Repaired;
    else broken += "the database holds neither the original nor the repaired bytes (" + std::to_string(db.size()) +
                   " bytes); ";
    for (const auto& [name, file] : folder.names) {
        switch (role_of(name, e)) {
        case Role::Backup:
            if (folder.contents.at(file) != e.original) broken += "backup «" + name + "» is not the original; ";
            break;
        case Role::Stranger: broken += "unexpected file «" + name + "»; "; break;
        default: break;
        }
    }
    if (broken.empty() && holds == Holds::Repaired && !e.recovery_name.empty()) {
        const auto r = folder.names.find(e.recovery_name);
        if (r == folder.names.end() || folder.contents.at(r->second) != e.recovery)
            broken += "the repair is in place but its recovery file is missing or incomplete; ";
    }
    return broken;
}

// The next repair must complete and leave the repaired file, backups of the original and no
// working copy; what it met decides its outcome, so states that differ only in what no
// repair reads (a working copy's bytes past its signature, a recovery file's lines) share it.
std::string next_repair_key(const FolderState& folder, const Expected& e) {
    std::string key;
    std::map<std::size_t, std::string> first_name;
    for (const auto& [name, file] : folder.names) {
        const std::vector<uint8_t>& bytes = folder.contents.at(file);
        key += name + "|" + first_name.emplace(file, name).first->second + "|";
        switch (role_of(name, e)) {
        case Role::Database:
        case Role::Backup: key += bytes == e.original ? "o" : bytes == e.repaired ? "r" : "?"; break;
        case Role::WorkingCopy: key += bytes.empty() ? "empty" : std::to_string(starts_like_a_database(bytes)); break;
        default: break;
        }
        key += "\n";
    }
    return key;
}

std::string next_repair_fails(const fs::path& folder, const Expected& e) {
    try {
        jet::repair_database(folder / e.database);
    } catch (const std::exception& error) {
        return std::string("the next repair refused: ") + error.what();
    }
    const FolderState after = read_folder(folder);
    std::string broken;
    const auto db = after.names.find(e.database);
    if (db == after.names.end() || after.contents.at(db->second) != e.repaired)
        broken += "the next repair did not leave the repaired file; ";
    for (const auto& [name, file] : after.names) {
        const Role role = role_of(name, e);
        if (role == Role::WorkingCopy) broken += "working copy «" + name + "» left after the next repair; ";
        if (role == Role::Backup && after.contents.at(file) != e.original)
            broken += "backup «" + name + "» is not the original; ";
    }
    return broken;
}

struct Outcomes {
    std::size_t states = 0, original = 0, repaired = 0, broken = 0, next_repairs = 0, next_failed = 0;
    std::string failures;  // the first few
    void fail(const std::string& what) {
        if (broken + next_failed <= 8) failures += "\n" + what;
    }
    std::string line() const {
        return std::to_string(states) + " states: " + std::to_string(original) + " original, " +
               std::to_string(repaired) + " repaired, " + std::to_string(broken) + " broken; next repair run " +
               std::to_string(next_repairs) + " times, failed " + std::to_string(next_failed);
    }
};

class InterruptedRepair : public ::testing::TestWithParam<Case> {
protected:
    // Puts the damaged file alone in the folder.
    void reset_folder() {
        for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove(entry.path());
        write_bytes(database, damaged);
    }
    // Runs a repair through the seam, stopped before step `stop_before` unless it is past the last.
    std::vector<Step> repair(std::size_t stop_before, bool refuse_links) {
        reset_folder();
        Recorder r;
        r.stop_before = stop_before;
        r.refuse_links = refuse_links;
        {
            Hooked hooked(r);
            try {
                jet::repair_database(database);
            } catch (const Killed&) {
            } catch (const std::exception& error) {
                ADD_FAILURE() << "stopped before step " << stop_before << ", the repair threw " << error.what();
            }
        }
        return std::move(r.steps);
    }
    // Judges one state, running the next repair on it unless one already ran on its like.
    void judge(const FolderState& state, const std::string& where, Outcomes& out) {
        ++out.states;
        Holds holds = Holds::Original;
        if (const std::string broken = broken_promise(state, expected, holds); !broken.empty()) {
            ++out.broken;
            out.fail(where + ": " + broken);
            return;
        }
        ++(holds == Holds::Original ? out.original : out.repaired);
        if (!next_repair_tried.insert(next_repair_key(state, expected)).second) return;
        ++out.next_repairs;
        write_folder(state, folder.path());
        if (const std::string failed = next_repair_fails(folder.path(), expected); !failed.empty()) {
            ++out.next_failed;
            out.fail(where + ": " + failed);
        }
    }

    TempFolder folder;
    fs::path database;
    std::vector<uint8_t> damaged;
    Expected expected;
    std::set<std::string> next_repair_tried;
};

}  // namespace

TEST_P(InterruptedRepair, KeepsTheOriginalOrTheRepairAtEveryStep) {
    const Case& c = GetParam();
    const fs::path intact = corpus_dir() / c.file;
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    damaged = read_bytes(intact);
    const bool hit = c.row ? apply_row_damage(intact, damaged, *c.row).has_value()
                           : apply_sector_damage(intact, damaged, *c.sector).has_value();
    if (!hit) GTEST_SKIP() << "no target for the damage in this file";
    database = folder / intact.filename().string();
    const bool no_links = c.backup == Backup::Copied;

    // The whole repair, recorded.
    const std::vector<Step> journal = repair(SIZE_MAX, no_links);
    expected.database = database.filename().string();
    expected.original = damaged;
    expected.repaired = read_bytes(database);
    ASSERT_NE(expected.repaired, expected.original) << "the damage needed no repair";
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (role_of(name, expected) == Role::Recovery) {
            expected.recovery_name = name;
            expected.recovery = read_bytes(entry.path());
        }
    }
    for (const Step& s : journal) ASSERT_EQ(s.folder, folder.path()) << "a step outside the database's folder";
    if (std::getenv("SHOW_STEPS"))
        for (const Step& s : journal) std::cout << describe(s) << (s.replace ? " (replace)" : "") << "\n";

    // The disk as it stands before each step (the folder starts durable: the file was there).
    DiskModel disk({{expected.database, damaged}});
    std::vector<DiskModel> before_step;
    for (const Step& s : journal) {
        before_step.push_back(disk);
        disk.apply(s);
    }
    before_step.push_back(disk);
    {
        SCOPED_TRACE("after the whole repair");
        Holds holds = Holds::Original;
        ASSERT_EQ(broken_promise(disk.after_cut(disk.pending_name_changes(), DataFate::Kept), expected, holds), "");
        EXPECT_EQ(broken_promise(disk.after_cut(0, DataFate::Lost), expected, holds), "")
            << "a power cut right after the repair loses it";
        EXPECT_TRUE(holds == Holds::Repaired) << "a power cut right after the repair brings the original back";
    }

    // (a) Killed before each step: the disk holds exactly what the steps before it made.
    Outcomes killed;
    for (std::size_t k = 0; k < journal.size(); ++k) {
        const std::vector<Step> made = repair(k, no_links);
        ASSERT_EQ(made.size(), k);
        const FolderState found = read_folder(folder.path());
        const FolderState modelled = before_step[k].after_cut(before_step[k].pending_name_changes(), DataFate::Kept);
        ASSERT_EQ(canonical(found), canonical(modelled)) << "killed before step " << k << " (" << describe(journal[k])
                                                          << "): a change passed the seam unseen";
        judge(found, "killed before step " + std::to_string(k) + " (" + describe(journal[k]) + ")", killed);
    }

    // (b) Power cut before each step, and after the last.
    Outcomes cut;
    std::set<std::string> seen;
    for (std::size_t k = 0; k < before_step.size(); ++k) {
        const DiskModel& at = before_step[k];
        for (std::size_t names = 0; names <= at.pending_name_changes(); ++names)
            for (DataFate fate : {DataFate::Lost, DataFate::Torn, DataFate::Kept}) {
                const FolderState state = at.after_cut(names, fate);
                if (!seen.insert(canonical(state)).second) continue;
                judge(state,
                      "power cut before step " + std::to_string(k) +
                          (k < journal.size() ? " (" + describe(journal[k]) + ")" : std::string(" (none left)")) +
                          ", " + std::to_string(names) + " of " + std::to_string(at.pending_name_changes()) +
                          " folder changes kept, data " + fate_name(fate),
                      cut);
            }
    }

    std::cout << "[ steps    ] " << c.file << " / " << damage_name(c)
              << (no_links ? " / copied backup" : "") << ": " << journal.size() << " steps\n"
              << "[ killed   ] " << killed.line() << "\n[ power cut] " << cut.line() << "\n";
    EXPECT_EQ(killed.broken + killed.next_failed, 0u) << killed.failures;
    EXPECT_EQ(cut.broken + cut.next_failed, 0u) << cut.failures;
}

INSTANTIATE_TEST_SUITE_P(Corpus, InterruptedRepair, ::testing::ValuesIn(cases()), case_name);
