// Rows repeating a key of a unique index: the repair keeps one row per key (the one other
// tables reference, else the first), saves each other one to the recovery file, takes it
// out of its table, and leaves every other row as it was. Cases: the duplicate that
// corrupted.accdb ships with, a primary key copied from one row into another in a Jet 3, a
// Jet 4 and an ACE file, a compound key, a unique index over rows that other tables
// reference unevenly, and NULL keys, which never repeat.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "jet/engine.h"
#include "corpus_support.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/relationships.h"
#include "jet/repair/repair.h"
#include "jet/index/unique_keys.h"
#include "repair_outcome.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using namespace damage;
using nlohmann::json;

namespace {

std::vector<json> recovery_lines(const jet::Report& report) {
    std::vector<json> out;
    if (report.recovery.empty()) return out;
    std::ifstream in(report.recovery);
    for (std::string line; std::getline(in, line);) out.push_back(json::parse(line));
    return out;
}

std::vector<const jet::Finding*> with_code(const jet::Report& report, const std::string& code) {
    std::vector<const jet::Finding*> out;
    for (const jet::Finding& f : report.findings)
        if (f.code == code) out.push_back(&f);
    return out;
}

const jet::TableDef& table_named(jet::Database& db, const std::string& name) {
    for (const jet::CatalogEntry& e : db.user_tables())
        if (e.name == name) return *db.table_def(e.tdef_page()).table;
    throw std::runtime_error("no table " + name);
}

size_t column_named(const jet::TableDef& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == name) return i;
    throw std::runtime_error("no column " + name);
}

// Values of some columns for every live row, in physical order.
std::vector<std::vector<jet::Value>> column_values(const fs::path& file, const std::string& table,
                                                   const std::vector<std::string>& columns) {
    jet::Database db(file);
    const jet::TableDef& t = table_named(db, table);
    std::vector<std::vector<jet::Value>> out;
    jet::Faults faults;
    db.scan_rows(t, table, [&](const jet::RowLocation&, std::vector<jet::Value>&& values) {
        std::vector<jet::Value> picked;
        for (const std::string& c : columns) picked.push_back(values[column_named(t, c)]);
        out.push_back(std::move(picked));
    }, faults);
    return out;
}

std::string text(const jet::Value& v) { return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : ""; }

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A live row stored in its own slot and the place of one fixed-length field in the file.
struct StoredField {
    jet::RowLocation at;
    size_t offset = 0;  // in the file
    std::vector<uint8_t> bytes;
    size_t null_byte = 0;  // the null-mask byte of the column, and its bit
    uint8_t null_bit = 0;
};

std::vector<StoredField> stored_fields(jet::Database& db, const std::vector<uint8_t>& file, const jet::TableDef& t,
                                       const std::string& name, size_t column) {
    std::vector<StoredField> out;
    const jet::Layout& layout = db.layout();
    jet::Faults faults;
    for (uint32_t p : db.data_pages(t, name, faults)) {
        const size_t base = size_t(p) * layout.page_size;
        const jet::Bytes page = jet::Bytes(file).subspan(base, layout.page_size);
        const jet::DataPage view(page, layout);
        for (uint16_t i = 0; i < view.row_count(); ++i) {
            const jet::RowSlot slot = view.slot(i);
            if (slot.deleted() || slot.overflow() || !slot.bounds_ok) continue;
            const jet::Bytes row = view.row(i);
            const jet::CrackedRow cracked = jet::crack_row(t, layout, row);
            if (!cracked.usable || column >= cracked.fields.size() || !cracked.fields[column].present) continue;
            const jet::Bytes field = cracked.fields[column].bytes;
            const size_t row_end = size_t(row.data() - file.data()) + row.size();
            const size_t mask = (size_t(cracked.stored_columns) + 7) / 8;
            const uint16_t number = t.columns[column].number;
            out.push_back({{p, i}, size_t(field.data() - file.data()), {field.begin(), field.end()},
                           row_end - mask + number / 8, static_cast<uint8_t>(1u << (number % 8))});
        }
    }
    return out;
}

// ---- the file shipped damaged ----

