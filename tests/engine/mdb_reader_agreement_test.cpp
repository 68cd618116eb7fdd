// A second, independent reader: every user table of every corpus file we can open is
// read by the mdb-reader package (Node) and by our reader, and must agree row for row,
// value for value. Skips when node or the package is missing (scripts/deps.sh installs it).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "corpus.h"
#include "reader_cache.h"
#include "jet/format/database.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string& command, int& status) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) return out;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
    status = pclose(pipe.release());
    return out;
}

readers::Output read_with_mdb_reader(const fs::path& file) {
    return readers::run_on_file("node " + shell_quote(TARSOLIN_MDB_READER_SCRIPT) + " " + shell_quote(TARSOLIN_NODE_MODULES),
                                file);
}

// A decimal text as (digits without sign and point, scale, negative), trailing zeros gone.
std::string canonical_decimal(std::string s) {
    bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.erase(0, 1);
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    size_t lead = s.find_first_not_of('0');
    s = lead == std::string::npos ? "0" : s.substr(lead);
    if (s.empty() || s[0] == '.') s = "0" + s;
    return (negative && s != "0" ? "-" : "") + s;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string guid_text(std::string s) {
    s = lower(s);
    if (!s.empty() && s.front() == '{') s.erase(0, 1);
    if (!s.empty() && s.back() == '}') s.pop_back();
    return s;
}

enum class Verdict { Same, Different, NotComparable, UndefinedCodePageByte };

// Bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D have no character in code page 1252. We keep them
// as the C1 controls U+0081... (as Windows does); mdb-reader gives U+FFFD.
bool differs_only_by_undefined_1252_bytes(std::string ours, const std::string& theirs) {
    for (const char* c1 : {"\u0081", "\u008d", "\u008f", "\u0090", "\u009d"})
        for (size_t at; (at = ours.find(c1)) != std::string::npos;) ours.replace(at, 2, "\ufffd");
    return ours == theirs;
}

// One of our values against mdb-reader's (tagged as mdb_reader_dump.mjs describes).
Verdict compare(const jet::Value& ours, const json& theirs) {
    auto same = [](bool b) { return b ? Verdict::Same : Verdict::Different; };
    return std::visit(
        [&](const auto& v) -> Verdict {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, jet::Null>) return same(theirs.is_null());
            else if (theirs.is_null()) return Verdict::Different;
            else if constexpr (std::is_same_v<T, bool>) return same(theirs.is_boolean() && theirs.get<bool>() == v);
            else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t>) {
                if (theirs.is_object() && (theirs.contains("complex") || theirs.contains("unread")))
                    return Verdict::NotComparable;
                return same(theirs.is_number() && theirs.get<double>() == double(v));
            } else if constexpr (std::is_same_v<T, int64_t>)
                return same(theirs.is_object() && theirs.value("bigint", "") == std::to_string(v));
            else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
                if (theirs.is_object()) {
                    const std::string t = theirs.value("num", "");
                    return same(std::isnan(v) ? t == "NaN" : (t == (v > 0 ? "Infinity" : "-Infinity")));
                }
                return same(theirs.is_number() && static_cast<T>(theirs.get<double>()) == v);
            } else if constexpr (std::is_same_v<T, jet::Currency>)
                return same(theirs.is_string() &&
                            canonical_decimal(theirs.get<std::string>()) == canonical_decimal(jet::format_currency(v.scaled)));
            else if constexpr (std::is_same_v<T, jet::Decimal>)
                return same(theirs.is_string() &&
                            canonical_decimal(theirs.get<std::string>()) == canonical_decimal(jet::format_decimal(v)));
            else if constexpr (std::is_same_v<T, jet::DateTime>) {
                // mdb-reader: Math.round((days - 25569) * 86400 * 1000) ms since 1970.
                const double ms = std::floor((v.days - 25569) * 86400 * 1000 + 0.5);
                return same(theirs.is_object() && theirs.contains("ms") && theirs["ms"].get<double>() == ms);
            } else if constexpr (std::is_same_v<T, jet::ExtendedDateTime>)
                return Verdict::NotComparable;
            else if constexpr (std::is_same_v<T, jet::Guid>)
                return same(theirs.is_string() && guid_text(theirs.get<std::string>()) == guid_text(jet::format_guid(v)));
            else if constexpr (std::is_same_v<T, std::string>) {
                if (!theirs.is_string()) return Verdict::Different;
                if (theirs.get<std::string>() == v) return Verdict::Same;
                return differs_only_by_undefined_1252_bytes(v, theirs.get<std::string>()) ? Verdict::UndefinedCodePageByte
                                                                                          : Verdict::Different;
            }
            else if constexpr (std::is_same_v<T, jet::Binary>)
                return same(theirs.is_object() && theirs.value("hex", "") == jet::hex_lower(v.bytes));
            else return Verdict::NotComparable;
        },
        ours);
}

struct Totals {
    int files = 0, tables = 0, reordered = 0, unflagged_system_tables = 0;
    size_t rows = 0, values = 0, not_comparable = 0, undefined_bytes = 0;
    std::map<std::string, size_t> not_comparable_types;
};

using Row = std::vector<jet::Value>;

