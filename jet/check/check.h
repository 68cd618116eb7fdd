#pragma once
// The check: a fixed sequence of passes over one file (header, catalog, table definitions,
// rows and long values, page maps), each reporting problems from the central table
// (problems.h). Nothing here writes to the file. The public entry point is
// jet::check_database() in engine.h; this header is for the passes and their tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/base/progress.h"
#include "jet/base/report.h"
#include "jet/check/problems.h"

namespace jet {

class NativeFile;

// check_database() over a file already open, read through its handle (the repair holds
// the database exclusively and cannot open it again by path).
Report check_open_file(const NativeFile& file, Progress* progress = nullptr);

// Collects findings. A badly damaged file can repeat one problem on every row, so each
// code keeps at most `per_code_limit` findings; the rest are counted and summarised by one
// closing finding of the same code.
struct CheckEvent;  // jet/check/check_passes.h

class FindingSink {
public:
    explicit FindingSink(std::size_t per_code_limit = 500);

    void add(Problem p, Location where, std::initializer_list<std::string_view> args);
    // A finding made earlier, counted and kept as add() would.
    void add(Problem p, const Finding& finding);
    // While set, every finding added is also noted in `tap` (nullptr stops it).
    void set_tap(std::vector<CheckEvent>* tap) { tap_ = tap; }
    std::vector<CheckEvent>* tap() const { return tap_; }
    std::size_t count(Problem p) const { return counts_[static_cast<std::size_t>(p)]; }
    std::size_t total() const { return total_; }
    Report take();

private:
    std::size_t limit_;
    std::size_t total_ = 0;
    std::vector<std::size_t> counts_;
    Report report_;
    std::vector<CheckEvent>* tap_ = nullptr;
};

// Where the findings of the passes lie, always built the same way.
namespace object {
Location header();
Location file();  // the whole file (findings past the per-problem limit, summed up)
Location page(uint32_t number);
Location table(std::string_view name);
Location table(std::string_view name, uint32_t definition_page);
Location table_page(std::string_view table, uint32_t page);
Location table_row(std::string_view table, uint32_t page, int row);
Location index(std::string_view table, std::string_view index);
Location column(std::string_view table, std::string_view column);
}  // namespace object

std::string hex_byte(uint8_t value);
std::string hex_u16(uint16_t value);

}  // namespace jet