TEST(UniqueKeyRepair, TheRepeatedKeyCorruptedAccdbShipsWithIsTakenOut) {
    const fs::path intact = corpus_dir() / "ucanaccess/corrupted.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    const std::vector<uint8_t> bytes = read_bytes(intact);
    TempFolder folder;
    const fs::path database = folder / "corrupted.accdb";
    write_bytes(database, bytes);

    const jet::Report found = jet::check_database(database);
    const auto repeats = with_code(found, "IDX_UNIQUE_DUPLICATE");
    ASSERT_EQ(repeats.size(), 1u);
    EXPECT_EQ(repeats[0]->severity, jet::Severity::Error);
    EXPECT_EQ(repeats[0]->object, "tabla UK, página 181, fila 1");
    EXPECT_FALSE(jet::tolerated(*repeats[0]));

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    EXPECT_EQ(report.unsaved, 0u);
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false, {},
                        /*may_lose_tables=*/false, {{"UK", 1}});

    // Exactly the second row (ID 2) went, whole, to the recovery file; the first stays.
    const auto lines = recovery_lines(report);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["tabla"], "UK");
    EXPECT_EQ(lines[0]["pagina"], 181);
    EXPECT_EQ(lines[0]["fila"], 1);
    EXPECT_EQ(lines[0]["valores"], (json{{"ID", "2"}, {"uk", "1"}}));
    EXPECT_NE(lines[0]["motivo"].get<std::string>().find(".rC"), std::string::npos);
    bool exported = false;
    EXPECT_EQ(mdb_rows(database, "UK", exported), std::vector<std::string>{"1,1"});
}

// ---- a primary key copied from one row into another ----

struct KeyCopy {
    std::string table;
    std::string column;
    jet::RowLocation from, to;
    int64_t value = 0;  // the key both rows now hold
};

int64_t signed_value(const std::vector<uint8_t>& b) {
    uint64_t v = 0;
    for (size_t i = 0; i < b.size(); ++i) v |= uint64_t(b[i]) << (8 * i);
    const unsigned bits = unsigned(8 * b.size());
    return bits < 64 && (v >> (bits - 1)) ? int64_t(v) - (int64_t(1) << bits) : int64_t(v);
}

// Finds a primary key over one integer column with two rows of different values stored
// in place, and writes the first row's value over the second's.
std::optional<KeyCopy> copy_primary_key(const fs::path& intact, std::vector<uint8_t>& bytes) {
    jet::Database db(intact);
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const auto& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        const jet::TableDef& t = *def.table;
        for (const jet::LogicalIndex& li : t.logical_indexes) {
            if (li.index_type != 1 || li.real_number >= t.real_indexes.size()) continue;
            const auto& cols = t.real_indexes[li.real_number].columns;
            if (cols[0].number == 0xFFFF || cols[1].number != 0xFFFF) continue;
            size_t column = t.columns.size();
            for (size_t c = 0; c < t.columns.size(); ++c)
                if (t.columns[c].number == cols[0].number) column = c;
            if (column == t.columns.size()) continue;
            const uint8_t type = t.columns[column].type;
            if (type != jet::data_type::long_integer && type != jet::data_type::integer) continue;
            const auto fields = stored_fields(db, bytes, t, e.name, column);
            for (size_t k = 1; k < fields.size(); ++k) {
                if (fields[k].bytes == fields[0].bytes) continue;
                std::copy(fields[0].bytes.begin(), fields[0].bytes.end(), bytes.begin() + long(fields[k].offset));
                return KeyCopy{e.name, t.columns[column].name, fields[0].at, fields[k].at, signed_value(fields[0].bytes)};
            }
        }
    }
    return std::nullopt;
}

class PrimaryKeyCopied : public ::testing::TestWithParam<std::string> {};

TEST_P(PrimaryKeyCopied, TheLaterRowGoesToTheRecoveryFile) {
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    std::optional<CorpusFile> file;
    std::vector<uint8_t> bytes;
    std::optional<KeyCopy> copy;
    for (const CorpusFile& f : every_readable_corpus_file()) {
        if (f.format != GetParam()) continue;
        bytes = read_bytes(f.path);
        copy = copy_primary_key(f.path, bytes);
        if (copy) {
            file = f;
            break;
        }
    }
    if (!file) GTEST_SKIP() << "no " << GetParam() << " file with an integer primary key over two rows";
    SCOPED_TRACE(file->name + ", table " + copy->table + ", column " + copy->column);

    TempFolder folder;
    const fs::path database = folder / file->path.filename();
    write_bytes(database, bytes);
    const jet::Report found = jet::check_database(database);
    const auto repeats = with_code(found, "IDX_UNIQUE_DUPLICATE");
    ASSERT_EQ(repeats.size(), 1u) << "findings: " << found.findings.size();
    EXPECT_EQ(repeats[0]->object, "tabla " + copy->table + ", página " + std::to_string(copy->to.page) + ", fila " +
                                      std::to_string(copy->to.row));

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    // The damaged row no longer matches any intact row: it must be the one taken out.
    expect_sound_repair(database, file->path, bytes, report, /*may_lose_rows=*/false, {},
                        /*may_lose_tables=*/false, {{copy->table, 1}});
    const auto lines = recovery_lines(report);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["tabla"], copy->table);
    EXPECT_EQ(lines[0]["pagina"], copy->to.page);
    EXPECT_EQ(lines[0]["fila"], copy->to.row);
    EXPECT_EQ(lines[0]["valores"][copy->column], std::to_string(copy->value));
}

