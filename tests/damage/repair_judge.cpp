#include "repair_judge.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <future>

#include "temp_folder.h"

namespace fs = std::filesystem;

namespace damage {

std::string test_name(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
}

std::string format_family(const std::string& format) { return format.rfind("ACE", 0) == 0 ? "ACE" : format; }

std::size_t lines_in(const fs::path& path) {
    if (path.empty()) return 0;
    std::ifstream in(path);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

std::optional<std::string> why_unusable(const CorpusFile& file, bool needs_both_readers) {
    if (!fs::exists(file.path)) return "corpus file missing: " + file.path.string();
    if (needs_both_readers ? !have_both_readers() : !have_mdbtools())
        return needs_both_readers ? "mdbtools or mdb-reader not installed" : "mdbtools (mdb-tables, mdb-export) not installed";
    if (!intact_is_sound(file.path)) return "the corpus file itself has problems";
    return std::nullopt;
}

void expect_settled(const fs::path& database, const jet::Report& report, const std::vector<std::uint8_t>& damaged) {
    if (!report.backup.empty()) {
        EXPECT_EQ(read_bytes(report.backup), damaged) << "the backup must be the damaged file byte for byte";
    }
    for (const jet::Finding& f : jet::check_database(database).findings)
        EXPECT_TRUE(jet::tolerated(f)) << "left after repair: " << f.code << ": " << f.description << " (" << f.object
                                       << ")";
    const auto repaired = read_bytes(database);
    jet::Report second;
    EXPECT_NO_THROW(second = jet::repair_database(database));
    EXPECT_TRUE(second.backup.empty()) << "a second repair rewrote the file";
    for (const jet::Finding& f : second.findings)
        EXPECT_TRUE(jet::tolerated(f)) << "a second repair found " << f.code << ": " << f.description;
    EXPECT_EQ(read_bytes(database), repaired);
}

Readings read_with_both(const fs::path& file) {
    auto tools = std::async(std::launch::async, [&] { return read_with(Reader::Mdbtools, file); });
    Readings out;
    out[Reader::MdbReader] = read_with(Reader::MdbReader, file);
    out[Reader::Mdbtools] = tools.get();
    return out;
}

const Floor& Verdict::better() const {
    const Floor& a = floors.at(Reader::Mdbtools);
    const Floor& b = floors.at(Reader::MdbReader);
    return b.read >= a.read ? b : a;
}

Verdict expect_floors_kept(const fs::path& intact, const Readings& damaged, const Readings& repaired) {
    Verdict verdict;
    for (const auto& [reader, now] : repaired) {
        EXPECT_TRUE(now.whole()) << reader_name(reader) << " does not read the repaired file whole";
        verdict.whole_by_both = verdict.whole_by_both && now.whole();
        const Reading& before = intact_reading(reader, intact);
        const Floor floor = measure_floor(before, damaged.at(reader), now);
        std::string examples;
        for (const std::string& e : floor.examples) examples += "\n  " + e.substr(0, 160);
        EXPECT_EQ(floor.missing, 0u) << reader_name(reader) << " lost rows it read from the damaged file" << examples;
        EXPECT_EQ(floor.invented, 0u) << reader_name(reader) << " reads rows the intact file lacks" << examples;
        for (const auto& [table, rows] : now.tables)
            EXPECT_TRUE(before.tables.count(table)) << reader_name(reader) << " lists a table the intact file lacks: "
                                                    << table;
        verdict.floors[reader] = floor;
    }
    return verdict;
}

namespace {
class EndPrinter : public ::testing::Environment {
public:
    explicit EndPrinter(std::function<void()> print) : print_(std::move(print)) {}
    void TearDown() override { print_(); }

private:
    std::function<void()> print_;
};
}  // namespace

void print_at_end(std::function<void()> print) { ::testing::AddGlobalTestEnvironment(new EndPrinter(std::move(print))); }

}  // namespace damage