// Whether our row and theirs agree in every comparable value; tallies when asked to.
bool rows_agree(const jet::TableDef& table, const Row& ours, const json& theirs, const std::vector<size_t>& column_map,
                Totals* totals) {
    bool agree = true;
    for (size_t c = 0; c < ours.size(); ++c) {
        // mdb-reader reads a calculated column's stored bytes as the definition's type: the
        // wrapper stays and the result type is ignored (calcFieldTestV2010's LastFirst comes
        // back as 16 NULs, a length and then the text; its IsRich, a yes/no result, as an
        // integer). Jackcess (CalcFieldTest) reads the values we do.
        const bool calculated = table.columns[c].calculated();
        const Verdict verdict = calculated ? Verdict::NotComparable : compare(ours[c], theirs[column_map[c]]);
        if (verdict == Verdict::Different) agree = false;
        if (!totals) continue;
        if (verdict == Verdict::Same) ++totals->values;
        if (verdict == Verdict::UndefinedCodePageByte) ++totals->undefined_bytes;
        if (verdict == Verdict::NotComparable) {
            ++totals->not_comparable;
            ++totals->not_comparable_types[calculated ? "calculated" : jet::data_type_name(table.columns[c].type)];
        }
    }
    return agree;
}

// Row for row in physical order; when the two readers order rows differently, each of our
// rows must match a distinct row of theirs.
void compare_table(jet::Database& db, const jet::CatalogEntry& entry, const json& t, Totals& totals) {
    SCOPED_TRACE(entry.name);
    const auto& def = db.table_def(entry.tdef_page());
    ASSERT_TRUE(def.table);
    const jet::TableDef& table = *def.table;
    std::map<std::string, size_t> their_column;
    for (size_t k = 0; k < t["columns"].size(); ++k) their_column[t["columns"][k]["name"]] = k;
    ASSERT_EQ(their_column.size(), table.columns.size());
    std::vector<size_t> column_map;
    for (const auto& c : table.columns) {
        ASSERT_TRUE(their_column.count(c.name)) << c.name;
        column_map.push_back(their_column[c.name]);
    }
    std::vector<Row> rows;
    jet::Faults faults;
    db.scan_rows(table, entry.name, [&](const jet::RowLocation&, Row&& v) { rows.push_back(std::move(v)); }, faults);
    const json& their_rows = t["rows"];
    ASSERT_EQ(rows.size(), their_rows.size()) << "row count";
    ++totals.tables;
    totals.rows += rows.size();

    std::vector<size_t> partner(rows.size());
    bool in_order = true;
    for (size_t r = 0; r < rows.size() && in_order; ++r) {
        partner[r] = r;
        in_order = rows_agree(table, rows[r], their_rows[r], column_map, nullptr);
    }
    if (!in_order) {
        ++totals.reordered;
        std::vector<bool> taken(rows.size(), false);
        for (size_t r = 0; r < rows.size(); ++r) {
            size_t k = 0;
            while (k < rows.size() && (taken[k] || !rows_agree(table, rows[r], their_rows[k], column_map, nullptr))) ++k;
            if (k == rows.size()) {
                ADD_FAILURE() << "our row " << r << " has no equal row in mdb-reader's";
                return;
            }
            taken[k] = true;
            partner[r] = k;
        }
    }
    for (size_t r = 0; r < rows.size(); ++r) rows_agree(table, rows[r], their_rows[partner[r]], column_map, &totals);
}

TEST(MdbReaderAgreement, EveryUserTableOfEveryOpenableFile) {
    int status = 0;
    run("node --version > /dev/null 2>&1", status);
    if (status != 0) GTEST_SKIP() << "node is not installed";
    if (!fs::exists(fs::path(TARSOLIN_NODE_MODULES) / "mdb-reader" / "package.json"))
        GTEST_SKIP() << "mdb-reader is not installed in " << TARSOLIN_NODE_MODULES << " (run scripts/deps.sh)";
    const auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "no corpus at " << test::corpus_dir();

    Totals totals;
    for (const auto& path : files) {
        std::optional<jet::Database> db;
        try {
            db.emplace(path);
        } catch (const jet::EngineError&) {
            continue;  // encrypted: we refuse it by design
        }
        SCOPED_TRACE(path.string());
        const readers::Output reading = read_with_mdb_reader(path);
        ASSERT_EQ(reading.exit_code, 0) << "mdb-reader cannot read " << path;
        const json theirs = json::parse(reading.out);
        ++totals.files;

        std::map<std::string, const json*> their_tables;
        for (const auto& t : theirs["tables"]) {
            ASSERT_FALSE(t.contains("error")) << "mdb-reader cannot read table " << t["name"] << ": " << t["error"];
            their_tables[t["name"].get<std::string>()] = &t;
        }
        for (const auto& entry : db->user_tables()) {
            auto found = their_tables.find(entry.name);
            ASSERT_NE(found, their_tables.end()) << "mdb-reader does not list table " << entry.name;
            compare_table(*db, entry, *found->second, totals);
            their_tables.erase(found);
        }
        // mdb-reader also lists MSys* tables whose catalog row lacks the system flag; we
        // leave them out of the user tables, but their rows must agree too.
        for (const auto& [name, t] : their_tables) {
            ASSERT_EQ(name.rfind("MSys", 0), 0u) << "only mdb-reader lists table " << name;
            const auto& entries = db->catalog().entries;
            auto entry = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.name == name; });
            ASSERT_NE(entry, entries.end()) << name;
            ++totals.unflagged_system_tables;
            compare_table(*db, *entry, *t, totals);
        }
    }
    std::cout << "mdb-reader agreement: files " << totals.files << ", tables " << totals.tables << " (of them "
              << totals.unflagged_system_tables << " MSys tables without the system flag; " << totals.reordered
              << " in another row order), rows " << totals.rows << ", values identical " << totals.values
              << ", undefined code-page bytes (ours U+0081.., theirs U+FFFD) " << totals.undefined_bytes
              << ", not comparable " << totals.not_comparable;
    for (const auto& [type, n] : totals.not_comparable_types) std::cout << " [" << type << ": " << n << "]";
    std::cout << "\n";
    EXPECT_GT(totals.files, 30);
    EXPECT_GT(totals.values, 10000u);
}

}  // namespace