INSTANTIATE_TEST_SUITE_P(Formats, PrimaryKeyCopied, ::testing::Values("JET3", "JET4", "ACE12"));

// ---- a compound primary key ----

TEST(UniqueKeyRepair, ACompoundKeyRepeatsOnlyWhenEveryColumnDoes) {
    // Northwind's order lines are keyed by (OrderID, ProductID). Two lines of one order
    // differ only in the product: giving the later one the earlier one's product repeats
    // the whole key, and that later line goes.
    const fs::path intact = corpus_dir() / "efcore-jet/JetProviderExceptionTests/Northwind.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    std::vector<uint8_t> bytes = read_bytes(intact);
    jet::RowLocation later;
    int64_t order = 0, product = 0;
    {
        jet::Database db(intact);
        const jet::TableDef& lines = table_named(db, "Order Details");
        const size_t order_column = column_named(lines, "OrderID"), product_column = column_named(lines, "ProductID");
        bool primary = false;
        for (const jet::LogicalIndex& li : lines.logical_indexes) {
            if (li.index_type != 1) continue;
            const auto& cols = lines.real_indexes.at(li.real_number).columns;
            primary = cols[0].number == lines.columns[order_column].number &&
                      cols[1].number == lines.columns[product_column].number && cols[2].number == 0xFFFF;
        }
        ASSERT_TRUE(primary) << "Order Details is not keyed by (OrderID, ProductID)";
        const auto orders = stored_fields(db, bytes, lines, "Order Details", order_column);
        const auto products = stored_fields(db, bytes, lines, "Order Details", product_column);
        ASSERT_EQ(orders.size(), products.size());
        ASSERT_GE(orders.size(), 2u);
        ASSERT_EQ(orders[0].bytes, orders[1].bytes) << "the first two lines belong to different orders";
        ASSERT_NE(products[0].bytes, products[1].bytes);
        std::copy(products[0].bytes.begin(), products[0].bytes.end(), bytes.begin() + long(products[1].offset));
        later = products[1].at;
        order = signed_value(orders[0].bytes);
        product = signed_value(products[0].bytes);
    }
    TempFolder folder;
    const fs::path database = folder / "Northwind.accdb";
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    // Many lines share an order: only the one whose whole key repeats is named.
    const auto repeats = with_code(report, "IDX_UNIQUE_DUPLICATE");
    ASSERT_EQ(repeats.size(), 1u);
    EXPECT_EQ(repeats[0]->object, "tabla Order Details, página " + std::to_string(later.page) + ", fila " +
                                      std::to_string(later.row));
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false, {},
                        /*may_lose_tables=*/false, {{"Order Details", 1}});
    const auto lines = recovery_lines(report);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["valores"]["OrderID"], std::to_string(order));
    EXPECT_EQ(lines[0]["valores"]["ProductID"], std::to_string(product));
}

// ---- a unique index over rows that other tables reference unevenly ----

// Sets the unique flag of a real index in its table definition, found by its owned-map
// and root pointers (stored side by side, the flags byte after them).
bool make_unique(std::vector<uint8_t>& bytes, const jet::TableDef& t, const jet::RealIndex& ri, bool jet3,
                 uint32_t page_size) {
    uint8_t pattern[8];
    for (int i = 0; i < 4; ++i) pattern[i] = uint8_t(ri.owned_map >> (8 * i)), pattern[4 + i] = uint8_t(ri.root_page >> (8 * i));
    const size_t flags_after = jet3 ? 0 : 4;  // from the end of the root pointer
    for (uint32_t p : t.pages) {
        const auto first = bytes.begin() + long(size_t(p) * page_size), last = first + page_size;
        auto it = std::search(first, last, std::begin(pattern), std::end(pattern));
        if (it == last || std::search(it + 1, last, std::begin(pattern), std::end(pattern)) != last) continue;
        const size_t at = size_t(it - bytes.begin()) + 8 + flags_after;
        if (at >= size_t(last - bytes.begin())) return false;
        bytes[at] |= 0x01;
        return true;
    }
    return false;
}

