// Opening files that cannot be examined, and reading damaged copies of real files:
// every damage must end in faults or an EngineError, never a crash or a hang.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "corpus.h"
#include "jet/format/data_page.h"
#include "jet/format/database.h"

namespace {

namespace fs = std::filesystem;

fs::path temp_dir() {
    fs::path dir = fs::path(::testing::TempDir()) / ("jet_engine_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir);
    return dir;
}

std::vector<uint8_t> read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::path p = temp_dir() / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
}

std::string open_error(const fs::path& p) {
    try {
        jet::Database db(p);
    } catch (const jet::EngineError& e) {
        return e.what();
    }
    return {};
}

TEST(DatabaseOpen, RefusesWhatCannotBeExaminedInSpanish) {
    EXPECT_NE(open_error(fs::path()).find("No se ha indicado"), std::string::npos);
    EXPECT_NE(open_error(temp_dir() / "no-existe.mdb").find("No se encuentra"), std::string::npos);
    EXPECT_NE(open_error(temp_dir()).find("es una carpeta"), std::string::npos);
    EXPECT_NE(open_error(write_file("vacio.mdb", {})).find("está vacío"), std::string::npos);
    std::string text = "esto no es una base de datos\n";
    EXPECT_NE(open_error(write_file("texto.mdb", std::vector<uint8_t>(text.begin(), text.end())))
                  .find("no es una base de datos"),
              std::string::npos);
    EXPECT_NE(open_error(write_file("ruido.mdb", std::vector<uint8_t>(10000, 0xA5))).find("no es una base de datos"),
              std::string::npos);
}

TEST(DatabaseOpen, RefusesTruncatedAndEncryptedCorpusFiles) {
    auto source = test::corpus_file("jackcess/V2000/test2V2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto bytes = read_all(source);
    bytes.resize(4096 + 100);
    EXPECT_NE(open_error(write_file("truncada.mdb", bytes)).find("está truncada"), std::string::npos);
    bytes.resize(3000);
    EXPECT_NE(open_error(write_file("truncada2.mdb", bytes)).find("está truncada"), std::string::npos);

    auto encrypted = test::corpus_file("tika/testAccess2_encrypted.accdb");
    REQUIRE_CORPUS_FILE(encrypted);
    auto message = open_error(encrypted);
    EXPECT_NE(message.find("está cifrada"), std::string::npos) << message;
    EXPECT_NE(message.find("testAccess2_encrypted.accdb"), std::string::npos);
}

struct Outcome {
    bool opened = false;
    size_t tables = 0, rows = 0;
    jet::Faults faults;
};

// Reads everything a dump reads, plus every system table.
Outcome exercise(const fs::path& p) {
    Outcome o;
    try {
        jet::Database db(p);
        o.opened = true;
        o.faults = db.file_faults();
        const auto& catalog = db.catalog();
        o.faults.insert(o.faults.end(), catalog.faults.begin(), catalog.faults.end());
        for (const auto& e : catalog.entries) {
            if (e.type != jet::object_type::table) continue;
            const auto& def = db.table_def(e.tdef_page());
            o.faults.insert(o.faults.end(), def.faults.begin(), def.faults.end());
            if (!def.table) continue;
            ++o.tables;
            db.scan_rows(*def.table, e.name, [&](const jet::RowLocation&, std::vector<jet::Value>&&) { ++o.rows; },
                         o.faults);
        }
    } catch (const jet::EngineError&) {
    }
    return o;
}


bool has_fault(const Outcome& o, jet::FaultKind kind) {
    return std::any_of(o.faults.begin(), o.faults.end(), [&](const jet::Fault& f) { return f.kind == kind; });
}

const char* const kHostileSources[] = {"jackcess/V1997/test2V1997.mdb", "jackcess/V2000/overflowTestV2000.mdb",
                                       "jackcess/V2010/test2V2010.accdb", "tika/testAccess2_2000.mdb"};

TEST(Hostile, IntactCorpusFilesReadWithoutFaults) {
    for (const char* name : kHostileSources) {
        auto source = test::corpus_file(name);
        REQUIRE_CORPUS_FILE(source);
        Outcome o = exercise(source);
        EXPECT_TRUE(o.opened) << name;
        EXPECT_GT(o.rows, 0u) << name;
        for (const auto& f : o.faults)
            ADD_FAILURE() << name << ": " << jet::fault_kind_name(f.kind) << " page " << f.page << " " << f.detail;
    }
}

TEST(Hostile, TruncatedFilesAtManyLengths) {
    for (const char* name : kHostileSources) {
        auto source = test::corpus_file(name);
        REQUIRE_CORPUS_FILE(source);
        const auto bytes = read_all(source);
        const size_t page = bytes[0x14] == 0 ? 2048 : 4096;
        for (size_t length : {page * 2, page * 2 + 1, page * 3 - 7, page * 5, bytes.size() / 2, bytes.size() - 1}) {
            auto cut = bytes;
            cut.resize(std::min(length, bytes.size()));
            Outcome o = exercise(write_file("cut.mdb", cut));
            EXPECT_TRUE(o.opened) << name << " cut at " << length;
            if (length % page) {
                EXPECT_TRUE(has_fault(o, jet::FaultKind::FileLengthNotPageMultiple)) << name << " cut at " << length;
            }
        }
    }
}

TEST(Hostile, EveryPageZeroedOrRandomised) {
    std::mt19937 random(20240607);
    for (const char* name : kHostileSources) {
        auto source = test::corpus_file(name);
        REQUIRE_CORPUS_FILE(source);
        const auto bytes = read_all(source);
        const size_t page = bytes[0x14] == 0 ? 2048 : 4096;
        const Outcome intact = exercise(source);
        for (size_t p = 1; p < bytes.size() / page; ++p) {
            auto zeroed = bytes;
            std::fill_n(zeroed.begin() + long(p * page), page, 0);
            Outcome o = exercise(write_file("zero.mdb", zeroed));
            EXPECT_TRUE(o.opened);
            EXPECT_LE(o.rows, intact.rows + 0) << name << " page " << p;

            auto noisy = bytes;
            for (size_t i = 0; i < page; ++i) noisy[p * page + i] = uint8_t(random());
            exercise(write_file("noise.mdb", noisy));

            // Keep the page type and owner so the page is still taken for a data page.
            auto scrambled = bytes;
            for (size_t i = 8; i < page; ++i) scrambled[p * page + i] = uint8_t(random());
            exercise(write_file("scrambled.mdb", scrambled));
        }
    }
}

TEST(Hostile, CatalogPageZeroedIsReportedNotFatal) {
    auto source = test::corpus_file("jackcess/V2000/test2V2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto bytes = read_all(source);
    std::fill_n(bytes.begin() + 2 * 4096, 4096, 0);
    Outcome o = exercise(write_file("catalog.mdb", bytes));
    EXPECT_TRUE(o.opened);
    EXPECT_TRUE(has_fault(o, jet::FaultKind::CatalogUnreadable));
}

TEST(Hostile, CyclicTableDefinitionChain) {
    auto source = test::corpus_file("jackcess/V2000/test2V2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto bytes = read_all(source);
    bytes[2 * 4096 + 4] = 2;  // MSysObjects' TDEF continues on itself
    Outcome o = exercise(write_file("tdef-cycle.mdb", bytes));
    EXPECT_TRUE(o.opened);
    EXPECT_TRUE(has_fault(o, jet::FaultKind::TableDefChainCycle));
    EXPECT_GT(o.rows, 0u);  // the definition itself is intact
}

// Applies f to every row slot of every page whose owner field satisfies pick.
template <typename Pick, typename F>
void for_each_slot(std::vector<uint8_t>& bytes, const jet::Layout& layout, Pick pick, F f) {
    for (size_t p = 1; p < bytes.size() / layout.page_size; ++p) {
        std::span<uint8_t> page(bytes.data() + p * layout.page_size, layout.page_size);
        jet::DataPage view(page, layout);
        if (!view.is_data_page() || !pick(view)) continue;
        for (uint16_t i = 0; i < view.row_count(); ++i) f(page, uint32_t(p), i, view.slot(i));
    }
}

TEST(Hostile, CyclicLongValueChainsAndOverflowPointers) {
    auto source = test::corpus_file("jackcess/V2000/test2V2000.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto bytes = read_all(source);
    const auto& layout = jet::kJet4Layout;
    // Every LVAL row's next pointer names the row itself.
    for_each_slot(bytes, layout, [](const jet::DataPage& v) { return v.is_lval(); },
                  [](std::span<uint8_t> page, uint32_t p, uint16_t i, const jet::RowSlot& s) {
                      if (!s.bounds_ok || s.length() < 4) return;
                      page[s.start] = uint8_t(i);
                      page[s.start + 1] = uint8_t(p);
                      page[s.start + 2] = uint8_t(p >> 8);
                      page[s.start + 3] = uint8_t(p >> 16);
                  });
    Outcome o = exercise(write_file("lv-cycle.mdb", bytes));
    EXPECT_TRUE(o.opened);
    EXPECT_GT(o.rows, 0u);
    EXPECT_TRUE(has_fault(o, jet::FaultKind::LongValueCycle));

    auto overflow_source = test::corpus_file("jackcess/V2000/overflowTestV2000.mdb");
    auto ov = read_all(overflow_source);
    int headers = 0;
    for_each_slot(ov, layout, [](const jet::DataPage& v) { return !v.is_lval() && v.owner() > 2; },
                  [&](std::span<uint8_t> page, uint32_t p, uint16_t i, const jet::RowSlot& s) {
                      if (!s.overflow() || s.deleted() || !s.bounds_ok || s.length() < 4) return;
                      ++headers;
                      page[s.start] = uint8_t(i);  // points at itself
                      page[s.start + 1] = uint8_t(p);
                      page[s.start + 2] = uint8_t(p >> 8);
                      page[s.start + 3] = uint8_t(p >> 16);
                  });
    ASSERT_GT(headers, 0);
    o = exercise(write_file("overflow-cycle.mdb", ov));
    EXPECT_TRUE(has_fault(o, jet::FaultKind::OverflowPointer));
}

TEST(Hostile, RowOffsetsPointingOutsideTheirPage) {
    auto source = test::corpus_file("jackcess/V1997/test2V1997.mdb");
    REQUIRE_CORPUS_FILE(source);
    auto bytes = read_all(source);
    const auto& layout = jet::kJet3Layout;
    std::mt19937 random(77);
    for_each_slot(bytes, layout, [](const jet::DataPage&) { return true; },
                  [&](std::span<uint8_t> page, uint32_t, uint16_t i, const jet::RowSlot&) {
                      uint16_t v = uint16_t(random());
                      page[layout.data_header_size + 2 * i] = uint8_t(v);
                      page[layout.data_header_size + 2 * i + 1] = uint8_t(v >> 8);
                  });
    Outcome o = exercise(write_file("offsets.mdb", bytes));
    EXPECT_TRUE(o.opened);
    EXPECT_FALSE(o.faults.empty());
}

}  // namespace

namespace {

// A calculated value as text: enough to tell each type's reading apart.
std::string calculated_text(const jet::Value& v) {
    if (auto b = std::get_if<bool>(&v)) return *b ? "true" : "false";
    if (auto c = std::get_if<jet::Currency>(&v)) return jet::format_currency(c->scaled);
    if (auto d = std::get_if<jet::Decimal>(&v)) return jet::format_decimal(*d);
    if (auto f = std::get_if<float>(&v)) return std::to_string(*f);
    if (auto s = std::get_if<std::string>(&v)) return *s;
    if (auto i = std::get_if<int32_t>(&v)) return std::to_string(*i);
    return "?";
}

}  // namespace

// Calculated columns read as their result types; the values are Jackcess's (CalcFieldTest).
TEST(CalculatedColumns, CorpusValuesAreTheResults) {
    auto source = test::corpus_file("jackcess/V2010/calcFieldTestV2010.accdb");
    REQUIRE_CORPUS_FILE(source);
    jet::Database db(source);
    const auto tables = db.user_tables();
    ASSERT_EQ(tables.size(), 1u);
    const auto& def = db.table_def(tables[0].tdef_page());
    ASSERT_TRUE(def.table);
    std::vector<std::vector<std::string>> rows;
    jet::Faults faults;
    db.scan_rows(*def.table, tables[0].name, [&](const jet::RowLocation&, std::vector<jet::Value>&& values) {
        std::vector<std::string> calculated;
        for (size_t k = 0; k < values.size(); ++k)
            if (def.table->columns[k].calculated()) calculated.push_back(calculated_text(values[k]));
        rows.push_back(std::move(calculated));
    }, faults);
    EXPECT_TRUE(faults.empty()) << faults.front().detail;
    ASSERT_EQ(rows.size(), 4u);
    // LastFirst, LastFirstLen, MonthlySalary, IsRich, AllNames (a memo), WeeklySalary,
    // SalaryTest, BoolTest, DecimalTest, FloatTest, BigNumTest.
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Wayne, Bruce", "12", "83333.3333", "true",
                                                 "Wayne, Bruce=Wayne, Bruce", "19230.7692307692", "1000000.0000",
                                                 "true", "50.325000", std::to_string(2583.2092f),
                                                 "56505085819.424791296572280180"}));
    EXPECT_EQ(rows[1][3], "false");
    EXPECT_EQ(rows[1][5], "-0.0192307692307692");
    EXPECT_EQ(rows[2][4], "Doe, John=Doe, John");  // held inline in the row
}
