#include "corpus_support.h"

#include "jet/engine.h"
#include "jet/format/database.h"
#include "jet/repair/repair.h"
#include "reader_cache.h"

#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace damage {

namespace fs = std::filesystem;

namespace {
// Some corpus values hold every control character, so rows end with a sequence no value holds.
constexpr std::string_view kRowDelimiter = "\x1e#|@";

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, delimiter)) parts.push_back(part);
    return parts;
}

std::vector<std::string> split_rows(const std::string& text) {
    std::vector<std::string> rows;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t at = text.find(kRowDelimiter, from);
        rows.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + kRowDelimiter.size();
    }
    return rows;
}
}  // namespace

fs::path corpus_dir() { return fs::path(TARSOLIN_CORPUS_DIR); }

std::vector<CorpusFile> readable_corpus() { return sampled(every_readable_corpus_file()); }

std::vector<CorpusFile> every_readable_corpus_file() {
    std::vector<CorpusFile> files;
    std::ifstream manifest(corpus_dir() / "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // column names
    while (std::getline(manifest, line)) {
        const auto columns = split(line, '\t');
        // file, format, bytes, user_tables, rows, features, mdbtools_reads_all, ...
        if (columns.size() < 7 || columns[6] != "yes") continue;
        // Shipped damaged (a repeated unique key): any repair of it takes a row out, so it
        // is no intact baseline. Its own tests use it directly.
        if (columns[0] == "ucanaccess/corrupted.accdb") continue;
        const fs::path path = corpus_dir() / columns[0];
        if (fs::exists(path)) files.push_back({path, columns[0], columns[1]});
    }
    return files;
}

// mdbtools, given a damaged file (the floor checks read the backup), can loop and grow
// without end (10 GB seen on a file cut inside a page): each run gets 2 GB and half a minute (a sound corpus-sized file takes a second or two);
// a run cut short reads as a failure, and what it printed before still counts. Readings
// go through the reader cache.
static Command bounded(const std::string& command, const fs::path& file, const std::string& after = "") {
    const readers::Output o = readers::run_on_file("ulimit -v 2097152; timeout 30 " + command, file, after);
    return {o.exit_code, o.out};
}

bool have_mdbtools() { return run("command -v mdb-export && command -v mdb-tables").exit_code == 0; }

std::vector<std::string> mdb_tables(const fs::path& file, bool& ok) {
    const Command c = bounded("mdb-tables -1", file);
    ok = c.exit_code == 0;
    std::vector<std::string> tables;
    for (const std::string& name : split(c.out, '\n'))
        if (!name.empty()) tables.push_back(name);
    return tables;
}

std::vector<std::string> mdb_rows(const fs::path& file, const std::string& table, bool& ok) {
    // Binary values in hex: raw bytes could hold the row delimiter.
    const Command c = bounded("mdb-export -b hex -R \"$(printf '\\036#|@')\"", file, " " + shell_quote(table));
    ok = c.exit_code == 0;
    auto rows = split_rows(c.out);
    if (!rows.empty()) rows.erase(rows.begin());  // column names
    return rows;
}

bool intact_is_sound(const fs::path& file) {
    static std::mutex guard;
    static std::map<fs::path, bool> sound;
    std::lock_guard lock(guard);
    auto [it, added] = sound.try_emplace(file, false);
    if (added) {
        const auto findings = jet::check_database(file).findings;
        it->second = std::all_of(findings.begin(), findings.end(), jet::tolerated);
    }
    return it->second;
}

uint32_t first_user_table_with_rows(const std::filesystem::path& file) {
    jet::Database db(file);
    uint32_t first = 0;
    for (const jet::CatalogEntry& entry : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(entry.tdef_page());
        if (def.table && def.table->num_rows > 0 && (first == 0 || entry.tdef_page() < first)) first = entry.tdef_page();
    }
    return first;
}

}  // namespace damage