// The same for the real index behind the logical index named `index`.
bool make_index_unique(std::vector<uint8_t>& bytes, jet::Database& db, const jet::TableDef& t, const std::string& index) {
    for (const jet::LogicalIndex& li : t.logical_indexes)
        if (li.name == index)
            return make_unique(bytes, t, t.real_indexes.at(li.real_number), db.layout().jet3, db.layout().page_size);
    return false;
}

TEST(UniqueKeyRepair, AReferencedRowKeepsTheKeyOverAnEarlierOne) {
    // Northwind's customers PARIS (no orders) and SPECD (with orders) share the city
    // "Paris"; PARIS comes first. With the City index made unique, SPECD must stay.
    const fs::path intact = corpus_dir() / "efcore-jet/JetProviderExceptionTests/Northwind.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-tables, mdb-export) not installed";
    std::vector<uint8_t> bytes = read_bytes(intact);
    {
        jet::Database db(intact);
        ASSERT_TRUE(make_index_unique(bytes, db, table_named(db, "Customers"), "City"))
            << "the City index of Customers was not found";
    }
    // What the rows say, read from the intact file: who lives where, who has orders.
    const auto before = column_values(intact, "Customers", {"CustomerID", "City"});
    std::set<std::string> ordering;
    for (const auto& v : column_values(intact, "Orders", {"CustomerID"})) ordering.insert(lower(text(v[0])));
    std::map<std::string, std::vector<std::string>> by_city;  // city -> customers, physical order
    size_t with_city = 0;
    for (const auto& v : before)
        if (!jet::is_null(v[1])) by_city[lower(text(v[1]))].push_back(text(v[0])), ++with_city;
    ASSERT_GE(by_city.count("paris"), 1u);
    ASSERT_EQ(by_city["paris"], (std::vector<std::string>{"PARIS", "SPECD"}));
    ASSERT_FALSE(ordering.count("paris"));
    ASSERT_TRUE(ordering.count("specd"));

    TempFolder folder;
    const fs::path database = folder / "Northwind.accdb";
    write_bytes(database, bytes);
    {
        jet::Database db(database);
        const jet::TableDef& customers = table_named(db, "Customers");
        for (const jet::LogicalIndex& li : customers.logical_indexes) {
            if (li.name == "City") {
                ASSERT_TRUE(jet::unique_real_index(customers, li.real_number));
            }
        }
    }
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    const size_t repeats = with_city - by_city.size();
    EXPECT_EQ(with_code(report, "IDX_UNIQUE_DUPLICATE").size(), repeats);
    expect_sound_repair(database, intact, bytes, report, /*may_lose_rows=*/false, {},
                        /*may_lose_tables=*/false, {{"Customers", repeats}});

    std::set<std::string> moved;
    for (const json& line : recovery_lines(report)) {
        EXPECT_EQ(line["tabla"], "Customers");
        moved.insert(line["valores"]["CustomerID"].get<std::string>());
    }
    EXPECT_EQ(moved.size(), repeats);
    EXPECT_TRUE(moved.count("PARIS"));
    EXPECT_FALSE(moved.count("SPECD"));
    // One customer per city stays, a referenced one wherever the city had one.
    std::map<std::string, std::string> staying;
    for (const auto& v : column_values(database, "Customers", {"CustomerID", "City"})) {
        if (jet::is_null(v[1])) continue;
        EXPECT_TRUE(staying.emplace(lower(text(v[1])), text(v[0])).second) << "city repeated: " << text(v[1]);
    }
    for (const auto& [city, members] : by_city) {
        ASSERT_TRUE(staying.count(city)) << city;
        const bool any_ordering = std::any_of(members.begin(), members.end(),
                                              [&](const std::string& c) { return ordering.count(lower(c)) > 0; });
        if (any_ordering) {
            EXPECT_TRUE(ordering.count(lower(staying[city]))) << city << " kept " << staying[city];
        } else {
            EXPECT_EQ(staying[city], members.front()) << city;
        }
    }
}

