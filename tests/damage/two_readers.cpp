#include "two_readers.h"

#include <nlohmann/json.hpp>

#include <mutex>
#include <set>

#include "corpus_support.h"
#include "reader_cache.h"

namespace damage {

namespace fs = std::filesystem;

const char* reader_name(Reader reader) { return reader == Reader::Mdbtools ? "mdbtools" : "mdb-reader"; }

bool have_both_readers() {
    return have_mdbtools() && run("command -v node").exit_code == 0 &&
           fs::exists(fs::path(TARSOLIN_NODE_MODULES) / "mdb-reader" / "package.json");
}

bool Reading::whole() const {
    if (!opened) return false;
    for (const auto& [name, rows] : tables)
        if (!rows) return false;
    return true;
}

namespace {

Reading read_with_mdbtools(const fs::path& file) {
    Reading reading;
    const auto names = mdb_tables(file, reading.opened);
    for (const std::string& name : names) {
        bool ok = false;
        auto rows = mdb_rows(file, name, ok);
        reading.tables[name] = ok ? std::optional(std::move(rows)) : std::nullopt;
    }
    return reading;
}

// mdb-reader through its dump script (2 GB and half a minute, as mdbtools gets).
Reading read_with_mdb_reader(const fs::path& file) {
    Reading reading;
    const readers::Output c = readers::run_on_file("ulimit -v 2097152; timeout 30 node " +
                                                       shell_quote(TARSOLIN_MDB_READER_SCRIPT) + " " +
                                                       shell_quote(TARSOLIN_NODE_MODULES), file);
    if (c.exit_code != 0) return reading;
    const auto dump = nlohmann::json::parse(c.out, nullptr, false);
    if (dump.is_discarded() || !dump.contains("tables")) return reading;
    reading.opened = true;
    for (const auto& table : dump["tables"]) {
        auto& rows = reading.tables[table["name"].get<std::string>()];
        if (table.contains("error")) continue;
        rows.emplace();
        for (const auto& row : table["rows"]) rows->push_back(row.dump());
    }
    return reading;
}

}  // namespace

Reading read_with(Reader reader, const fs::path& file) {
    return reader == Reader::Mdbtools ? read_with_mdbtools(file) : read_with_mdb_reader(file);
}

const Reading& intact_reading(Reader reader, const fs::path& file) {
    static std::mutex guard;
    static std::map<std::pair<Reader, fs::path>, Reading> readings;
    std::lock_guard lock(guard);
    auto [it, added] = readings.try_emplace({reader, file});
    if (added) it->second = read_with(reader, file);
    return it->second;
}

Floor& Floor::operator+=(const Floor& other) {
    intact += other.intact;
    read += other.read;
    kept += other.kept;
    missing += other.missing;
    invented += other.invented;
    examples.insert(examples.end(), other.examples.begin(), other.examples.end());
    return *this;
}

namespace {

const std::vector<std::string>& rows_of(const Reading& reading, const std::string& table) {
    static const std::vector<std::string> none;
    const auto it = reading.tables.find(table);
    return it == reading.tables.end() || !it->second ? none : *it->second;
}

// The rows of `rows` found in `pool`, each taken from it once.
std::multiset<std::string> take_from(std::multiset<std::string>& pool, const std::vector<std::string>& rows) {
    std::multiset<std::string> taken;
    for (const std::string& row : rows)
        if (auto it = pool.find(row); it != pool.end()) {
            taken.insert(row);
            pool.erase(it);
        }
    return taken;
}

}  // namespace

Floor measure_floor(const Reading& intact, const Reading& damaged, const Reading& repaired) {
    Floor floor;
    for (const auto& [table, intact_rows] : intact.tables) {
        if (!intact_rows) continue;
        floor.intact += intact_rows->size();
        std::multiset<std::string> pool(intact_rows->begin(), intact_rows->end());
        std::multiset<std::string> read = take_from(pool, rows_of(damaged, table));
        floor.read += read.size();

        std::multiset<std::string> left(intact_rows->begin(), intact_rows->end());
        const auto& now = rows_of(repaired, table);
        const std::size_t kept = take_from(left, now).size();
        floor.kept += kept;
        for (const std::string& row : now)
            if (auto it = read.find(row); it != read.end()) read.erase(it);
        floor.missing += read.size();
        if (!read.empty() && floor.examples.size() < 4) floor.examples.push_back(table + " lost: " + *read.begin());

        std::multiset<std::string> known(intact_rows->begin(), intact_rows->end());
        for (const std::string& row : now)
            if (auto it = known.find(row); it != known.end())
                known.erase(it);
            else {
                ++floor.invented;
                if (floor.examples.size() < 4) floor.examples.push_back(table + " invented: " + row);
            }
    }
    return floor;
}

}  // namespace damage
