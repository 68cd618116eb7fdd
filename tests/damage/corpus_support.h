#pragma once
// The corpus of intact Access files and what mdbtools reads from them.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "reader_cache.h"

namespace damage {

struct CorpusFile {
    std::filesystem::path path;  // absolute
    std::string name;            // relative to the corpus folder
    std::string format;          // JET3, JET4, ACE12, ...
};

std::filesystem::path corpus_dir();
// Intact files mdbtools reads completely (so its verdict on a repaired copy means something);
// every Nth of them in a build configured with TARSOLIN_CORPUS_STRIDE=N (the sanitizer's).
std::vector<CorpusFile> readable_corpus();
// All of them, never thinned: for a test that looks for one file of a kind (of a format,
// with an autonumber column) and must find it in every build.
std::vector<CorpusFile> every_readable_corpus_file();
// A list of cases thinned the same way: every Nth case under TARSOLIN_CORPUS_STRIDE=N.
template <class Case>
std::vector<Case> sampled(std::vector<Case> cases) {
    if (TARSOLIN_CORPUS_STRIDE <= 1) return cases;
    std::vector<Case> some;
    for (std::size_t i = 0; i < cases.size(); i += TARSOLIN_CORPUS_STRIDE) some.push_back(std::move(cases[i]));
    return some;
}
// Whether our check finds nothing but notes in the intact file (checked once per file:
// every damage kind asks before it damages a copy).
bool intact_is_sound(const std::filesystem::path& file);
// Definition page of the first table of the user's (by page) that stores rows; 0 when none.
// Access's own tables (flagged system in the catalog) keep stale counts as a rule, so a
// stale count is damage only here.
uint32_t first_user_table_with_rows(const std::filesystem::path& file);

// Shell commands run as the readers' cache runs them (standard error discarded).
using Command = readers::Output;
using readers::run;
using readers::shell_quote;

bool have_mdbtools();
// Table names per mdb-tables -1 (system tables excluded); exit code in ok.
std::vector<std::string> mdb_tables(const std::filesystem::path& file, bool& ok);
// Rows of one table as mdb-export prints them (binary in hex), one string per row (header excluded).
std::vector<std::string> mdb_rows(const std::filesystem::path& file, const std::string& table, bool& ok);

}  // namespace damage