// Keys are compared as the check builds them, from the stored UTF-16 code units: two cities
// that differ only in an unpaired surrogate (which decodes to the same replacement
// character) are different keys, and neither row may be taken for a repeat.
TEST(UniqueKeyRepair, TextDifferingOnlyInUnpairedSurrogatesIsNoRepeat) {
    const fs::path intact = corpus_dir() / "efcore-jet/JetProviderExceptionTests/Northwind.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    std::vector<uint8_t> bytes = read_bytes(intact);
    {
        jet::Database db(intact);
        const jet::TableDef& customers = table_named(db, "Customers");
        ASSERT_TRUE(make_index_unique(bytes, db, customers, "City"));
        // "Bern" and "Graz" (stored as UTF-16, four units each) become B, D800, r, n and
        // B, D801, r, n: the same length, no other customer's city.
        const size_t city = column_named(customers, "City");
        const std::map<std::string, uint16_t> surrogate{{"Bern", 0xD800}, {"Graz", 0xD801}};
        size_t changed = 0;
        for (const StoredField& f : stored_fields(db, bytes, customers, "Customers", city)) {
            if (f.bytes.size() != 8) continue;
            std::string ascii;
            for (size_t i = 0; i < 8; i += 2) ascii += f.bytes[i + 1] == 0 ? char(f.bytes[i]) : '?';
            const auto it = surrogate.find(ascii);
            if (it == surrogate.end()) continue;
            const uint16_t units[4] = {'B', it->second, 'r', 'n'};
            for (size_t i = 0; i < 4; ++i) {
                bytes[f.offset + 2 * i] = uint8_t(units[i]);
                bytes[f.offset + 2 * i + 1] = uint8_t(units[i] >> 8);
            }
            ++changed;
        }
        ASSERT_EQ(changed, 2u) << "Bern and Graz not found";
    }
    TempFolder folder;
    const fs::path database = folder / "Northwind.accdb";
    write_bytes(database, bytes);
    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    ASSERT_FALSE(with_code(report, "IDX_UNIQUE_DUPLICATE").empty()) << "Paris and the other repeated cities";
    std::set<std::string> moved;
    for (const json& line : recovery_lines(report)) moved.insert(line["valores"]["CustomerID"].get<std::string>());
    EXPECT_EQ(moved.size(), with_code(report, "IDX_UNIQUE_DUPLICATE").size());
    EXPECT_FALSE(moved.count("CHOPS"));
    EXPECT_FALSE(moved.count("ERNSH"));
    std::set<std::string> staying;
    for (const auto& v : column_values(database, "Customers", {"CustomerID"})) staying.insert(text(v[0]));
    EXPECT_TRUE(staying.count("CHOPS") && staying.count("ERNSH"));
    EXPECT_TRUE(jet::check_database(database).findings.empty());
}

// ---- NULL keys ----

TEST(UniqueKeyRepair, RowsWhoseUniqueKeyIsNullAllStay) {
    // corrupted.accdb's UK rows both hold uk = 1; with uk made NULL in both, nothing repeats,
    // and the index rebuilt for the changed keys holds both rows.
    const fs::path intact = corpus_dir() / "ucanaccess/corrupted.accdb";
    if (!fs::exists(intact)) GTEST_SKIP() << "corpus file missing: " << intact;
    std::vector<uint8_t> bytes = read_bytes(intact);
    {
        jet::Database db(intact);
        const jet::TableDef& uk = table_named(db, "UK");
        const auto fields = stored_fields(db, bytes, uk, "UK", column_named(uk, "uk"));
        ASSERT_EQ(fields.size(), 2u);
        for (const StoredField& f : fields) bytes[f.null_byte] &= uint8_t(~f.null_bit);
    }
    TempFolder folder;
    const fs::path database = folder / "corrupted.accdb";
    write_bytes(database, bytes);
    const jet::Report found = jet::check_database(database);
    EXPECT_TRUE(with_code(found, "IDX_UNIQUE_DUPLICATE").empty());
    ASSERT_FALSE(found.clean()) << "the index still holds the old keys";

    jet::Report report;
    ASSERT_NO_THROW(report = jet::repair_database(database));
    for (const jet::Finding& f : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(f)) << f.code << ": " << f.description;
    EXPECT_TRUE(recovery_lines(report).empty());
    const auto rows = column_values(database, "UK", {"ID", "uk"});
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& v : rows) EXPECT_TRUE(jet::is_null(v[1]));
    EXPECT_TRUE(jet::repair_database(database).backup.empty()) << "a second repair rewrote the file";
}

}  // namespace
