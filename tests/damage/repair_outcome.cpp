#include "jet/engine.h"
#include "repair_outcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "corpus_support.h"
#include "jet/repair/repair.h"
#include "repair_judge.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace damage {

const TableRows& mdbtools_rows(const fs::path& intact) {
    static std::map<fs::path, TableRows> cache;
    auto it = cache.find(intact);
    if (it != cache.end()) return it->second;
    TableRows rows;
    bool ok = false;
    for (const std::string& table : mdb_tables(intact, ok)) {
        bool exported = false;
        rows[table] = mdb_rows(intact, table, exported);
    }
    return cache.emplace(intact, std::move(rows)).first->second;
}

RowTally expect_sound_repair(const fs::path& database, const fs::path& intact, const std::vector<std::uint8_t>& damaged,
                             const jet::Report& report, bool may_lose_rows,
                             const std::map<std::string, std::string>& renamed, bool may_lose_tables,
                             const TakenOut& taken_out) {
    RowTally tally;
    EXPECT_FALSE(report.backup.empty()) << "the damage was not repaired";
    if (report.backup.empty()) return tally;
    expect_settled(database, report, damaged);

    bool listed = false;
    const std::vector<std::string> tables = mdb_tables(database, listed);
    EXPECT_TRUE(listed) << "mdb-tables fails on the repaired file";
    for (const std::string& table : tables) {
        bool exported = false;
        mdb_rows(database, table, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << table;
    }
    for (const auto& [table, rows] : mdbtools_rows(intact)) {
        tally.total += rows.size();
        const auto name = renamed.count(table) ? renamed.at(table) : table;
        if (may_lose_tables && std::find(tables.begin(), tables.end(), name) == tables.end()) continue;
        bool exported = false;
        const auto now = mdb_rows(database, name, exported);
        EXPECT_TRUE(exported) << "mdb-export fails on table " << name;
        std::multiset<std::string> remaining(rows.begin(), rows.end());
        for (const std::string& row : now) {
            auto found = remaining.find(row);
            EXPECT_TRUE(found != remaining.end()) << "table " << name << " has a row the intact file lacks: " << row;
            if (found == remaining.end()) continue;
            remaining.erase(found);
            ++tally.kept;
        }
        if (auto it = taken_out.find(table); it != taken_out.end()) {
            EXPECT_EQ(remaining.size(), it->second) << "rows taken out of " << name;
        } else if (!may_lose_rows) {
            EXPECT_TRUE(remaining.empty()) << remaining.size() << " rows lost in " << name;
        }
    }
    return tally;
}

}  // namespace damage
